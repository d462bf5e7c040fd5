#include "device/pager_imp.h"

#include <new>

Pager* CreatePagerImp(PMDatabaseSQLImp* owner) { return new (std::nothrow) PagerImp(owner); }

PagerImp::PagerImp(PMDatabaseSQLImp* owner) : owner_(owner) {}

bool PagerImp::SetRichContentEnabled(bool enabled) {
  record_.SetRichContentEnabled(enabled ? 1 : 0);
  pendingItems_.emplace_back(26, CachedValue(3, enabled ? 1 : 0, "RichContentEnabled"));
  return true;
}

bool PagerImp::SetRichContentInlineEnabled(bool enabled) {
  record_.SetRichContentInlineEnabled(enabled ? 1 : 0);
  pendingItems_.emplace_back(27, CachedValue(3, enabled ? 1 : 0, "RichContentInlineEnabled"));
  return true;
}

bool PagerImp::SetRichContentTrainingFileId(std::int32_t fileId) {
  record_.SetRichContentTrainingFileId(fileId);
  pendingItems_.emplace_back(28, CachedValue(3, static_cast<int>(fileId), "RichContentTrainingFileId"));
  return true;
}
