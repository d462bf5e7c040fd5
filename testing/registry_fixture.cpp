#include "testing/registry_fixture.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

namespace morvale::testing {

namespace {
constexpr const char* kVariable = "MORVALE_REGISTRY_DIR";

// The directories alive in this process. A death test's child runs the
// test's fixture again and leaves through exit(), past every destructor:
// what it made is removed at its exit instead. Only by the process that
// made them: a forked child shares its parent's list but not its
// directories' lifetime.
struct LiveDirectories {
  std::mutex mutex;
  std::set<std::string> paths;
  pid_t owner = getpid();
};

LiveDirectories& Live() {
  static LiveDirectories* live = [] {
    auto* made = new LiveDirectories();  // never destroyed: read at exit
    std::atexit([] {
      LiveDirectories& l = Live();
      std::lock_guard<std::mutex> lock(l.mutex);
      if (getpid() != l.owner) return;
      std::error_code ignored;
      for (const std::string& path : l.paths) std::filesystem::remove_all(path, ignored);
    });
    return made;
  }();
  return *live;
}
}  // namespace

ScopedRegistryDirectory::ScopedRegistryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morvale-registry.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary registry directory from " << pattern;
  }
  path_ = pattern;
  {
    LiveDirectories& live = Live();
    std::lock_guard<std::mutex> lock(live.mutex);
    live.paths.insert(path_);
  }
  if (const char* previous = std::getenv(kVariable)) {
    had_previous_ = true;
    previous_ = previous;
  }
  setenv(kVariable, path_.c_str(), 1);
}

ScopedRegistryDirectory::~ScopedRegistryDirectory() {
  if (had_previous_) {
    setenv(kVariable, previous_.c_str(), 1);
  } else {
    unsetenv(kVariable);
  }
  {
    LiveDirectories& live = Live();
    std::lock_guard<std::mutex> lock(live.mutex);
    live.paths.erase(path_);
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void ScopedRegistryDirectory::WriteRoot(std::string_view root, std::string_view body) const {
  WriteFile(std::string(root) + ".reg",
            "Windows Registry Editor Version 5.00\n\n" + std::string(body));
}

void ScopedRegistryDirectory::WriteFile(std::string_view name, std::string_view bytes) const {
  const std::string file = path_ + "/" + std::string(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) ADD_FAILURE() << "cannot write " << file;
}

std::string ScopedRegistryDirectory::ReadFile(std::string_view name) const {
  std::ifstream in(path_ + "/" + std::string(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace morvale::testing
