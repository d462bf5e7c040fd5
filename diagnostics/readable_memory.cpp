#include "diagnostics/readable_memory.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kChunk = 4096;

// Copies `size` bytes (at most kChunk) from `address` into `out`; false when
// the kernel could not read all of them.
bool CopyOut(const void* address, std::size_t size, unsigned char* out) {
  static const pid_t self = getpid();
  iovec local{out, size};
  iovec remote{const_cast<void*>(address), size};
  ssize_t got = process_vm_readv(self, &local, 1, &remote, 1, 0);
  return got == static_cast<ssize_t>(size);
}

// The bytes from `address` to the end of its chunk-aligned block, so that
// one copy never spans more than one page boundary it does not need to.
std::size_t ToBlockEnd(std::uintptr_t address) {
  return kChunk - (address % kChunk);
}

template <typename Char>
bool IsBadString(const Char* text, std::size_t maxChars) {
  if (text == nullptr) return true;
  auto address = reinterpret_cast<std::uintptr_t>(text);
  if (address % alignof(Char) != 0) return true;
  unsigned char buffer[kChunk];
  std::size_t left = maxChars;
  while (left > 0) {
    std::size_t bytes = std::min(ToBlockEnd(address), left * sizeof(Char));
    if (!CopyOut(reinterpret_cast<const void*>(address), bytes, buffer)) return true;
    std::size_t chars = bytes / sizeof(Char);
    for (std::size_t i = 0; i < chars; ++i) {
      Char c;
      std::memcpy(&c, buffer + i * sizeof(Char), sizeof(Char));
      if (c == 0) return false;
    }
    left -= chars;
    address += chars * sizeof(Char);
  }
  return false;
}

}  // namespace

bool IsBadReadPtr(const void* address, std::size_t size) {
  if (size == 0) return false;
  if (address == nullptr) return true;
  auto at = reinterpret_cast<std::uintptr_t>(address);
  if (at + size < at) return true;  // wraps around the address space
  unsigned char buffer[kChunk];
  while (size > 0) {
    std::size_t bytes = std::min(ToBlockEnd(at), size);
    if (!CopyOut(reinterpret_cast<const void*>(at), bytes, buffer)) return true;
    size -= bytes;
    at += bytes;
  }
  return false;
}

bool IsBadStringPtrA(const char* text, std::size_t maxChars) {
  return IsBadString(text, maxChars);
}

bool IsBadStringPtrW(const wchar_t* text, std::size_t maxChars) {
  return IsBadString(text, maxChars);
}
