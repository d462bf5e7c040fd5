// Where profiles live (see "Profiles" in platform/mapi/mapi.h): the profile
// directory, a profile's file, and the name of the default profile. Used by
// the logon and by the profile tool.
//
// Thread safety: any thread, as long as no thread changes the environment at
// the same time.
#pragma once

#include <string>
#include <string_view>

namespace mapi_profile {

// MORVALE_MAPI_PROFILE_DIR, else $HOME/.morvale/mapi; empty when neither
// variable is set.
std::string ProfileDirectory();

// The file of profile `name` (UTF-8) in the profile directory; false for a
// name no profile can have (empty, longer than 200 bytes, beginning with
// '.', holding '/' or a control character) or when there is no directory.
bool ProfilePath(std::string_view name, std::string* path);

// The profile named by the directory's "default-profile" file (its first
// line); empty when there is none.
std::string DefaultProfileName();

// Makes `name` the default profile (written atomically); false with a
// message in *error when the file cannot be written.
bool SetDefaultProfileName(std::string_view name, std::string* error);

}  // namespace mapi_profile
