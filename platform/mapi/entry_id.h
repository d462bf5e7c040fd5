// Entry identifiers of the messaging library's objects. Byte layouts (all
// integers little-endian):
//
//   message store        0  flags        4 bytes, 0
//                        4  provider     16 bytes, kStoreProvider
//                       20  kind         4 bytes, MAPI_STORE
//                       24  store name   the store's distinguished name,
//                                        UTF-8, NUL-terminated
//   folder, message      0  flags        4 bytes, 0
//                        4  provider     16 bytes, kStoreProvider
//                       20  kind         4 bytes, MAPI_FOLDER or MAPI_MESSAGE
//                       24  store        8 bytes, the store's number
//                       32  object       8 bytes, the object's number
//   address-book entry   0  flags        4 bytes, 0
//                        4  provider     16 bytes, kAddressBookProvider
//                       20  version      4 bytes, 1
//                       24  type         4 bytes, DT_MAILUSER or DT_CONTAINER
//                       28  name         the mail user's e-mail address, or
//                                        the container's name ("" for the
//                                        root), UTF-8, NUL-terminated
//
// A store's name keeps the entry identifier valid in every profile of the
// same organisation; folder and message numbers are the profile's own.
// Internal to platform/mapi; pure functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/mapi/mapi.h"

namespace mapi_internal {

// The address-book provider identifier that containers report in
// PR_AB_PROVIDER_ID.
inline constexpr BYTE kAddressBookProvider[16] = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A,
                                                  0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};

struct ParsedEntryId {
  enum class Kind { kStore, kObject, kAddressBook } kind;
  ULONG type = 0;      // MAPI_STORE, MAPI_FOLDER, MAPI_MESSAGE; DT_* for the address book
  std::string name;    // store and address-book entries
  std::int64_t store = 0;
  std::int64_t object = 0;
};

std::string StoreEntryId(std::string_view name);
std::string ObjectEntryId(ULONG kind, std::int64_t store, std::int64_t object);
std::string AddressBookEntryId(ULONG type, std::string_view name);

// MAPI_E_INVALID_ENTRYID for bytes that are no entry identifier of this
// library, MAPI_E_UNKNOWN_ENTRYID for one of another provider.
HRESULT ParseEntryId(const void* bytes, ULONG size, ParsedEntryId* out);

// Hands `bytes` to the caller in a buffer from MAPIAllocateBuffer.
HRESULT HandOutEntryId(const std::string& bytes, ULONG* size, LPENTRYID* entryId);

}  // namespace mapi_internal
