// Message stores, their folders and messages, and the tables over them
// (see "Stores, folders and messages" in platform/mapi/mapi.h). Internal to
// platform/mapi: the session opens stores through these functions; every
// call runs under the session's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/mapi/object_base.h"
#include "platform/mapi/table.h"

namespace mapi_internal {

struct StoreInfo {
  std::int64_t id = 0;
  std::string name;         // distinguished name, UTF-8
  std::string displayName;  // UTF-8
  std::int64_t role = kRoleMailbox;
  std::int64_t root = 0;  // the root folder's object
  bool writable = false;
};

// The store named `name` (compared folded): MAPI_E_NOT_FOUND when the
// profile holds none.
HRESULT LoadStoreByName(Database& db, std::string_view name, StoreInfo* store, Failure* failure);

// The properties of a store (for the store object and the stores table).
PropertyBag StoreProperties(const StoreInfo& store);

// The session's stores table: the default and the public store.
std::unique_ptr<RowSource> NewStoresTableSource(std::shared_ptr<Context> context);

// A new store object with one reference for the caller.
IMsgStore* NewMsgStore(std::shared_ptr<Context> context, StoreInfo store);

}  // namespace mapi_internal
