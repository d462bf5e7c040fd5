#include "foundation/byte_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> Bytes(const ByteBuffer& b) {
  const std::uint8_t* p = b.GetData();
  return p == nullptr ? std::vector<std::uint8_t>{}
                      : std::vector<std::uint8_t>(p, p + b.GetSize());
}

std::vector<std::uint8_t> Pattern(unsigned n) {
  std::vector<std::uint8_t> v(n);
  for (unsigned i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return v;
}

TEST(ByteBufferTest, ConstructionFromBytes) {
  const char text[] = "abc";
  struct Case {
    const char* name;
    const void* data;
    unsigned len;
    unsigned size;
    bool present;
  } cases[] = {
      {"copy", text, 3, 3, true},
      {"null data", nullptr, 3, 0, false},
      {"no bytes", text, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteBuffer b(c.data, c.len);
    EXPECT_EQ(b.GetSize(), c.size);
    EXPECT_EQ(b.GetPosition(), 0u);
    EXPECT_EQ(b.IsPresent(), c.present);
  }
}

TEST(ByteBufferTest, CopiesAreDeepAndStartAtZero) {
  ByteBuffer src("hello", 5);
  ASSERT_TRUE(src.Seek(0, 3));
  ByteBuffer copy(src);
  EXPECT_EQ(copy.GetPosition(), 0u);
  EXPECT_TRUE(copy.IsEqual("hello", 5));
  EXPECT_TRUE(copy.IsPresent());
  EXPECT_NE(copy.GetData(), src.GetData());

  ByteBuffer assigned("something longer", 16);
  assigned = src;
  EXPECT_TRUE(assigned.IsEqual("hello", 5));
  EXPECT_EQ(assigned.GetPosition(), 0u);

  // The modified flag travels with the bytes.
  ByteBuffer unwritten;
  assigned = unwritten;
  EXPECT_EQ(assigned.GetSize(), 0u);
  EXPECT_FALSE(assigned.IsPresent());
  ByteBuffer copyOfUnwritten(unwritten);
  EXPECT_FALSE(copyOfUnwritten.IsPresent());

  ByteBuffer& self = src;
  src = self;
  EXPECT_TRUE(src.IsEqual("hello", 5));
  EXPECT_EQ(src.GetPosition(), 3u);
}

TEST(ByteBufferTest, SeekStaysWithinTheValidBytes) {
  struct Case {
    int origin;
    int offset;
    bool ok;
    unsigned position;  // after the seek, starting from position 2
  } cases[] = {
      {0, 0, true, 0},   {0, 5, true, 5},   {0, 6, false, 2},
      {0, -1, false, 2}, {1, 3, true, 5},   {1, -2, true, 0},
      {1, 4, false, 2},  {1, -3, false, 2}, {2, 0, true, 5},
      {2, -5, true, 0},  {2, 1, false, 2},  {3, 0, false, 2},
      {-1, 0, false, 2}, {0, 0x7FFFFFFF, false, 2}, {1, -0x7FFFFFFF - 1, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "origin " << c.origin << " offset " << c.offset);
    ByteBuffer b("abcde", 5);
    ASSERT_TRUE(b.Seek(0, 2));
    EXPECT_EQ(b.Seek(c.origin, c.offset), c.ok);
    EXPECT_EQ(b.GetPosition(), c.position);
  }
  ByteBuffer b("abcde", 5);
  ASSERT_TRUE(b.Seek(2, 0));
  EXPECT_FALSE(b.Seek(1, 1));
}

TEST(ByteBufferTest, ReadsWhatRemainsAndStopsAtTheEnd) {
  ByteBuffer b("abcdef", 6);
  char out[8] = {};
  EXPECT_EQ(b.Read(out, 4), 4);
  EXPECT_EQ(std::string(out, 4), "abcd");
  EXPECT_EQ(b.Read(out, 8), 2);
  EXPECT_EQ(std::string(out, 2), "ef");
  EXPECT_EQ(b.Read(out, 1), 0);
  EXPECT_EQ(b.GetPosition(), 6u);

  ASSERT_TRUE(b.Seek(0, 0));
  EXPECT_EQ(b.Read(out, -1), 0);
  EXPECT_EQ(b.Read(nullptr, 3), 0);
  EXPECT_EQ(b.GetPosition(), 0u);

  std::uint8_t u = 0;
  char c = 0;
  EXPECT_TRUE(b.ReadByte(&u));
  EXPECT_TRUE(b.ReadByte(&c));
  EXPECT_EQ(u, 'a');
  EXPECT_EQ(c, 'b');
  ASSERT_TRUE(b.Seek(2, 0));
  EXPECT_FALSE(b.ReadByte(&u));

  ByteBuffer empty;
  EXPECT_EQ(empty.Read(out, 4), 0);
  EXPECT_FALSE(empty.ReadByte(&c));
}

TEST(ByteBufferTest, WritesOverwriteAtThePositionAndExtendTheSize) {
  ByteBuffer b;
  EXPECT_EQ(b.Write("abcdef", 6), 6);
  EXPECT_TRUE(b.IsPresent());
  ASSERT_TRUE(b.Seek(0, 2));
  EXPECT_EQ(b.Write("XY", 2), 2);
  EXPECT_TRUE(b.IsEqual("abXYef", 6));
  EXPECT_EQ(b.GetPosition(), 4u);
  ASSERT_TRUE(b.Seek(2, -1));
  EXPECT_EQ(b.Write("123", 3), 3);
  EXPECT_TRUE(b.IsEqual("abXYe123", 8));
  b.WriteByte('!');
  EXPECT_TRUE(b.WriteString("zz"));
  EXPECT_TRUE(b.IsEqual("abXYe123!zz", 11));

  EXPECT_EQ(b.Write("x", -1), 0);
  EXPECT_EQ(b.Write(nullptr, 2), 0);
  EXPECT_FALSE(b.WriteString(nullptr));
  EXPECT_TRUE(b.WriteString(""));
  EXPECT_EQ(b.GetSize(), 11u);
}

TEST(ByteBufferTest, WritesItsOwnBytesAcrossGrowth) {
  const std::vector<std::uint8_t> data = Pattern(1500);
  ByteBuffer b(data.data(), 1500);
  ASSERT_TRUE(b.Seek(2, 0));
  // Growth replaces the block the bytes are read from.
  ASSERT_EQ(b.Write(b.GetData(), 1500), 1500);
  std::vector<std::uint8_t> twice = data;
  twice.insert(twice.end(), data.begin(), data.end());
  EXPECT_EQ(Bytes(b), twice);

  // Overlapping ranges within the block.
  ByteBuffer shift("abcdef", 6);
  ASSERT_TRUE(shift.Seek(0, 1));
  ASSERT_EQ(shift.Write(shift.GetData(), 4), 4);
  EXPECT_TRUE(shift.IsEqual("aabcdf", 6));
}

TEST(ByteBufferTest, LargeWritesKeepEveryByte) {
  const std::vector<std::uint8_t> data = Pattern(5000);
  ByteBuffer b;
  for (unsigned off = 0; off < data.size(); off += 1000) {
    ASSERT_EQ(b.Write(data.data() + off, 1000), 1000);
  }
  EXPECT_EQ(Bytes(b), data);
}

TEST(ByteBufferTest, GrowthThatWouldPassTheLimitFailsWithoutChange) {
  ByteBuffer b("abc", 3);
  // Each of these once wrapped around 32 bits into a small block.
  for (unsigned n : {0xFFFFFFFFu, 0xFFFFFC00u, 0x80000000u, 0x7FFFFFFFu, 0x7FFFFC00u}) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(b.Reserve(n));
    EXPECT_TRUE(b.IsEqual("abc", 3));
  }
  EXPECT_FALSE(b.Reallocate(0x80000000u));
  EXPECT_FALSE(b.SetSize(-1));
  EXPECT_TRUE(b.IsEqual("abc", 3));
  EXPECT_TRUE(b.Reserve(2));
}

TEST(ByteBufferTest, SetSizeGrowsWithZerosShrinksAndEmpties) {
  ByteBuffer b("abcdef", 6);
  ASSERT_TRUE(b.Seek(2, 0));
  ASSERT_TRUE(b.SetSize(8));
  EXPECT_EQ(Bytes(b), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 'e', 'f', 0, 0}));
  EXPECT_EQ(b.GetPosition(), 6u);

  ASSERT_TRUE(b.SetSize(3));
  EXPECT_TRUE(b.IsEqual("abc", 3));
  EXPECT_EQ(b.GetPosition(), 3u);

  ASSERT_TRUE(b.SetSize(0));
  EXPECT_EQ(b.GetSize(), 0u);
  EXPECT_EQ(b.GetPosition(), 0u);
  EXPECT_EQ(b.GetData(), nullptr);
  EXPECT_FALSE(b.IsPresent());

  ByteBuffer fresh;
  ASSERT_TRUE(fresh.SetSize(4));
  EXPECT_TRUE(fresh.IsPresent());
  EXPECT_EQ(Bytes(fresh), std::vector<std::uint8_t>(4, 0));
}

