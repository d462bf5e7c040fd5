#include "platform/mapi/entry_id.h"

#include <cstring>

namespace mapi_internal {
namespace {

constexpr char kStoreProvider[17] = "MorvaleMapiStore";  // 16 bytes without the NUL
constexpr std::size_t kHeader = 20;

std::string Header(const void* provider) {
  std::string out(4, '\0');
  out.append(static_cast<const char*>(provider), 16);
  return out;
}

void Append32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
void Append64(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
std::uint64_t Read(const unsigned char* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

// The NUL-terminated name at `at` that ends exactly at the entry's end.
bool ReadName(const unsigned char* at, std::size_t size, std::string* name) {
  if (size == 0 || at[size - 1] != 0) return false;
  name->assign(reinterpret_cast<const char*>(at), size - 1);
  return name->find('\0') == std::string::npos;
}

}  // namespace

std::string StoreEntryId(std::string_view name) {
  std::string out = Header(kStoreProvider);
  Append32(out, MAPI_STORE);
  out.append(name);
  out += '\0';
  return out;
}

std::string ObjectEntryId(ULONG kind, std::int64_t store, std::int64_t object) {
  std::string out = Header(kStoreProvider);
  Append32(out, kind);
  Append64(out, static_cast<std::uint64_t>(store));
  Append64(out, static_cast<std::uint64_t>(object));
  return out;
}

std::string AddressBookEntryId(ULONG type, std::string_view name) {
  std::string out = Header(kAddressBookProvider);
  Append32(out, 1);
  Append32(out, type);
  out.append(name);
  out += '\0';
  return out;
}

HRESULT ParseEntryId(const void* bytes, ULONG size, ParsedEntryId* out) {
  if (bytes == nullptr || size < kHeader + 4) return MAPI_E_INVALID_ENTRYID;
  const auto* b = static_cast<const unsigned char*>(bytes);
  if (Read(b, 4) != 0) return MAPI_E_INVALID_ENTRYID;
  ParsedEntryId parsed;
  if (std::memcmp(b + 4, kStoreProvider, 16) == 0) {
    parsed.type = static_cast<ULONG>(Read(b + kHeader, 4));
    if (parsed.type == MAPI_STORE) {
      parsed.kind = ParsedEntryId::Kind::kStore;
      if (!ReadName(b + kHeader + 4, size - kHeader - 4, &parsed.name)) return MAPI_E_INVALID_ENTRYID;
    } else if (parsed.type == MAPI_FOLDER || parsed.type == MAPI_MESSAGE) {
      if (size != kHeader + 20) return MAPI_E_INVALID_ENTRYID;
      parsed.kind = ParsedEntryId::Kind::kObject;
      parsed.store = static_cast<std::int64_t>(Read(b + kHeader + 4, 8));
      parsed.object = static_cast<std::int64_t>(Read(b + kHeader + 12, 8));
    } else {
      return MAPI_E_INVALID_ENTRYID;
    }
  } else if (std::memcmp(b + 4, kAddressBookProvider, 16) == 0) {
    if (size < kHeader + 9 || Read(b + kHeader, 4) != 1) return MAPI_E_INVALID_ENTRYID;
    parsed.kind = ParsedEntryId::Kind::kAddressBook;
    parsed.type = static_cast<ULONG>(Read(b + kHeader + 4, 4));
    if (parsed.type != DT_MAILUSER && parsed.type != DT_CONTAINER) return MAPI_E_INVALID_ENTRYID;
    if (!ReadName(b + kHeader + 8, size - kHeader - 8, &parsed.name)) return MAPI_E_INVALID_ENTRYID;
  } else {
    return MAPI_E_UNKNOWN_ENTRYID;
  }
  *out = std::move(parsed);
  return S_OK;
}

HRESULT HandOutEntryId(const std::string& bytes, ULONG* size, LPENTRYID* entryId) {
  void* block = nullptr;
  if (MAPIAllocateBuffer(static_cast<ULONG>(bytes.size()), &block) != S_OK) {
    return MAPI_E_NOT_ENOUGH_MEMORY;
  }
  std::memcpy(block, bytes.data(), bytes.size());
  *size = static_cast<ULONG>(bytes.size());
  *entryId = static_cast<LPENTRYID>(block);
  return S_OK;
}

}  // namespace mapi_internal
