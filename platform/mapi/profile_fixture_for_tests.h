// A profile directory of its own for each test of code that logs on to the
// messaging stand-in (platform/mapi/mapi.h).
//
// ScopedMapiProfileDirectory makes a fresh temporary directory, points
// MORVALE_MAPI_PROFILE_DIR at it for its lifetime and removes it with what
// it holds afterwards (restoring the variable's previous value). Build
// writes a profile from a description (platform/mapi/profile_description.h),
// as the profile tool does:
//
//   morvale::testing::ScopedMapiProfileDirectory profiles;
//   profiles.Build("Test", "[container gal]\ndisplay-name = GAL\nglobal = yes\n...",
//                  /*makeDefault=*/true);
//
// The environment variable is process-wide: use one directory at a time, and
// create and destroy it on the test's main thread while no other thread logs
// on.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "platform/mapi/mapi.h"
#include "platform/mapi/profile_builder.h"
#include "platform/mapi/profile_directory.h"

namespace morvale::testing {

// The whole text of a file (a description, say); empty when it cannot be read.
inline std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ScopedMapiProfileDirectory {
 public:
  ScopedMapiProfileDirectory() {
    if (const char* old = getenv(kMapiProfileDirVariable)) previous_ = old;
    std::string pattern = (std::filesystem::temp_directory_path() / "morvale-mapi.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a temporary directory";
      return;
    }
    path_ = pattern;
    setenv(kMapiProfileDirVariable, path_.c_str(), 1);
  }

  ~ScopedMapiProfileDirectory() {
    if (previous_) {
      setenv(kMapiProfileDirVariable, previous_->c_str(), 1);
    } else {
      unsetenv(kMapiProfileDirVariable);
    }
    if (!path_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(path_, ignored);
    }
  }

  ScopedMapiProfileDirectory(const ScopedMapiProfileDirectory&) = delete;
  ScopedMapiProfileDirectory& operator=(const ScopedMapiProfileDirectory&) = delete;

  const std::string& path() const { return path_; }

  // Builds profile `name` from `description`; the profile's file, or empty
  // (with a test failure) when the description or the build fails.
  std::string Build(std::string_view name, std::string_view description,
                    bool makeDefault = false) const {
    mapi_profile::Organisation organisation;
    std::string error;
    std::string file;
    if (!mapi_profile::ParseOrganisation(description, &organisation, &error) ||
        !mapi_profile::ProfilePath(name, &file) ||
        !mapi_profile::BuildProfile(organisation, file, &error) ||
        (makeDefault && !mapi_profile::SetDefaultProfileName(name, &error))) {
      ADD_FAILURE() << "profile " << name << ": " << error;
      return {};
    }
    return file;
  }

 private:
  std::string path_;
  std::optional<std::string> previous_;
};

}  // namespace morvale::testing
