#include "foundation/formatted_stream.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Contents(const ByteBuffer& b) {
  const std::uint8_t* p = b.GetData();
  return p == nullptr ? Bytes{} : Bytes(p, p + b.GetSize());
}

// A buffer holding bytes, rewound.
ByteBuffer Buffer(const Bytes& bytes) { return ByteBuffer(bytes.data(), bytes.size()); }

struct VarIntCase {
  int value;
  Bytes encoding;
};

const VarIntCase kVarInts[] = {
    {0, {0x00}},
    {1, {0x01}},
    {127, {0x7F}},
    {128, {0x81, 0x00}},
    {300, {0x82, 0x2C}},
    {(1 << 14) - 1, {0xFF, 0x7F}},
    {1 << 14, {0x81, 0x80, 0x00}},
    {(1 << 21) - 1, {0xFF, 0xFF, 0x7F}},
    {1 << 21, {0x81, 0x80, 0x80, 0x00}},
    {(1 << 28) - 1, {0xFF, 0xFF, 0xFF, 0x7F}},
    {1 << 28, {0x81, 0x80, 0x80, 0x80, 0x00}},
    {0x00FFFFFF, {0x87, 0xFF, 0xFF, 0x7F}},
    {0x7FFFFFFF, {0x87, 0xFF, 0xFF, 0xFF, 0x7F}},
};

TEST(FormattedStreamTest, VarIntsEncodeMostSignificantGroupFirst) {
  for (const VarIntCase& c : kVarInts) {
    SCOPED_TRACE(c.value);
    ByteBuffer buffer;
    FormattedStream out(&buffer, nullptr);
    ASSERT_TRUE(out.WriteVarInt(c.value));
    EXPECT_EQ(Contents(buffer), c.encoding);

    ASSERT_TRUE(buffer.Seek(0, 0));
    int value = -1;
    ASSERT_TRUE(out.ReadVarInt(&value));
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(buffer.GetPosition(), buffer.GetSize());
  }
}

TEST(FormattedStreamTest, IntFieldsCarryTheLengthOfTheirVarInt) {
  for (const VarIntCase& c : kVarInts) {
    SCOPED_TRACE(c.value);
    ByteBuffer buffer;
    FormattedStream out(&buffer, nullptr);
    ASSERT_TRUE(out.WriteIntField(c.value));
    Bytes expected = {static_cast<std::uint8_t>(c.encoding.size())};
    expected.insert(expected.end(), c.encoding.begin(), c.encoding.end());
    EXPECT_EQ(Contents(buffer), expected);

    ASSERT_TRUE(buffer.Seek(0, 0));
    int value = -1;
    ASSERT_TRUE(out.ReadIntField(&value));
    EXPECT_EQ(value, c.value);
  }
}

TEST(FormattedStreamTest, NegativeValuesAreNotWritten) {
  ByteBuffer buffer;
  FormattedStream out(&buffer, nullptr);
  EXPECT_FALSE(out.WriteVarInt(-1));
  EXPECT_FALSE(out.WriteLength(-5));
  EXPECT_FALSE(out.WriteIntField(-0x7FFFFFFF - 1));
  EXPECT_FALSE(out.WriteTaggedInt(5, -1));
  EXPECT_EQ(buffer.GetSize(), 0u);
}

TEST(FormattedStreamTest, EveryTruncatedVarIntFails) {
  for (const VarIntCase& c : kVarInts) {
    for (std::size_t cut = 0; cut < c.encoding.size(); ++cut) {
      SCOPED_TRACE(testing::Message() << c.value << " cut to " << cut);
      ByteBuffer buffer = Buffer(Bytes(c.encoding.begin(), c.encoding.begin() + cut));
      FormattedStream in(&buffer, nullptr);
      int value = 0;
      EXPECT_FALSE(in.ReadVarInt(&value));
    }
  }
}

