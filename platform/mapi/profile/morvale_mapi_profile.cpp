// morvale-mapi-profile: builds a profile of the messaging stand-in from the
// description of an organisation (platform/mapi/profile_description.h).
//
//   morvale-mapi-profile [--default] PROFILE DESCRIPTION
//
// writes the profile PROFILE (the file PROFILE.mapi in the profile
// directory, platform/mapi/mapi.h), replacing one of that name, from the
// description file DESCRIPTION; --default also makes it the profile of a
// logon that names none. Exit codes: 0 built, 1 the description or the
// profile failed (a message on standard error), 2 a bad command line.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/mapi/profile_builder.h"
#include "platform/mapi/profile_directory.h"

namespace {

constexpr char kUsage[] = "usage: morvale-mapi-profile [--default] PROFILE DESCRIPTION\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "morvale-mapi-profile: %s\n", message.c_str());
  return 1;
}

// Makes `directory` and the folders on its way (mode 0700).
bool MakeDirectories(const std::string& directory, std::string* error) {
  for (std::size_t slash = 1; slash != std::string::npos;) {
    slash = directory.find('/', slash + 1);
    const std::string part = directory.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = part + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool makeDefault = false;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--default") {
      makeDefault = true;
    } else if (word.size() > 1 && word[0] == '-') {
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      words.push_back(word);
    }
  }
  if (words.size() != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string& name = words[0];
  const std::string& descriptionFile = words[1];

  std::ifstream in(descriptionFile, std::ios::binary);
  if (!in) return Fail(descriptionFile + ": " + std::strerror(errno));
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) return Fail(descriptionFile + ": cannot be read");

  mapi_profile::Organisation organisation;
  std::string error;
  if (!mapi_profile::ParseOrganisation(text.str(), &organisation, &error)) {
    return Fail(descriptionFile + ": " + error);
  }
  const std::string directory = mapi_profile::ProfileDirectory();
  if (directory.empty()) return Fail("no profile directory: set MORVALE_MAPI_PROFILE_DIR or HOME");
  std::string path;
  if (!mapi_profile::ProfilePath(name, &path)) return Fail("\"" + name + "\" cannot name a profile");
  if (!MakeDirectories(directory, &error) || !mapi_profile::BuildProfile(organisation, path, &error) ||
      (makeDefault && !mapi_profile::SetDefaultProfileName(name, &error))) {
    return Fail(error);
  }
  std::printf("profile %s: %zu containers, %zu users, %zu stores in %s\n", name.c_str(),
              organisation.containers.size(), organisation.users.size(),
              organisation.stores.size(), path.c_str());
  return 0;
}
