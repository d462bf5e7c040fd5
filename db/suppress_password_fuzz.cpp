// Fuzzes ConnectionItem::SuppressPassword over arbitrary connection strings:
// it must never read past its input, never grow it, and leave nothing more
// to mask in its own result (so no value of a password keyword survives).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "db/connection_item.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring in(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
  const std::wstring out = ConnectionItem::SuppressPassword(in);
  if (out.size() > in.size()) std::abort();
  if (ConnectionItem::SuppressPassword(out) != out) std::abort();
  return 0;
}