TEST(FormattedStreamTest, VarIntReadingAcceptsOnly31BitValues) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool ok;
    int value;
  } cases[] = {
      {"leading zero groups", {0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, true, 1},
      {"many leading zero groups", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x87, 0xFF, 0xFF, 0xFF, 0x7F},
       true, 0x7FFFFFFF},
      {"bit 24 set before the last byte", {0x88, 0x80, 0x80, 0x80, 0x00}, false, 0},
      {"32-bit maximum", {0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, false, 0},
      {"2^32, wraps to 0 in 32 bits", {0x90, 0x80, 0x80, 0x80, 0x00}, false, 0},
      {"2^35, wraps to 0 in 32 bits", {0x81, 0x80, 0x80, 0x80, 0x80, 0x00}, false, 0},
      {"2^36 + 1, wraps to 1 in 32 bits", {0x82, 0x80, 0x80, 0x80, 0x80, 0x01}, false, 0},
      {"2^38, bit 24 clear in 32 bits", {0x88, 0x80, 0x80, 0x80, 0x80, 0x00}, false, 0},
      {"endless continuation", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ByteBuffer buffer = Buffer(c.bytes);
    FormattedStream in(&buffer, nullptr);
    int value = -1;
    EXPECT_EQ(in.ReadVarInt(&value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(FormattedStreamTest, LengthsMustFitTheBytesThatFollow) {
  struct Case {
    Bytes bytes;
    bool ok;
  } cases[] = {
      {{0x00}, true},
      {{0x03, 'a', 'b', 'c'}, true},
      {{0x03, 'a', 'b'}, false},
      {{0x81, 0x00, 'a'}, false},
      {{0x87, 0xFF, 0xFF, 0xFF, 0x7F}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "first byte " << int{c.bytes[0]} << ", "
                                    << c.bytes.size() << " bytes");
    ByteBuffer buffer = Buffer(c.bytes);
    FormattedStream in(&buffer, nullptr);
    int len = -1;
    EXPECT_EQ(in.ReadLength(&len), c.ok);
    ASSERT_TRUE(buffer.Seek(0, 0));
    ByteBuffer out("keep", 4);
    EXPECT_EQ(in.ReadBufferField(&out, &len), c.ok);
    if (!c.ok) {
      // Nothing was copied from a field that does not fit.
      EXPECT_TRUE(out.IsEqual("keep", 4));
    }
    ASSERT_TRUE(buffer.Seek(0, 0));
    EXPECT_EQ(in.SkipField(), c.ok);
    if (c.ok) {
      EXPECT_EQ(buffer.GetPosition(), buffer.GetSize());
    }
  }
}

TEST(FormattedStreamTest, RecordRoundTripSkipsUnknownFields) {
  const Bytes blob = {0x00, 0xFF, 0x10, 0x80};
  ByteBuffer source(blob.data(), blob.size());
  ByteBuffer big;
  for (int i = 0; i < 1500; ++i) big.WriteByte(static_cast<std::uint8_t>(i));
  ASSERT_TRUE(big.Seek(0, 0));

  ByteBuffer record;
  FormattedStream out(&record, nullptr);
  ASSERT_TRUE(out.WriteTaggedInt(5, 300));
  ASSERT_TRUE(out.WriteTaggedBuffer(99, &big, 1500));
  ASSERT_TRUE(out.WriteTaggedBuffer(2, &source, 4));
  ASSERT_TRUE(out.WriteTaggedInt(9, 0));
  ASSERT_TRUE(out.WriteTaggedBuffer(1, &source, 0));

  const Bytes head = {0x05, 0x02, 0x82, 0x2C, 0x63, 0x8B, 0x5C};
  EXPECT_EQ(Bytes(record.GetData(), record.GetData() + head.size()), head);
  EXPECT_EQ(record.GetSize(), head.size() + 1500 + 6 + 3 + 2);

  ASSERT_TRUE(out.Seek(0, 0));
  int number = -1, error = -1;
  ByteBuffer key, profile("old", 3);
  std::uint8_t tag;
  std::vector<int> seen;
  while (out.ReadByte(&tag)) {
    seen.push_back(tag);
    int len = -1;
    switch (tag) {
      case 5: ASSERT_TRUE(out.ReadIntField(&number)); break;
      case 9: ASSERT_TRUE(out.ReadIntField(&error)); break;
      case 2: ASSERT_TRUE(out.ReadBufferField(&key, &len)); EXPECT_EQ(len, 4); break;
      case 1: ASSERT_TRUE(out.ReadBufferField(&profile, &len)); EXPECT_EQ(len, 0); break;
      default: ASSERT_TRUE(out.SkipField()); break;
    }
  }
  EXPECT_EQ(seen, (std::vector<int>{5, 99, 2, 9, 1}));
  EXPECT_EQ(number, 300);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(Contents(key), blob);
  EXPECT_EQ(key.GetPosition(), 0u);
  EXPECT_TRUE(profile.IsEqual("old", 3));
  EXPECT_EQ(profile.GetPosition(), 0u);
}

TEST(FormattedStreamTest, BufferFieldsTakeBytesFromTheSourcePosition) {
  ByteBuffer source("abcdef", 6);
  ASSERT_TRUE(source.Seek(0, 2));
  ByteBuffer record;
  FormattedStream out(&record, nullptr);
  ASSERT_TRUE(out.WriteBufferField(&source, 3));
  EXPECT_EQ(Contents(record), (Bytes{0x03, 'c', 'd', 'e'}));
  EXPECT_EQ(source.GetPosition(), 5u);

  // A field may not claim more bytes than the source still holds: the
  // record would otherwise carry a length its bytes do not fill.
  EXPECT_FALSE(out.WriteBufferField(&source, 2));
  EXPECT_FALSE(out.WriteTaggedBuffer(7, &source, 2));
  EXPECT_FALSE(out.WriteBufferField(&source, -1));
  EXPECT_FALSE(out.WriteBufferField(nullptr, 0));
  EXPECT_EQ(record.GetSize(), 4u);

  ASSERT_TRUE(source.Seek(0, 1));
  ASSERT_TRUE(out.WriteFromBuffer(&source, -1));
  EXPECT_EQ(Contents(record), (Bytes{0x03, 'c', 'd', 'e', 'b', 'c', 'd', 'e', 'f'}));
  ASSERT_TRUE(out.WriteBytes("xy", 2));
  ASSERT_TRUE(out.WriteByte('z'));
  EXPECT_EQ(record.GetSize(), 12u);
}

TEST(FormattedStreamTest, ReadIntoBufferNeedsAllItsBytes) {
  ByteBuffer buffer("abcdef", 6);
  FormattedStream in(&buffer, nullptr);
  ASSERT_TRUE(in.Seek(0, 1));
  ByteBuffer out;
  ASSERT_TRUE(in.ReadIntoBuffer(&out, 3));
  EXPECT_TRUE(out.IsEqual("bcd", 3));
  EXPECT_EQ(out.GetPosition(), 0u);

  ByteBuffer untouched;
  EXPECT_FALSE(in.ReadIntoBuffer(&untouched, 3));
  EXPECT_FALSE(in.ReadIntoBuffer(&untouched, -1));
  EXPECT_EQ(untouched.GetSize(), 0u);
  EXPECT_EQ(buffer.GetPosition(), 4u);
  EXPECT_TRUE(in.ReadIntoBuffer(&untouched, 2));
  EXPECT_TRUE(untouched.IsEqual("ef", 2));
}

TEST(FormattedStreamTest, WithoutAStreamEverythingFails) {
  FormattedStream none(nullptr, nullptr);
  ByteBuffer src("ab", 2), out;
  int value;
  std::uint8_t tag;
  EXPECT_FALSE(none.WriteByte(1));
  EXPECT_FALSE(none.WriteVarInt(1));
  EXPECT_FALSE(none.WriteTaggedBuffer(1, &src, 2));
  EXPECT_FALSE(none.WriteFromBuffer(&src, -1));
  EXPECT_FALSE(none.ReadByte(&tag));
  EXPECT_FALSE(none.ReadIntField(&value));
  EXPECT_FALSE(none.ReadBufferField(&out, &value));
  EXPECT_FALSE(none.ReadIntoBuffer(&out, 0));
  EXPECT_FALSE(none.SkipField());
  EXPECT_FALSE(none.Seek(0, 0));
  EXPECT_EQ(src.GetPosition(), 0u);
}

TEST(FormattedStreamTest, KeepsItsOwnCopyOfTheCapabilities) {
  struct Case {
    Bytes caps;
    bool nibble0;
    bool nibble1;
  } cases[] = {
      {{}, false, false},
      {{0x10}, true, false},
      {{0x21}, false, true},
      {{0x22, 0x00, 0xF1}, true, true},
      {{0x02, 0x12, 0xFF}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caps.size());
    ByteBuffer caps = Buffer(c.caps);
    ByteBuffer stream;
    FormattedStream s(&stream, &caps);
    caps.Wipe();
    EXPECT_EQ(s.HasNibble0(), c.nibble0);
    EXPECT_EQ(s.HasNibble1(), c.nibble1);
    ASSERT_NE(s.GetCaps(), nullptr);
    EXPECT_EQ(Contents(*s.GetCaps()), c.caps);
  }
  ByteBuffer stream;
  FormattedStream s(&stream, nullptr);
  EXPECT_EQ(s.GetCaps(), nullptr);
  EXPECT_FALSE(s.HasNibble0());
}

}  // namespace
