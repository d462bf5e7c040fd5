#include "foundation/byte_buffer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "foundation/secure_wipe.h"

namespace {

// Bytes moved per step by CopyTo.
constexpr int kTransferStep = 500;
// Room reserved beyond what a write needs.
constexpr unsigned kGrowthSlack = 1024;

}  // namespace

ByteBuffer::ByteBuffer(const void* data, unsigned len) {
  if (len == 0) {
    modified_ = true;
    return;
  }
  if (data == nullptr || !Reallocate(len)) return;
  std::memcpy(data_, data, len);
  size_ = len;
  modified_ = true;
}

ByteBuffer::ByteBuffer(const ByteBuffer& other) { CopyFrom(other); }

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
  if (this != &other) {
    Release();
    CopyFrom(other);
  }
  return *this;
}

ByteBuffer::~ByteBuffer() { Release(); }

void ByteBuffer::Release() {
  Wipe();
  std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
  size_ = 0;
  position_ = 0;
}

void ByteBuffer::CopyFrom(const ByteBuffer& other) {
  if (other.size_ != 0 && Reallocate(other.size_)) {
    std::memcpy(data_, other.data_, other.size_);
    size_ = other.size_;
  }
  position_ = 0;
  modified_ = other.modified_;
}

bool ByteBuffer::Seek(int origin, int offset) {
  std::int64_t base;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = position_; break;
    case 2: base = size_; break;
    default: return false;
  }
  const std::int64_t target = base + offset;
  if (target < 0 || target > size_) return false;
  position_ = static_cast<unsigned>(target);
  return true;
}

int ByteBuffer::Read(void* out, int len) {
  if (out == nullptr || len <= 0) return 0;
  const unsigned n = std::min(static_cast<unsigned>(len), size_ - position_);
  if (n == 0) return 0;
  std::memcpy(out, data_ + position_, n);
  position_ += n;
  return static_cast<int>(n);
}

bool ByteBuffer::ReadByte(std::uint8_t* out) { return Read(out, 1) == 1; }

bool ByteBuffer::ReadByte(char* out) { return Read(out, 1) == 1; }

int ByteBuffer::Write(const void* data, int len) {
  if (data == nullptr || len <= 0) return 0;
  const std::uint64_t end = std::uint64_t{position_} + static_cast<unsigned>(len);
  // The bytes may come from this buffer's own block, which growth replaces.
  const auto* src = static_cast<const std::uint8_t*>(data);
  const bool own = data_ != nullptr && std::less_equal<>()(data_, src) &&
                   std::less<>()(src, data_ + capacity_);
  const std::size_t offset = own ? static_cast<std::size_t>(src - data_) : 0;
  if (end > kMaxCapacity || !Reserve(static_cast<unsigned>(end))) return 0;
  if (own) src = data_ + offset;
  std::memmove(data_ + position_, src, static_cast<unsigned>(len));
  position_ = static_cast<unsigned>(end);
  size_ = std::max(size_, position_);
  modified_ = true;
  return len;
}

void ByteBuffer::WriteByte(std::uint8_t b) { Write(&b, 1); }

bool ByteBuffer::WriteString(const char* text) {
  if (text == nullptr) return false;
  const std::size_t len = std::strlen(text);
  if (len > INT_MAX) return false;
  return Write(text, static_cast<int>(len)) == static_cast<int>(len);
}

bool ByteBuffer::Reserve(unsigned n) {
  if (capacity_ >= n) return true;
  const std::uint64_t wanted = std::uint64_t{n} + kGrowthSlack;
  if (wanted > kMaxCapacity) return false;
  return Reallocate(static_cast<unsigned>(wanted));
}

bool ByteBuffer::Reallocate(unsigned n) {
  if (n > kMaxCapacity) return false;
  std::uint8_t* block = nullptr;
  if (n != 0) {
    block = static_cast<std::uint8_t*>(std::calloc(n, 1));
    if (block == nullptr) return false;
    if (data_ != nullptr) std::memcpy(block, data_, std::min(capacity_, n));
  }
  Wipe();
  std::free(data_);
  data_ = block;
  capacity_ = n;
  size_ = std::min(size_, n);
  position_ = std::min(position_, n);
  return true;
}

bool ByteBuffer::SetSize(int n) {
  if (n < 0) return false;
  if (n == 0) {
    Release();
  } else {
    if (!Reallocate(static_cast<unsigned>(n))) return false;
    size_ = static_cast<unsigned>(n);
  }
  modified_ = true;
  return true;
}

bool ByteBuffer::CopyTo(ByteBuffer* dst, int len) {
  if (dst == nullptr) return false;
  const unsigned remaining = size_ - position_;
  unsigned left = (len < 0 || static_cast<unsigned>(len) > remaining)
                      ? remaining
                      : static_cast<unsigned>(len);
  const std::uint64_t grown = std::uint64_t{dst->size_} + left;
  if (grown > kMaxCapacity || !dst->Reserve(static_cast<unsigned>(grown))) {
    return false;
  }
  std::uint8_t step[kTransferStep];
  bool ok = true;
  while (left > 0) {
    const int n = Read(step, static_cast<int>(std::min<unsigned>(left, kTransferStep)));
    if (n == 0) break;
    if (dst->Write(step, n) != n) {
      ok = false;
      break;
    }
    left -= static_cast<unsigned>(n);
  }
  SecureWipe(step, sizeof step);
  return ok;
}

bool ByteBuffer::CopyOut(std::uint8_t** out, unsigned* len) const {
  if (out == nullptr || len == nullptr) return false;
  const unsigned n = (*len == 0 || *len > size_) ? size_ : *len;
  // One byte at least, so that success always hands back a block.
  auto* block = static_cast<std::uint8_t*>(std::malloc(n != 0 ? n : 1));
  if (block == nullptr) return false;
  if (n != 0) std::memcpy(block, data_, n);
  *out = block;
  *len = n;
  return true;
}

bool ByteBuffer::IsEqual(const void* data, unsigned len) const {
  if (len != size_) return false;
  if (len == 0) return true;
  return data != nullptr && std::memcmp(data_, data, len) == 0;
}

void ByteBuffer::Wipe() {
  SecureWipe(data_, capacity_);
}
