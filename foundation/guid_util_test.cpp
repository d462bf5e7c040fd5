#include "foundation/guid_util.h"

#include <gtest/gtest.h>

namespace {

TEST(GuidUtilTest, EqualWhenEverySixteenBytesAreEqual) {
  const GUID base = {0x00000514, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
  EXPECT_TRUE(GuidEquals(&base, &base));
  GUID same = base;
  EXPECT_TRUE(GuidEquals(&base, &same));
  // A difference in any one byte makes the identifiers differ.
  for (int i = 0; i < 16; ++i) {
    SCOPED_TRACE(i);
    GUID other = base;
    reinterpret_cast<unsigned char*>(&other)[i] ^= 0x01;
    EXPECT_FALSE(GuidEquals(&base, &other));
  }
  EXPECT_FALSE(GuidEquals(&base, nullptr));
  EXPECT_FALSE(GuidEquals(nullptr, &base));
  EXPECT_TRUE(GuidEquals(nullptr, nullptr));
}

}  // namespace
