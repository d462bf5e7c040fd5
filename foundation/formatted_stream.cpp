#include "foundation/formatted_stream.h"

#include <cstdint>

namespace {

// The longest var-int of a value in 0..0x7FFFFFFF.
constexpr int kMaxVarIntBytes = 5;

// Encodes value (0..0x7FFFFFFF) into out, most significant group first, and
// returns the byte count.
int EncodeVarInt(int value, std::uint8_t (&out)[kMaxVarIntBytes]) {
  std::uint8_t groups[kMaxVarIntBytes];
  int count = 0;
  auto rest = static_cast<std::uint32_t>(value);
  do {
    groups[count++] = static_cast<std::uint8_t>(rest & 0x7F);
    rest >>= 7;
  } while (rest != 0);
  for (int i = 0; i < count; ++i) {
    const std::uint8_t group = groups[count - 1 - i];
    out[i] = (i == count - 1) ? group : static_cast<std::uint8_t>(group | 0x80);
  }
  return count;
}

// True when src has at least len bytes left after its position.
bool HasBytesLeft(const ByteBuffer* src, int len) {
  return src != nullptr && len >= 0 &&
         static_cast<unsigned>(len) <= src->GetSize() - src->GetPosition();
}

}  // namespace

EncodingCaps::EncodingCaps(const ByteBuffer* caps) {
  if (caps == nullptr) return;
  caps_ = std::make_unique<ByteBuffer>(*caps);
  const std::uint8_t* bytes = caps_->GetData();
  for (unsigned i = 0; i < caps_->GetSize(); ++i) {
    const unsigned nibble = bytes[i] & 0x0F;
    if (nibble == 0) capsHasNibble0_ = true;
    if (nibble == 1) capsHasNibble1_ = true;
  }
}

EncodingCaps::~EncodingCaps() = default;

FormattedStream::FormattedStream(ByteBuffer* stream, const ByteBuffer* caps)
    : EncodingCaps(caps), stream_(stream) {}

FormattedStream::~FormattedStream() = default;

unsigned FormattedStream::Remaining() const {
  return stream_ == nullptr ? 0 : stream_->GetSize() - stream_->GetPosition();
}

bool FormattedStream::WriteByte(std::uint8_t tag) { return WriteBytes(&tag, 1); }

bool FormattedStream::WriteBytes(const void* data, int len) {
  return stream_ != nullptr && len >= 0 && stream_->Write(data, len) == len;
}

bool FormattedStream::WriteVarInt(int value) {
  if (value < 0) return false;
  std::uint8_t bytes[kMaxVarIntBytes];
  return WriteBytes(bytes, EncodeVarInt(value, bytes));
}

bool FormattedStream::WriteLength(int len) { return WriteVarInt(len); }

bool FormattedStream::WriteIntField(int value) {
  if (value < 0) return false;
  std::uint8_t bytes[kMaxVarIntBytes];
  const int count = EncodeVarInt(value, bytes);
  return WriteVarInt(count) && WriteBytes(bytes, count);
}

bool FormattedStream::WriteBufferField(ByteBuffer* src, int len) {
  if (stream_ == nullptr || !HasBytesLeft(src, len)) return false;
  return WriteLength(len) && src->CopyTo(stream_, len);
}

bool FormattedStream::WriteTaggedInt(std::uint8_t tag, int value) {
  if (value < 0) return false;
  return WriteByte(tag) && WriteIntField(value);
}

bool FormattedStream::WriteTaggedBuffer(std::uint8_t tag, ByteBuffer* src, int len) {
  if (!HasBytesLeft(src, len)) return false;
  return WriteByte(tag) && WriteBufferField(src, len);
}

bool FormattedStream::WriteFromBuffer(ByteBuffer* src, int len) {
  return stream_ != nullptr && src != nullptr && src->CopyTo(stream_, len);
}

bool FormattedStream::ReadByte(std::uint8_t* tag) {
  return stream_ != nullptr && tag != nullptr && stream_->ReadByte(tag);
}

bool FormattedStream::ReadVarInt(int* value) {
  if (value == nullptr) return false;
  std::uint64_t acc = 0;
  for (;;) {
    std::uint8_t byte;
    if (!ReadByte(&byte)) return false;
    acc = (acc << 7) | (byte & 0x7F);
    // Leading zero groups are accepted; a value past 32 bits is not.
    if (acc > 0xFFFFFFFF) return false;
    if ((byte & 0x80) == 0) break;
  }
  // A value with bit 31 set (bit 24 before the last group) is refused too.
  if (acc > static_cast<std::uint64_t>(kMaxVarInt)) return false;
  *value = static_cast<int>(acc);
  return true;
}

bool FormattedStream::ReadLength(int* len) {
  int value;
  if (len == nullptr || !ReadVarInt(&value)) return false;
  if (static_cast<unsigned>(value) > Remaining()) return false;
  *len = value;
  return true;
}

bool FormattedStream::ReadIntField(int* value) {
  int count;
  return value != nullptr && ReadLength(&count) && ReadVarInt(value);
}

bool FormattedStream::ReadBufferField(ByteBuffer* out, int* len) {
  int count;
  if (out == nullptr || len == nullptr || !ReadLength(&count)) return false;
  if (!ReadIntoBuffer(out, count)) return false;
  *len = count;
  return true;
}

bool FormattedStream::ReadIntoBuffer(ByteBuffer* out, int len) {
  if (out == nullptr || !HasBytesLeft(stream_, len)) return false;
  if (!stream_->CopyTo(out, len)) return false;
  out->Seek(0, 0);
  return true;
}

bool FormattedStream::SkipField() {
  int len;
  return ReadLength(&len) && stream_->Seek(1, len);
}

bool FormattedStream::Seek(int origin, int offset) {
  return stream_ != nullptr && stream_->Seek(origin, offset);
}
