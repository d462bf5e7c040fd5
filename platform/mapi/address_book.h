// The address book of a profile: its root and containers, their hierarchy
// and contents tables, mail users, and name resolution (see "Address book"
// in platform/mapi/mapi.h). Internal to platform/mapi: the session opens
// the address book through this function; every call runs under the
// session's lock.
#pragma once

#include <memory>

#include "platform/mapi/object_base.h"

namespace mapi_internal {

// A new address book with one reference for the caller.
IAddrBook* NewAddrBook(std::shared_ptr<Context> context);

}  // namespace mapi_internal
