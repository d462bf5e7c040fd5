// Building a profile's file from the description of an organisation
// (platform/mapi/profile_description.h): the work of the profile tool
// morvale-mapi-profile, and of tests that need a profile.
//
// The build runs in one transaction on the file itself, so a process that
// has the profile open sees the old organisation or the new one, never a
// mix; an existing profile's contents (address book, stores, their folders
// and messages) are replaced whole. A file that is not a profile is left
// alone. Every store gets an empty root folder.
//
// Thread safety: any thread; builds of one file from several processes
// follow each other.
#pragma once

#include <string>

#include "platform/mapi/profile_description.h"

namespace mapi_profile {

// Builds the profile at `path` (the file is made when missing); false with
// a message in *error.
bool BuildProfile(const Organisation& organisation, const std::string& path, std::string* error);

}  // namespace mapi_profile
