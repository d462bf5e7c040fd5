#include "diagnostics/log_file_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <cwctype>
#include <functional>
#include <vector>

#include "foundation/string_conversion.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"
#include "platform/win32/computer_name.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::string Narrow(const std::wstring& text) { return ConvertToNarrowString(text, CP_ACP); }

// `part` as a pattern that matches only itself.
std::string Literal(const std::wstring& part) {
  std::string pattern;
  for (char c : Narrow(part)) {
    if (c == '*' || c == '?' || c == '[' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern;
}

// A pattern for `count` decimal digits: the date and sequence fields of the
// names this logger writes, so that nobody else's file matches.
std::string Digits(int count) {
  std::string pattern;
  for (int i = 0; i < count; ++i) pattern += "[0-9]";
  return pattern;
}

std::wstring Date(const SYSTEMTIME& day) {
  wchar_t text[16];
  crt::snwprintf(text, 15, L"%04d%02d%02d", day.wYear, day.wMonth, day.wDay);
  return text;
}

std::string Number02(int n) {
  char text[16];
  crt::snprintf(text, 15, "%02d", n);
  return text;
}

// Local midnight of `today` minus `days` days, in seconds since 1970.
std::int64_t PurgeThreshold(const SYSTEMTIME& today, int days) {
  std::tm midnight{};
  midnight.tm_year = today.wYear - 1900;
  midnight.tm_mon = today.wMonth - 1;
  midnight.tm_mday = today.wDay;
  midnight.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&midnight)) - std::int64_t{days} * kSecondsPerDay;
}

struct Entry {
  std::string name;
  struct stat info;
};

// The entries of the open folder `folder` whose names match `pattern`, as
// they are (links not followed).
std::vector<Entry> Matches(int folder, const std::string& pattern) {
  std::vector<Entry> found;
  const int copy = dup(folder);
  if (copy < 0) return found;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    close(copy);
    return found;
  }
  // The copy shares the folder's read position with earlier walks.
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    if (fnmatch(pattern.c_str(), entry->d_name, FNM_PERIOD) != 0) continue;
    Entry e{entry->d_name, {}};
    if (fstatat(folder, entry->d_name, &e.info, AT_SYMLINK_NOFOLLOW) == 0) found.push_back(e);
  }
  closedir(dir);
  return found;
}

// Deletes the regular files of the open `folder` that match `pattern` and
// were last written before `threshold`.
void DeleteOlderFiles(int folder, const std::string& pattern, std::int64_t threshold) {
  for (const Entry& e : Matches(folder, pattern)) {
    if (S_ISREG(e.info.st_mode) && e.info.st_mtim.tv_sec < threshold) {
      unlinkat(folder, e.name.c_str(), 0);
    }
  }
}

int OpenFolder(const std::wstring& path) {
  return open(Narrow(path.empty() ? L"." : path).c_str(),
              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The folder part of `path` ("" for none) and the name after it.
std::pair<std::wstring, std::wstring> SplitFolder(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'/');
  if (slash == std::wstring::npos) return {L"", path};
  return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

// The largest number that the characters of each matching name's
// [from, from + count) start with.
int LargestNumber(const std::wstring& folder, const std::string& pattern,
                  const std::function<std::pair<std::size_t, std::size_t>(const std::string&)>& digits) {
  const int fd = OpenFolder(folder);
  if (fd < 0) return -1;
  int largest = -1;
  for (const Entry& e : Matches(fd, pattern)) {
    const auto [from, count] = digits(e.name);
    int number = 0;
    for (std::size_t i = from; i < from + count && i < e.name.size(); ++i) {
      if (e.name[i] < '0' || e.name[i] > '9') break;
      number = number * 10 + (e.name[i] - '0');
    }
    largest = std::max(largest, number);
  }
  close(fd);
  return largest;
}

// The composed name's pattern after the prefix: HOST_logName_NN.
std::string ComposedCore(const DebugLogSettings& s, const std::wstring& host) {
  return Literal(host) + "_" + Literal(s.logName) + "_" + Number02(s.instanceNumber);
}

std::wstring BuildDatedName(const DebugLogSettings& s, const SYSTEMTIME& today, bool newFile) {
  const std::wstring& path = s.debugFilePath;
  const std::size_t slash = path.rfind(L'/');
  std::size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) dot = path.size();
  std::wstring stem = path.substr(0, dot);
  const std::wstring extension = path.substr(dot);

  if (s.instanceNumber != 0) {
    wchar_t instance[16];
    crt::snwprintf(instance, 15, L"-%03d", s.instanceNumber);
    stem += instance;
    if (s.dailyFiles) stem += L"-";
  }
  if (s.dailyFiles) {
    if (s.DebugLogMaxDailyFileAge > 0) {
      const auto [folder, name] = SplitFolder(stem);
      const int fd = OpenFolder(folder);
      if (fd >= 0) {
        const std::int64_t threshold = PurgeThreshold(today, s.DebugLogMaxDailyFileAge);
        DeleteOlderFiles(fd, Literal(name) + Digits(8) + Literal(extension), threshold);
        DeleteOlderFiles(fd, Literal(name) + Digits(8) + "_" + Digits(3) + Literal(extension),
                         threshold);
        close(fd);
      }
    }
    stem += Date(today);
  }
  if (newFile) {
    const auto [folder, name] = SplitFolder(stem);
    const std::size_t underscore = Narrow(name).size();
    const int largest = LargestNumber(folder, Literal(name) + "_???" + Literal(extension),
                                      [underscore](const std::string&) {
                                        return std::make_pair(underscore + 1, std::size_t{3});
                                      });
    wchar_t sequence[16];
    crt::snwprintf(sequence, 15, L"_%03d", largest + 1);
    stem += sequence;
  }
  return stem + extension;
}

std::wstring BuildComposedName(const DebugLogSettings& s, const SYSTEMTIME& today, bool newFile) {
  const std::wstring host = LogHostName();
  if (s.dailyFiles && s.DebugLogMaxDailyFileAge > 0) PurgeComposedFiles(s, today, host);
  const int last = FindLastSequence(s, today, host);
  const int sequence = newFile ? last + 1 : std::max(last, 1);

  wchar_t name[2 * kMaxLogPathChars];
  const std::size_t count = sizeof name / sizeof name[0] - 1;
  const wchar_t* folder = s.logFolder.c_str();
  const wchar_t* prefix = s.filePrefix.c_str();
  const wchar_t* log = s.logName.c_str();
  const int y = today.wYear, m = today.wMonth, d = today.wDay;
  int length;
  if (s.dailyFiles && s.perDayFolders) {
    length = crt::snwprintf(name, count, L"%s/%04d%02d%02d/%s%s_%s_%02d_%04d%02d%02d_%04d.txt",
                            folder, y, m, d, prefix, host.c_str(), log, s.instanceNumber, y, m, d,
                            sequence);
  } else if (s.dailyFiles) {
    length = crt::snwprintf(name, count, L"%s/%s%s_%s_%02d_%04d%02d%02d_%04d.txt", folder, prefix,
                            host.c_str(), log, s.instanceNumber, y, m, d, sequence);
  } else if (s.perDayFolders) {
    length = crt::snwprintf(name, count, L"%s/%04d%02d%02d/%s%s_%s_%02d_%04d.txt", folder, y, m,
                            d, prefix, host.c_str(), log, s.instanceNumber, sequence);
  } else {
    length = crt::snwprintf(name, count, L"%s/%s%s_%s_%02d_%04d.txt", folder, prefix,
                            host.c_str(), log, s.instanceNumber, sequence);
  }
  return length < 0 ? std::wstring() : std::wstring(name, length);
}

}  // namespace

