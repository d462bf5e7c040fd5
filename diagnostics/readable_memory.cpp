#include "diagnostics/readable_memory.h"

#include <link.h>
#include <pthread.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr std::size_t kChunk = 4096;

std::atomic<pid_t> cachedPid{0};

// This process's id, asked once (and again in a forked child).
pid_t SelfPid() {
  static std::once_flag forkHandler;
  std::call_once(forkHandler, [] { pthread_atfork(nullptr, nullptr, [] { cachedPid.store(0); }); });
  pid_t pid = cachedPid.load(std::memory_order_relaxed);
  if (pid == 0) {
    pid = getpid();
    cachedPid.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

// Copies `size` bytes (at most kChunk) from `address` into `out`; false when
// the kernel could not read all of them.
bool CopyOut(const void* address, std::size_t size, unsigned char* out) {
  iovec local{out, size};
  iovec remote{const_cast<void*>(address), size};
  ssize_t got = process_vm_readv(SelfPid(), &local, 1, &remote, 1, 0);
  return got == static_cast<ssize_t>(size);
}

struct Range {
  std::uintptr_t start;
  std::uintptr_t end;
};

// The loaded segments of the program itself, which stay mapped and readable
// for the life of the process (its string literals among them).
const std::vector<Range>& ProgramSegments() {
  static const std::vector<Range> segments = [] {
    std::vector<Range> found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
          auto* out = static_cast<std::vector<Range>*>(data);
          for (int i = 0; i < info->dlpi_phnum; ++i) {
            const ElfW(Phdr)& header = info->dlpi_phdr[i];
            if (header.p_type != PT_LOAD || (header.p_flags & PF_R) == 0) continue;
            const std::uintptr_t start = info->dlpi_addr + header.p_vaddr;
            out->push_back({start, start + header.p_memsz});
          }
          return 1;  // the program comes first; its libraries are not needed
        },
        &found);
    return found;
  }();
  return segments;
}

// The end of the known-readable memory that holds `address`: a segment of
// the program, or the calling thread's stack from this frame up to its top;
// 0 when it lies in neither.
std::uintptr_t KnownReadableEnd(std::uintptr_t address) {
  for (const Range& segment : ProgramSegments()) {
    if (address >= segment.start && address < segment.end) return segment.end;
  }
  thread_local const std::uintptr_t stackTop = [] {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return std::uintptr_t{0};
    void* bottom = nullptr;
    std::size_t size = 0;
    pthread_attr_getstack(&attributes, &bottom, &size);
    pthread_attr_destroy(&attributes);
    return reinterpret_cast<std::uintptr_t>(bottom) + size;
  }();
  const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (address >= frame && address < stackTop) return stackTop;
  return 0;
}

// True when the text at `address` ends (or reaches maxChars) inside
// memory known to be readable, so that no copy is needed.
template <typename Char>
bool EndsInKnownMemory(std::uintptr_t address, std::size_t maxChars) {
  const std::uintptr_t end = KnownReadableEnd(address);
  if (end == 0) return false;
  const std::size_t chars = std::min(maxChars, (end - address) / sizeof(Char));
  const Char* text = reinterpret_cast<const Char*>(address);
  for (std::size_t i = 0; i < chars; ++i) {
    if (text[i] == 0) return true;
  }
  return chars == maxChars;
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
  if (EndsInKnownMemory<Char>(address, maxChars)) return false;
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

bool IsBadStringPtrA(const char* text, std::size_t maxChars) {
  return IsBadString(text, maxChars);
}

bool IsBadStringPtrW(const wchar_t* text, std::size_t maxChars) {
  return IsBadString(text, maxChars);
}
