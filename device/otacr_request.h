// OTACRRequest: a small typed record that travels as one flat byte block:
// in the device's configuration message and, through the configuration
// database's typed-blob operations, as a user's policy blob (kind 3) or
// peer-to-peer key blob (kind 9). The record's kind picks the block layout
// and is not itself stored in the block; the reader is told it.
//
// Block of kind 3 (integers little-endian, offsets from the block start):
//
//   0  1  Flags           12  1  Small           28  4  offset of Body1 (45 + n)
//   1  3  zero            13  3  zero            32  4  length of Body1
//   4  4  name offset 44  16  4  Value4          36  4  offset of Body2
//   8  4  Value1          20  4  Value2          40  4  length of Body2
//                         24  4  Value3          44  n  Name, then one zero byte
//   45 + n: the Body1 bytes, then the Body2 bytes
//
// Block of every other kind:
//
//   0  1  Flags            8  1  Small           20  4  Value3
//   1  3  zero             9  3  zero            24  4  offset of Body1 (32)
//   4  4  Value1          12  4  Value4          28  4  length of Body1
//                         16  4  Value2          32  n  Body1
//
// Parse reads every offset and length from the block and refuses a block
// that is shorter than its header, whose name has no terminating zero inside
// the block, or whose bodies would end beyond it; nothing is read outside
// the block. The meaning of the header values belongs to the programs that
// build these records; this system only carries them.
//
// Not thread-safe: a record belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/byte_buffer.h"

class OTACRRequest {
 public:
  // Header sizes of the two layouts.
  static constexpr std::uint32_t kPolicyHeaderSize = 44;
  static constexpr std::uint32_t kOtherHeaderSize = 32;

  OTACRRequest() = default;
  OTACRRequest(const OTACRRequest&) = delete;
  OTACRRequest& operator=(const OTACRRequest&) = delete;

  // The block built from the members (kind 3 or the other layout), owned by
  // the record until the next Serialize, the next Parse or its end; its
  // size in *size when size is not null. Null only when memory runs out.
  const std::uint8_t* Serialize(std::uint32_t* size);
  // Fills the members from a block of `kind`; false (Valid false) for a
  // null or malformed block.
  bool Parse(std::uint8_t kind, const void* block, std::uint32_t size);

  std::uint8_t GetKind() const { return Kind; }
  void SetKind(std::uint8_t kind) { Kind = kind; }
  std::uint8_t GetFlags() const { return Flags; }
  void SetFlags(std::uint8_t flags) { Flags = flags; }
  std::int32_t GetValue1() const { return Value1; }
  void SetValue1(std::int32_t value) { Value1 = value; }
  std::int32_t GetValue2() const { return Value2; }
  void SetValue2(std::int32_t value) { Value2 = value; }
  std::int32_t GetValue3() const { return Value3; }
  void SetValue3(std::int32_t value) { Value3 = value; }
  std::int32_t GetValue4() const { return Value4; }
  void SetValue4(std::int32_t value) { Value4 = value; }
  std::uint8_t GetSmall() const { return Small; }
  void SetSmall(std::uint8_t value) { Small = value; }
  bool IsValid() const { return Valid; }
  // Kind 3 only: the name (no zero byte inside) and the second body.
  const std::string& GetName() const { return Name; }
  void SetName(const std::string& name) { Name = name; }
  ByteBuffer& GetBody1() { return Body1; }
  ByteBuffer& GetBody2() { return Body2; }

 private:
  std::uint8_t Kind = 0;
  std::uint8_t Flags = 0;
  std::int32_t Value1 = 0;
  std::int32_t Value2 = 0;
  std::int32_t Value3 = 0;
  std::uint8_t Small = 0;
  bool Valid = false;
  std::int32_t Value4 = 0;
  ByteBuffer Body1;
  std::string Name;
  ByteBuffer Body2;
  // The block of the last Serialize.
  ByteBuffer block_;
};

// The name of a device's network type code: 1 "Mobitex", 2 "DataTAC", 3
// "GPRS", 4 "CDMA", 5 "iDEN", 6 "WiFi", 7 "3G", anything else "Unknown".
std::string GetNetworkTypeName(int code);
