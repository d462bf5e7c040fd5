#include "foundation/guid_util.h"

bool GuidEquals(const GUID* a, const GUID* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return IsEqualGUID(*a, *b);
}
