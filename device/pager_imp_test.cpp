#include "device/pager_imp.h"

#include <memory>

#include <gtest/gtest.h>

namespace {

TEST(PagerImpTest, ANewObjectBelongsToItsDatabaseWithUserIdZero) {
  auto* owner = reinterpret_cast<PMDatabase*>(0x1000);
  std::unique_ptr<Pager> pager(CreatePagerImp(owner));
  ASSERT_NE(pager, nullptr);
  auto* imp = static_cast<PagerImp*>(pager.get());
  EXPECT_EQ(imp->GetOwner(), owner);
  EXPECT_EQ(pager->GetUserId(), 0);
  EXPECT_EQ(imp->GetRecord().GetUserId(), 0);
  EXPECT_EQ(imp->GetRecord().GetPagerImp(), nullptr);
  EXPECT_FALSE(pager->IsTrashed());
  pager->SetUserId(17);
  EXPECT_EQ(pager->GetUserId(), 17);
  imp->SetTrashed(true);
  EXPECT_TRUE(pager->IsTrashed());
}

TEST(PagerImpTest, RichContentSettingsAreKeptAndQueuedForTheDatabase) {
  PagerImp pager(nullptr);
  EXPECT_TRUE(pager.SetRichContentEnabled(true));
  EXPECT_TRUE(pager.SetRichContentInlineEnabled(false));
  EXPECT_TRUE(pager.SetRichContentTrainingFileId(-3));
  EXPECT_EQ(pager.GetRecord().GetRichContentEnabled(), 1);
  EXPECT_EQ(pager.GetRecord().GetRichContentInlineEnabled(), 0);
  EXPECT_EQ(pager.GetRecord().GetRichContentTrainingFileId(), -3);

  const struct {
    int id;
    const char* column;
    int value;
  } expected[] = {
      {26, "RichContentEnabled", 1},
      {27, "RichContentInlineEnabled", 0},
      {28, "RichContentTrainingFileId", -3},
  };
  const CachedValueItemVector& items = pager.GetPendingItems();
  ASSERT_EQ(items.size(), 3u);
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(expected[i].id);
    EXPECT_EQ(items[i].id, expected[i].id);
    EXPECT_EQ(items[i].value.type, 3);
    EXPECT_EQ(items[i].value.column, expected[i].column);
    EXPECT_EQ(items[i].value.AsInt(), expected[i].value);
  }
}

}  // namespace