std::wstring LogHostName() {
  wchar_t name[128];
  DWORD size = 128;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return L"";
  std::wstring host(name, size);
  for (wchar_t& c : host) c = static_cast<wchar_t>(std::towupper(c));
  return host;
}

std::wstring BuildLogFileName(const DebugLogSettings& settings, const SYSTEMTIME& today,
                              bool newFile) {
  std::wstring name = settings.namingStyle == 1 ? BuildComposedName(settings, today, newFile)
                                                : BuildDatedName(settings, today, newFile);
  if (name.empty() || name.size() > kMaxLogPathChars) {
    errno = ENAMETOOLONG;
    return L"";
  }
  return name;
}

int FindLastSequence(const DebugLogSettings& settings, const SYSTEMTIME& today,
                     const std::wstring& host) {
  std::wstring folder = settings.logFolder;
  if (settings.perDayFolders) folder += L"/" + Date(today);
  std::string pattern = "*";
  pattern += ComposedCore(settings, host);
  if (settings.dailyFiles) (pattern += '_') += Narrow(Date(today));
  pattern += "_????.txt";
  const int largest = LargestNumber(folder, pattern, [](const std::string& name) {
    return std::make_pair(name.size() - 8, std::size_t{4});
  });
  return std::max(largest, 0);
}

void PurgeComposedFiles(const DebugLogSettings& settings, const SYSTEMTIME& today,
                        const std::wstring& host) {
  // The purge runs for daily files only, so the names carry their date.
  std::string pattern = "*";
  (pattern += ComposedCore(settings, host)) += '_';
  pattern += Digits(8) + "_" + Digits(4) + ".txt";
  const std::int64_t threshold = PurgeThreshold(today, settings.DebugLogMaxDailyFileAge);
  const int folder = OpenFolder(settings.logFolder);
  if (folder < 0) return;
  for (const Entry& day : Matches(folder, "????????")) {
    if (!S_ISDIR(day.info.st_mode) ||
        !std::all_of(day.name.begin(), day.name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const int dayFolder =
        openat(folder, day.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dayFolder < 0) continue;
    DeleteOlderFiles(dayFolder, pattern, threshold);
    close(dayFolder);
    unlinkat(folder, day.name.c_str(), AT_REMOVEDIR);
  }
  DeleteOlderFiles(folder, pattern, threshold);
  close(folder);
}

int EnsureFileExists(const wchar_t* path) {
  const std::string file = Narrow(path != nullptr ? path : L"");
  if (file.empty()) {
    errno = EINVAL;
    return -1;
  }
  if (file.size() > kMaxLogPathChars) {
    errno = ENAMETOOLONG;
    return -1;
  }
  for (std::size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    if (mkdir(file.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) return -1;
  }
  struct stat info;
  if (stat(file.c_str(), &info) == 0) return 0;
  const int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  close(fd);
  return 0;
}