TEST(ByteBufferTest, ReallocateBelowTheSizeCutsSizeAndPosition) {
  ByteBuffer b("abcdef", 6);
  ASSERT_TRUE(b.Seek(2, 0));
  ASSERT_TRUE(b.Reallocate(4));
  EXPECT_TRUE(b.IsEqual("abcd", 4));
  EXPECT_EQ(b.GetPosition(), 4u);
  char out[8];
  EXPECT_EQ(b.Read(out, 8), 0);
  ASSERT_TRUE(b.Reallocate(0));
  EXPECT_EQ(b.GetSize(), 0u);
  EXPECT_EQ(b.Write("x", 1), 1);
  EXPECT_TRUE(b.IsEqual("x", 1));
}

TEST(ByteBufferTest, CopyToMovesBytesFromThePosition) {
  const std::vector<std::uint8_t> data = Pattern(1200);
  struct Case {
    const char* name;
    int len;
    unsigned copied;
  } cases[] = {
      {"all that remain", -1, 1190},
      {"more than remain", 5000, 1190},
      {"part", 600, 600},
      {"none", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteBuffer src(data.data(), 1200);
    ASSERT_TRUE(src.Seek(0, 10));
    ByteBuffer dst("head", 4);
    ASSERT_TRUE(dst.Seek(0, 2));
    ASSERT_TRUE(src.CopyTo(&dst, c.len));
    EXPECT_EQ(src.GetPosition(), 10 + c.copied);
    EXPECT_EQ(dst.GetPosition(), 2 + c.copied);
    // Written over dst from its position on, extending it where needed.
    std::vector<std::uint8_t> expected = {'h', 'e', 'a', 'd'};
    expected.resize(std::max<std::size_t>(4, 2 + c.copied));
    std::copy(data.begin() + 10, data.begin() + 10 + c.copied, expected.begin() + 2);
    EXPECT_EQ(Bytes(dst), expected);
  }
  ByteBuffer src("ab", 2);
  EXPECT_FALSE(src.CopyTo(nullptr, -1));
}

TEST(ByteBufferTest, CopyOutGivesAFreshBlock) {
  struct Case {
    unsigned asked;
    unsigned given;
  } cases[] = {{0, 5}, {3, 3}, {5, 5}, {9, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    ByteBuffer b("hello", 5);
    std::uint8_t* out = nullptr;
    unsigned len = c.asked;
    ASSERT_TRUE(b.CopyOut(&out, &len));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(len, c.given);
    EXPECT_EQ(std::memcmp(out, "hello", len), 0);
    std::free(out);
  }
  ByteBuffer empty;
  std::uint8_t* out = nullptr;
  unsigned len = 4;
  ASSERT_TRUE(empty.CopyOut(&out, &len));
  EXPECT_EQ(len, 0u);
  std::free(out);
  EXPECT_FALSE(empty.CopyOut(nullptr, &len));
  EXPECT_FALSE(empty.CopyOut(&out, nullptr));
}

TEST(ByteBufferTest, IsEqualComparesSizeAndBytes) {
  ByteBuffer b("abc", 3);
  EXPECT_TRUE(b.IsEqual("abc", 3));
  EXPECT_FALSE(b.IsEqual("abd", 3));
  EXPECT_FALSE(b.IsEqual("ab", 2));
  EXPECT_FALSE(b.IsEqual("abcd", 4));
  EXPECT_FALSE(b.IsEqual(nullptr, 3));
  ByteBuffer empty;
  EXPECT_TRUE(empty.IsEqual(nullptr, 0));
  EXPECT_FALSE(empty.IsEqual("a", 1));
}

TEST(ByteBufferTest, WipeZerosTheBytesButKeepsTheSize) {
  ByteBuffer b("secret", 6);
  ASSERT_TRUE(b.Seek(0, 3));
  b.Wipe();
  EXPECT_EQ(Bytes(b), std::vector<std::uint8_t>(6, 0));
  EXPECT_EQ(b.GetPosition(), 3u);
}

}  // namespace
