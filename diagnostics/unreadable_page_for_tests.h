// Test support: the address of one page that can never be read (mapped
// PROT_NONE once per test program and kept), for arguments that a log call
// must not dereference.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

inline const char* UnreadablePage() {
  static void* page = mmap(nullptr, static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), PROT_NONE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return page == MAP_FAILED ? nullptr : static_cast<const char*>(page);
}
