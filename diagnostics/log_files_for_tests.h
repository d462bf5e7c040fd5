// Test support for the debug-file tests: a temporary folder of the test's
// own (removed with everything the test put in it), and small file helpers.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/morvale-logs.XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::wstring wpath() const { return std::wstring(path_.begin(), path_.end()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// Sets a file's (or link's own) last-write time.
inline void SetWriteTime(const std::string& path, std::time_t when) {
  const timespec times[2] = {{when, 0}, {when, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Local midnight of the date.
inline std::time_t LocalMidnight(int year, int month, int day) {
  std::tm midnight{};
  midnight.tm_year = year - 1900;
  midnight.tm_mon = month - 1;
  midnight.tm_mday = day;
  midnight.tm_isdst = -1;
  return std::mktime(&midnight);
}
