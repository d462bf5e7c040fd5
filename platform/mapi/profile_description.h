// The readable description of an organisation from which the profile tool
// (platform/mapi/profile_builder.h) builds a profile, and its parser.
//
// The text is UTF-8, one statement a line (a carriage return before the
// line end is dropped). Blank lines and lines whose first non-blank
// character is '#' are comments. A line "[container NAME]", "[user]" or
// "[store]" opens a section; every other line is "key = value" and belongs
// to the section above it (blanks around key and value are dropped; values
// may not be empty nor hold control characters).
//
//   [container NAME]        an address-book container; NAME (letters,
//                           digits, '.', '-', '_') is how others refer to it
//     display-name = TEXT     required
//     parent = NAME           the container it lies below (defined above);
//                             none: directly below the root
//     global = yes | no       the global address list (at most one); its
//                             PR_EMS_AB_CONTAINERID is 0
//   [user]                  a mail user
//     display-name = TEXT     required
//     email-address = TEXT    required, unique without regard to case: the
//                             user's distinguished name (PR_EMAIL_ADDRESS)
//     address-type = TEXT     PR_ADDRTYPE; default "EX"
//     alias = TEXT            PR_ACCOUNT
//     smtp-address = TEXT     PR_SMTP_ADDRESS
//     home-mdb = TEXT         PR_EMS_AB_HOME_MDB: the home store's
//                             distinguished name
//     proxy-address = TEXT    one of PR_EMS_AB_PROXY_ADDRESSES; repeatable
//     container = NAME        a container that lists the user; repeatable;
//                             none: the global address list
//   [store]                 a message store
//     dn = TEXT               required, unique without regard to case: the
//                             mailbox's distinguished name (or the public
//                             store's name)
//     display-name = TEXT     required
//     role = default | public | mailbox
//                             the profile's default store (at most one), its
//                             public store (at most one), or a mailbox the
//                             profile opens only by name (the default)
//
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mapi_profile {

struct ContainerDescription {
  std::string name;
  std::string displayName;
  std::string parent;  // empty: below the root
  bool global = false;
};

struct UserDescription {
  std::string displayName;
  std::string emailAddress;
  std::string addressType = "EX";
  std::optional<std::string> alias;
  std::optional<std::string> smtpAddress;
  std::optional<std::string> homeMdb;
  std::vector<std::string> proxyAddresses;
  std::vector<std::string> containers;  // empty: the global address list
};

enum class StoreRole { kMailbox, kDefault, kPublic };

struct StoreDescription {
  std::string dn;
  std::string displayName;
  StoreRole role = StoreRole::kMailbox;
};

struct Organisation {
  std::vector<ContainerDescription> containers;
  std::vector<UserDescription> users;
  std::vector<StoreDescription> stores;
};

// Parses and checks a description; false with "line N: what is wrong" in
// *error (the organisation is then left as it was).
bool ParseOrganisation(std::string_view text, Organisation* organisation, std::string* error);

}  // namespace mapi_profile
