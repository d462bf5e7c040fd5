#include "device/otacr_request.h"

#include <cstring>

namespace {

void PutU32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetU32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// Whether [offset, offset + length) lies inside a block of `size` bytes.
bool Inside(std::uint32_t offset, std::uint32_t length, std::uint32_t size) {
  return static_cast<std::uint64_t>(offset) + length <= size;
}

// Replaces `body` by `length` bytes of the block from `offset`.
void CopyBody(ByteBuffer& body, const std::uint8_t* block, std::uint32_t offset, std::uint32_t length) {
  body.SetSize(0);
  if (length != 0) {
    body.Write(block + offset, static_cast<int>(length));
    body.Seek(0, 0);
  }
}

}  // namespace

const std::uint8_t* OTACRRequest::Serialize(std::uint32_t* size) {
  block_.SetSize(0);
  const std::uint32_t body1 = Body1.GetSize();
  std::uint32_t total;
  if (Kind == 3) {
    const auto nameLength = static_cast<std::uint32_t>(Name.size());
    const std::uint32_t body2 = Body2.GetSize();
    total = kPolicyHeaderSize + 1 + nameLength + body1 + body2;
    if (!block_.SetSize(static_cast<int>(total))) return nullptr;
    std::uint8_t* b = block_.GetData();
    b[0] = Flags;
    PutU32(b + 4, kPolicyHeaderSize);
    PutU32(b + 8, static_cast<std::uint32_t>(Value1));
    b[12] = Small;
    PutU32(b + 16, static_cast<std::uint32_t>(Value4));
    PutU32(b + 20, static_cast<std::uint32_t>(Value2));
    PutU32(b + 24, static_cast<std::uint32_t>(Value3));
    const std::uint32_t body1Offset = kPolicyHeaderSize + 1 + nameLength;
    PutU32(b + 28, body1Offset);
    PutU32(b + 32, body1);
    PutU32(b + 36, body1Offset + body1);
    PutU32(b + 40, body2);
    if (nameLength != 0) std::memcpy(b + kPolicyHeaderSize, Name.data(), nameLength);
    if (body1 != 0) std::memcpy(b + body1Offset, Body1.GetData(), body1);
    if (body2 != 0) std::memcpy(b + body1Offset + body1, Body2.GetData(), body2);
  } else {
    total = kOtherHeaderSize + body1;
    if (!block_.SetSize(static_cast<int>(total))) return nullptr;
    std::uint8_t* b = block_.GetData();
    b[0] = Flags;
    PutU32(b + 4, static_cast<std::uint32_t>(Value1));
    b[8] = Small;
    PutU32(b + 12, static_cast<std::uint32_t>(Value4));
    PutU32(b + 16, static_cast<std::uint32_t>(Value2));
    PutU32(b + 20, static_cast<std::uint32_t>(Value3));
    PutU32(b + 24, kOtherHeaderSize);
    PutU32(b + 28, body1);
    if (body1 != 0) std::memcpy(b + kOtherHeaderSize, Body1.GetData(), body1);
  }
  if (size != nullptr) *size = total;
  return block_.GetData();
}

bool OTACRRequest::Parse(std::uint8_t kind, const void* block, std::uint32_t size) {
  Valid = false;
  block_.SetSize(0);
  Body1.SetSize(0);
  const auto* b = static_cast<const std::uint8_t*>(block);
  if (kind == 3) {
    Body2.SetSize(0);
    if (b == nullptr || size < kPolicyHeaderSize) return false;
    Kind = 3;
    Flags = b[0];
    Value1 = static_cast<std::int32_t>(GetU32(b + 8));
    Small = b[12];
    Value4 = static_cast<std::int32_t>(GetU32(b + 16));
    Value2 = static_cast<std::int32_t>(GetU32(b + 20));
    Value3 = static_cast<std::int32_t>(GetU32(b + 24));
    const std::uint32_t nameOffset = GetU32(b + 4);
    const std::uint32_t body1Offset = GetU32(b + 28);
    const std::uint32_t body1 = GetU32(b + 32);
    const std::uint32_t body2Offset = GetU32(b + 36);
    const std::uint32_t body2 = GetU32(b + 40);
    if (nameOffset >= size || !Inside(body2Offset, body2, size) || !Inside(body1Offset, body1, size)) return false;
    const void* end = std::memchr(b + nameOffset, 0, size - nameOffset);
    if (end == nullptr) return false;
    Name.assign(reinterpret_cast<const char*>(b + nameOffset),
                static_cast<const std::uint8_t*>(end) - (b + nameOffset));
    CopyBody(Body1, b, body1Offset, body1);
    CopyBody(Body2, b, body2Offset, body2);
  } else {
    if (b == nullptr || size < kOtherHeaderSize) return false;
    Kind = kind;
    Flags = b[0];
    Value1 = static_cast<std::int32_t>(GetU32(b + 4));
    Small = b[8];
    Value4 = static_cast<std::int32_t>(GetU32(b + 12));
    Value2 = static_cast<std::int32_t>(GetU32(b + 16));
    Value3 = static_cast<std::int32_t>(GetU32(b + 20));
    const std::uint32_t bodyOffset = GetU32(b + 24);
    const std::uint32_t body = GetU32(b + 28);
    if (bodyOffset > size || !Inside(bodyOffset, body, size)) return false;
    CopyBody(Body1, b, bodyOffset, body);
  }
  Valid = true;
  return true;
}

std::string GetNetworkTypeName(int code) {
  static constexpr const char* kNames[] = {"Mobitex", "DataTAC", "GPRS", "CDMA", "iDEN", "WiFi", "3G"};
  return code >= 1 && code <= 7 ? kNames[code - 1] : "Unknown";
}
