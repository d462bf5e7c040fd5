// Test support: an event-log directory of its own for each test.
//
// ScopedEventLogDirectory makes a fresh temporary directory, points
// MORVALE_EVENTLOG_DIR at it for its lifetime, and afterwards removes the
// log file and the directory (nothing else) and restores the variable.
// Lines() reads the entries written so far, one string per line without its
// line feed.
//
// The environment variable is process-wide: one directory at a time, made
// and destroyed on the test's main thread while no other thread reports.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

class ScopedEventLogDirectory {
 public:
  ScopedEventLogDirectory() {
    const char* previous = std::getenv("MORVALE_EVENTLOG_DIR");
    if (previous != nullptr) {
      hadPrevious_ = true;
      previous_ = previous;
    }
    char pattern[] = "/tmp/morvale-eventlog.XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
    setenv("MORVALE_EVENTLOG_DIR", path_.c_str(), 1);
  }
  ~ScopedEventLogDirectory() {
    unlink(File().c_str());
    rmdir(path_.c_str());
    if (hadPrevious_) {
      setenv("MORVALE_EVENTLOG_DIR", previous_.c_str(), 1);
    } else {
      unsetenv("MORVALE_EVENTLOG_DIR");
    }
  }
  ScopedEventLogDirectory(const ScopedEventLogDirectory&) = delete;
  ScopedEventLogDirectory& operator=(const ScopedEventLogDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string File() const { return path_ + "/Application.log"; }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(File(), std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::string path_;
  bool hadPrevious_ = false;
  std::string previous_;
};
