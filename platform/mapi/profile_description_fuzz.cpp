// Feeds arbitrary bytes to the description parser. Whatever it accepts must
// hold together (every reference names something defined) and must build
// into a profile; whatever it refuses is refused with the line at fault.
#include <cstdlib>
#include <set>
#include <string>

#include "platform/mapi/profile_builder.h"
#include "platform/mapi/profile_description.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  using namespace mapi_profile;
  Organisation organisation;
  std::string error;
  if (!ParseOrganisation(std::string_view(reinterpret_cast<const char*>(data), size), &organisation,
                         &error)) {
    if (error.rfind("line ", 0) != 0) std::abort();
    return 0;
  }
  std::set<std::string> containers;
  int globals = 0;
  for (const ContainerDescription& c : organisation.containers) {
    if (!c.parent.empty() && containers.count(c.parent) == 0) std::abort();
    if (!containers.insert(c.name).second || c.displayName.empty()) std::abort();
    globals += c.global ? 1 : 0;
  }
  if (globals > 1) std::abort();
  for (const UserDescription& u : organisation.users) {
    if (u.displayName.empty() || u.emailAddress.empty()) std::abort();
    if (u.containers.empty() && globals == 0) std::abort();
    for (const std::string& c : u.containers) {
      if (containers.count(c) == 0) std::abort();
    }
  }
  if (!BuildProfile(organisation, ":memory:", &error)) std::abort();
  return 0;
}
