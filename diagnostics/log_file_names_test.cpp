#include "diagnostics/log_file_names.h"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "diagnostics/log_files_for_tests.h"

namespace {

const SYSTEMTIME kJan31{2024, 1, 3, 31, 9, 15, 2, 517};

// Composed names of prefix BB, log Dispatcher and instance 1 in `dir`.
DebugLogSettings Composed(const TempFolder& dir) {
  DebugLogSettings s;
  s.namingStyle = 1;
  s.logFolder = dir.wpath();
  s.filePrefix = L"BB";
  s.logName = L"Dispatcher";
  s.instanceNumber = 1;
  return s;
}

std::string Host() {
  const std::wstring host = LogHostName();
  return std::string(host.begin(), host.end());
}

TEST(LogFileNames, DatedNamesTakeTheirAdditionsBeforeTheExtension) {
  TempFolder dir;
  WriteBytes(dir / "seq_003.txt", "");
  WriteBytes(dir / "seq_001.txt", "");
  WriteBytes(dir / "seq_x12.txt", "");
  WriteBytes(dir / "trace-002-20240131_004.txt", "");
  struct Case {
    std::string path;
    int instance;
    bool daily;
    bool newFile;
    std::string name;
  };
  const Case cases[] = {
      {"trace.txt", 0, true, false, "trace20240131.txt"},
      {"trace.txt", 2, true, false, "trace-002-20240131.txt"},
      {"trace.txt", 2, false, false, "trace-002.txt"},
      {"trace.txt", 0, false, false, "trace.txt"},
      {"trace", 0, true, false, "trace20240131"},
      {"logs.d/trace", 0, true, false, "logs.d/trace20240131"},
      {"trace.txt", 0, false, true, "trace_000.txt"},
      {"seq.txt", 0, false, true, "seq_004.txt"},
      {"trace.txt", 2, true, true, "trace-002-20240131_005.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    DebugLogSettings s;
    s.debugFilePath = Wide(dir / c.path);
    s.instanceNumber = c.instance;
    s.dailyFiles = c.daily;
    EXPECT_EQ(BuildLogFileName(s, kJan31, c.newFile), Wide(dir / c.name));
    s.newFileOnWrap = c.newFile;
  }
}

TEST(LogFileNames, ComposedNamesContinueTheLargestSequence) {
  TempFolder dir;
  const std::string host = Host();
  WriteBytes(dir / ("XX" + host + "_Dispatcher_01_20240131_0007.txt"), "");
  WriteBytes(dir / ("BB" + host + "_Dispatcher_01_20240131_0002.txt"), "");
  WriteBytes(dir / ("BB" + host + "_Dispatcher_02_20240131_0009.txt"), "");  // another instance
  WriteBytes(dir / ("20240131/BB" + host + "_Dispatcher_01_0003.txt"), "");
  struct Case {
    bool daily;
    bool perDay;
    bool newFile;
    std::string name;
  };
  const Case cases[] = {
      {true, false, false, "BB" + host + "_Dispatcher_01_20240131_0007.txt"},
      {true, false, true, "BB" + host + "_Dispatcher_01_20240131_0008.txt"},
      {true, true, false, "20240131/BB" + host + "_Dispatcher_01_20240131_0001.txt"},
      {false, true, false, "20240131/BB" + host + "_Dispatcher_01_0003.txt"},
      {false, true, true, "20240131/BB" + host + "_Dispatcher_01_0004.txt"},
      {false, false, false, "BB" + host + "_Dispatcher_01_0001.txt"},
      {false, false, true, "BB" + host + "_Dispatcher_01_0001.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DebugLogSettings s = Composed(dir);
    s.dailyFiles = c.daily;
    s.perDayFolders = c.perDay;
    EXPECT_EQ(BuildLogFileName(s, kJan31, c.newFile), Wide(dir / c.name));
  }
}

TEST(LogFileNames, PatternCharactersInTheSettingsStandForThemselves) {
  TempFolder dir;
  const std::string host = Host();
  WriteBytes(dir / (host + "_a_b_01_0005.txt"), "");
  DebugLogSettings s;
  s.namingStyle = 1;
  s.logFolder = dir.wpath();
  s.logName = L"*";
  s.instanceNumber = 1;
  EXPECT_EQ(BuildLogFileName(s, kJan31, false), Wide(dir / (host + "_*_01_0001.txt")));
}

TEST(LogFileNames, ANameTooLongIsRefused) {
  DebugLogSettings s;
  s.debugFilePath = L"/tmp/" + std::wstring(250, L'x') + L".txt";
  s.dailyFiles = true;
  errno = 0;
  EXPECT_EQ(BuildLogFileName(s, kJan31, false), L"");
  EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST(LogFileNames, PurgeDeletesDatedFilesWrittenBeforeMidnightAgeDaysAgo) {
  TempFolder dir;
  TempFolder outside;
  const std::time_t threshold = LocalMidnight(2024, 1, 24);
  struct File {
    std::string name;
    std::time_t written;
    bool kept;
  };
  const File files[] = {
      {"trace20240120.txt", threshold - 1, false},
      {"trace20240123_001.txt", threshold - 86400, false},
      {"trace20240124.txt", threshold, true},
      {"trace20240130_000.txt", threshold + 3600, true},
      {"trace2024013.txt", threshold - 1, true},  // not a date's length
      // The length of a date, but not a date: a file of someone else's.
      {"traceBACKUP01.txt", threshold - 1, true},
      {"trace2024-1-2_001.txt", threshold - 1, true},
      {"trace20240102_old.txt", threshold - 1, true},
      {"other20240101.txt", threshold - 1, true},
      {"trace20240101.log", threshold - 1, true},
  };
  for (const File& f : files) {
    WriteBytes(dir / f.name, "x");
    SetWriteTime(dir / f.name, f.written);
  }
  // Links that look like old files: neither they nor their targets go.
  WriteBytes(outside / "victim.txt", "keep");
  SetWriteTime(outside / "victim.txt", threshold - 86400);
  ASSERT_EQ(symlink((outside / "victim.txt").c_str(), (dir / "trace20240102.txt").c_str()), 0);
  SetWriteTime(dir / "trace20240102.txt", threshold - 86400);

  DebugLogSettings s;
  s.debugFilePath = Wide(dir / "trace.txt");
  s.dailyFiles = true;
  s.DebugLogMaxDailyFileAge = 7;
  EXPECT_EQ(BuildLogFileName(s, kJan31, false), Wide(dir / "trace20240131.txt"));
  for (const File& f : files) EXPECT_EQ(Exists(dir / f.name), f.kept) << f.name;
  EXPECT_TRUE(Exists(dir / "trace20240102.txt"));
  EXPECT_EQ(ReadBytes(outside / "victim.txt"), "keep");
}

TEST(LogFileNames, ComposedPurgeEmptiesOldDayFoldersAndStaysInTheLogFolder) {
  TempFolder dir;
  TempFolder outside;
  const std::string host = Host();
  const std::string old = "BB" + host + "_Dispatcher_01_20240101_0001.txt";
  const std::time_t threshold = LocalMidnight(2024, 1, 24);
  const std::time_t before = threshold - 1;
  struct File {
    std::string name;
    std::time_t written;
    bool kept;
  };
  const File files[] = {
      {"20240101/" + old, before, false},
      {"20240102/" + old, before, false},
      {"20240102/notes.txt", before, true},
      {"20240130/BB" + host + "_Dispatcher_01_20240130_0001.txt", threshold + 1, true},
      {"2024010x/" + old, before, true},
      {old, before, false},
      {"ZZ" + host + "_Dispatcher_01_20240102_0004.txt", before, false},
      {"BB" + host + "_Dispatcher_02_20240102_0004.txt", before, true},
      // The shape of a daily name without its digits: not a log of ours.
      {"BB" + host + "_Dispatcher_01_KEEPTHIS_0004.txt", before, true},
      {"BB" + host + "_Dispatcher_01_20240102_copy.txt", before, true},
      {"20240102/BB" + host + "_Dispatcher_01_20240102_KEEP.txt", before, true},
  };
  for (const File& f : files) {
    WriteBytes(dir / f.name, "x");
    SetWriteTime(dir / f.name, f.written);
  }
  WriteBytes(outside / old, "keep");
  SetWriteTime(outside / old, before);
  ASSERT_EQ(symlink(outside.path().c_str(), (dir / "20240103").c_str()), 0);

  DebugLogSettings s = Composed(dir);
  s.dailyFiles = true;
  s.perDayFolders = true;
  s.DebugLogMaxDailyFileAge = 7;
  BuildLogFileName(s, kJan31, false);
  for (const File& f : files) EXPECT_EQ(Exists(dir / f.name), f.kept) << f.name;
  EXPECT_FALSE(Exists(dir / "20240101"));
  EXPECT_TRUE(Exists(dir / "20240102"));
  EXPECT_TRUE(Exists(dir / "20240103"));
  EXPECT_EQ(ReadBytes(outside / old), "keep");
}

TEST(LogFileNames, EnsureFileExistsMakesTheFoldersAndTheFile) {
  TempFolder dir;
  EXPECT_EQ(EnsureFileExists(Wide(dir / "a/b/c/trace.txt").c_str()), 0);
  EXPECT_TRUE(Exists(dir / "a/b/c/trace.txt"));
  WriteBytes(dir / "a/b/c/trace.txt", "kept");
  EXPECT_EQ(EnsureFileExists(Wide(dir / "a/b/c/trace.txt").c_str()), 0);
  EXPECT_EQ(ReadBytes(dir / "a/b/c/trace.txt"), "kept");

  errno = 0;
  EXPECT_EQ(EnsureFileExists(Wide(dir / "a/b/c/trace.txt/sub/x.txt").c_str()), -1);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_EQ(EnsureFileExists(L""), -1);
}

}  // namespace
