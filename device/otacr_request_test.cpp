#include "device/otacr_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    if (hex[i] == ' ') {
      --i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::vector<std::uint8_t> Serialized(OTACRRequest& request) {
  std::uint32_t size = 0;
  const std::uint8_t* block = request.Serialize(&size);
  return std::vector<std::uint8_t>(block, block + size);
}

void SetBody(ByteBuffer& body, const std::vector<std::uint8_t>& bytes) {
  body.SetSize(0);
  body.Write(bytes.data(), static_cast<int>(bytes.size()));
}

std::vector<std::uint8_t> Contents(ByteBuffer& body) {
  return std::vector<std::uint8_t>(body.GetData(), body.GetData() + body.GetSize());
}

// A record of each layout with every carried member set to a value that
// shows byte order and sign: the blocks below were written out by hand.
void Fill(OTACRRequest& request, std::uint8_t kind) {
  request.SetKind(kind);
  request.SetFlags(0x81);
  request.SetValue1(0x01020304);
  request.SetSmall(7);
  request.SetValue4(-1);
  request.SetValue2(0x7FFFFFFF);
  request.SetValue3(static_cast<std::int32_t>(0x80000000u));
  SetBody(request.GetBody1(), {1, 2, 3});
  if (kind == 3) {
    request.SetName("ab");
    SetBody(request.GetBody2(), {9});
  }
}

const char kPolicyBlock[] =
    "81000000 2c000000 04030201 07000000 ffffffff ffffff7f 00000080 2f000000 03000000 32000000 01000000"
    "616200 010203 09";
const char kKeyBlock[] = "81000000 04030201 07000000 ffffffff ffffff7f 00000080 20000000 03000000 010203";

TEST(OTACRRequestTest, SerializesEachLayoutByteForByte) {
  const struct {
    std::uint8_t kind;
    const char* block;
  } cases[] = {{3, kPolicyBlock}, {9, kKeyBlock}, {0, kKeyBlock}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    OTACRRequest request;
    Fill(request, c.kind);
    EXPECT_EQ(Serialized(request), Bytes(c.block));

    OTACRRequest back;
    const std::vector<std::uint8_t> block = Bytes(c.block);
    ASSERT_TRUE(back.Parse(c.kind, block.data(), static_cast<std::uint32_t>(block.size())));
    EXPECT_TRUE(back.IsValid());
    EXPECT_EQ(back.GetKind(), c.kind);
    EXPECT_EQ(back.GetFlags(), 0x81);
    EXPECT_EQ(back.GetValue1(), 0x01020304);
    EXPECT_EQ(back.GetSmall(), 7);
    EXPECT_EQ(back.GetValue4(), -1);
    EXPECT_EQ(back.GetValue2(), 0x7FFFFFFF);
    EXPECT_EQ(back.GetValue3(), static_cast<std::int32_t>(0x80000000u));
    EXPECT_EQ(Contents(back.GetBody1()), (std::vector<std::uint8_t>{1, 2, 3}));
    if (c.kind == 3) {
      EXPECT_EQ(back.GetName(), "ab");
      EXPECT_EQ(Contents(back.GetBody2()), std::vector<std::uint8_t>{9});
    }
    EXPECT_EQ(Serialized(back), block) << "parse then serialise gives the block back";
  }
}

TEST(OTACRRequestTest, EmptyRecordsAreJustTheirHeaders) {
  OTACRRequest policy;
  policy.SetKind(3);
  EXPECT_EQ(Serialized(policy), Bytes("00000000 2c000000 00000000 00000000 00000000 00000000 00000000 2d000000 "
                                      "00000000 2d000000 00000000 00"));
  OTACRRequest key;
  key.SetKind(9);
  EXPECT_EQ(Serialized(key), Bytes("00000000 00000000 00000000 00000000 00000000 00000000 20000000 00000000"));
  std::uint32_t size = 0;
  EXPECT_NE(key.Serialize(nullptr), nullptr);
  key.Serialize(&size);
  EXPECT_EQ(size, 32u);
}

TEST(OTACRRequestTest, RefusesBlocksThatDoNotHoldWhatTheirHeaderSays) {
  for (const auto& [kind, hex] : {std::pair<std::uint8_t, const char*>{3, kPolicyBlock}, {9, kKeyBlock}}) {
    const std::vector<std::uint8_t> block = Bytes(hex);
    for (std::uint32_t cut = 0; cut < block.size(); ++cut) {
      SCOPED_TRACE(std::to_string(kind) + " cut at " + std::to_string(cut));
      // A copy of exactly `cut` bytes, so a read past it is caught.
      std::vector<std::uint8_t> prefix(block.begin(), block.begin() + cut);
      OTACRRequest request;
      EXPECT_FALSE(request.Parse(kind, prefix.empty() ? nullptr : prefix.data(), cut));
      EXPECT_FALSE(request.IsValid());
    }
  }

  auto patched = [](const char* hex, std::size_t at, std::uint32_t value) {
    std::vector<std::uint8_t> block = Bytes(hex);
    std::memcpy(block.data() + at, &value, 4);
    return block;
  };
  const struct {
    const char* name;
    std::uint8_t kind;
    std::vector<std::uint8_t> block;
  } cases[] = {
      {"name offset at the end", 3, patched(kPolicyBlock, 4, 51)},
      {"name without its zero byte", 3,
       [] {
         std::vector<std::uint8_t> block = Bytes(kPolicyBlock);
         std::fill(block.begin() + 44, block.end(), 'x');
         return block;
       }()},
      {"body 1 past the end", 3, patched(kPolicyBlock, 32, 5)},
      {"body 2 length wrapping round", 3, patched(kPolicyBlock, 40, 0xFFFFFFFFu)},
      {"body 2 offset wrapping round", 3, patched(kPolicyBlock, 36, 0xFFFFFFF0u)},
      {"body past the end", 9, patched(kKeyBlock, 28, 4)},
      {"body offset past the end", 9, patched(kKeyBlock, 24, 36)},
      {"body length wrapping round", 9, patched(kKeyBlock, 28, 0xFFFFFFFEu)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OTACRRequest request;
    EXPECT_FALSE(request.Parse(c.kind, c.block.data(), static_cast<std::uint32_t>(c.block.size())));
    EXPECT_FALSE(request.IsValid());
  }
}

TEST(OTACRRequestTest, NamesNetworkTypes) {
  const struct {
    int code;
    const char* name;
  } cases[] = {{0, "Unknown"}, {1, "Mobitex"}, {2, "DataTAC"}, {3, "GPRS"},    {4, "CDMA"},
               {5, "iDEN"},    {6, "WiFi"},    {7, "3G"},      {8, "Unknown"}, {-1, "Unknown"}};
  for (const auto& c : cases) EXPECT_EQ(GetNetworkTypeName(c.code), c.name) << c.code;
}

}  // namespace
