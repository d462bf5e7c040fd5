#include "testing/registry_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace morvale::testing {

namespace {
constexpr const char* kVariable = "MORVALE_REGISTRY_DIR";
}

ScopedRegistryDirectory::ScopedRegistryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morvale-registry.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary registry directory from " << pattern;
  }
  path_ = pattern;
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
