#include "platform/mapi/profile_directory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/mapi/mapi.h"

namespace mapi_profile {
namespace {

constexpr char kDefaultFile[] = "default-profile";
constexpr std::size_t kMaxName = 200;

}  // namespace

std::string ProfileDirectory() {
  const char* configured = std::getenv(kMapiProfileDirVariable);
  if (configured != nullptr && *configured != '\0') return configured;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.morvale/mapi";
  return {};
}

bool ProfilePath(std::string_view name, std::string* path) {
  if (name.empty() || name.size() > kMaxName || name.front() == '.') return false;
  for (char c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  const std::string directory = ProfileDirectory();
  if (directory.empty()) return false;
  *path = directory + "/" + std::string(name) + ".mapi";
  return true;
}

std::string DefaultProfileName() {
  const std::string directory = ProfileDirectory();
  if (directory.empty()) return {};
  std::ifstream file(directory + "/" + kDefaultFile);
  std::string name;
  std::getline(file, name);
  return name;
}

bool SetDefaultProfileName(std::string_view name, std::string* error) {
  const std::string directory = ProfileDirectory();
  const std::string target = directory + "/" + kDefaultFile;
  const std::string temporary = target + ".tmp-" + std::to_string(getpid());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool written = fd >= 0;
  if (written) {
    const std::string line = std::string(name) + "\n";
    written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    written = close(fd) == 0 && written;
  }
  if (written) written = rename(temporary.c_str(), target.c_str()) == 0;
  if (!written) {
    *error = target + ": " + std::strerror(errno);
    unlink(temporary.c_str());
  }
  return written;
}

}  // namespace mapi_profile
