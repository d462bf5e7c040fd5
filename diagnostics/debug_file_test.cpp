#include "diagnostics/debug_file.h"

#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/capture_output_for_tests.h"
#include "diagnostics/fake_log_clock_for_tests.h"
#include "diagnostics/log_file_encoding.h"
#include "diagnostics/log_files_for_tests.h"
#include "foundation/thread_name_registry.h"
#include "platform/win32/thread.h"

namespace {

const SYSTEMTIME kTime{2024, 1, 3, 31, 9, 15, 2, 517};

LogLine Line(const wchar_t* text, int level = 2, unsigned code = 0, const wchar_t* user = L"") {
  return LogLine{kTime, 0x1F4, level, code, text, user};
}

std::string Encoded(int encoding, const std::u16string& text) {
  std::string bytes;
  EncodeLogText(encoding, text, &bytes);
  return bytes;
}

class DebugFile : public ::testing::Test {
 protected:
  DebugFile() {
    settings_.debugFilePath = Wide(dir_ / "trace.txt");
    settings_.DebugLogLevel = 2;  // no opening lines unless a test wants them
  }
  std::string File(const std::string& name = "trace.txt") const { return ReadBytes(dir_ / name); }

  TempFolder dir_;
  FakeLogClock clock_;
  DebugLogSettings settings_;
};

TEST_F(DebugFile, LinesInEachEncoding) {
  struct Case {
    int encoding;
    std::string bytes;
  };
  const std::u16string lines =
      u"[20000] (01/31 09:15:02.517):{0x1F4} caf\u00e9 \u4e00\r\n"
      u"[20061] (01/31 09:15:02.517):{0x1F4} {bob} warning\r\n"
      u"[00000] (01/31 09:15:02.517):{0x1F4} \U0001F600\r\n";
  const Case cases[] = {
      {kEncodingAnsi, Encoded(kEncodingAnsi, lines)},
      {kEncodingUtf8, "\xef\xbb\xbfUTF-8 encoded\r\n" + Encoded(kEncodingUtf8, lines)},
      {kEncodingUtf16Le, Encoded(kEncodingUtf16Le, u"\uFEFFUTF-16LE encoded\r\n" + lines)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    std::remove((dir_ / "trace.txt").c_str());
    settings_.DebugLogEncoding = c.encoding;
    DebugFileOutput out(&clock_);
    ASSERT_TRUE(out.Open(settings_));
    EXPECT_TRUE(out.Write(Line(L"caf\u00e9 \u4e00")));
    EXPECT_TRUE(out.Write(Line(L"warning", 2, 0xAFFF4E5D, L"bob")));
    EXPECT_TRUE(out.Write(Line(L"\U0001F600", 0)));
    EXPECT_EQ(File(), c.bytes);
  }
  EXPECT_EQ(Encoded(kEncodingAnsi, u"caf\u00e9 \U0001F600"), "caf? ?");
}

TEST_F(DebugFile, SplitLinesCutLinesAndTextThatIsNotUnicode) {
  settings_.splitLines = true;
  DebugFileOutput out(&clock_);
  ASSERT_TRUE(out.Open(settings_));
  EXPECT_TRUE(out.Write(Line(L"one\r\n\r\ntwo\nthree", 3)));
  const std::wstring bad = L"bad " + std::wstring(1, static_cast<wchar_t>(0xD800)) + L" half";
  EXPECT_TRUE(out.Write(Line(bad.c_str())));
  const std::wstring beyond = L"x" + std::wstring(1, static_cast<wchar_t>(0x110000));
  EXPECT_TRUE(out.Write(Line(beyond.c_str())));
  settings_.splitLines = false;
  out.ApplySettings(settings_);
  const std::wstring longText(2000, L'z');
  EXPECT_TRUE(out.Write(Line(longText.c_str())));
  EXPECT_TRUE(out.Write(Line(L"a\nb")));

  const std::string head = "(01/31 09:15:02.517):{0x1F4} ";
  const std::string notUnicode =
      "[DIAG] Error writing the debug trace line - non-UNICODE characters encountered\r\n";
  const std::string cut = "[20000] " + head + std::string(1023 - 8 - head.size(), 'z') + "\r\n";
  EXPECT_EQ(File(), "[30000] " + head + "one\r\n" + "[30000] " + head + "two\r\n" + "[30000] " +
                        head + "three\r\n" + notUnicode + notUnicode + cut + "[20000] " + head +
                        "a\nb\r\n");
}

TEST_F(DebugFile, OpeningLinesThreadsAndTheEnvironmentReportSeam) {
  static std::atomic<int> reports{0};
  SetEnvironmentReportWriter([] { ++reports; });
  ThreadNameRegistry::Instance().Register("FileTest");
  settings_.DebugLogLevel = 3;
  {
    DebugFileOutput out(&clock_);
    ASSERT_TRUE(out.Open(settings_));
  }
  settings_.environmentReportOnOpen = false;
  {
    DebugFileOutput out(&clock_);
    ASSERT_TRUE(out.Open(settings_));
  }
  SetEnvironmentReportWriter(nullptr);
  ThreadNameRegistry::Instance().Unregister();

  EXPECT_EQ(reports.load(), 1);
  const std::string file = File();
  char thread[32];
  std::snprintf(thread, sizeof thread, "0x%X", GetCurrentThreadId());
  const std::string head = std::string("[30000] (01/31 09:15:02.517):{") + thread + "} ";
  EXPECT_EQ(file.rfind(head + "Current Date: 2024/01/31\r\n", 0), 0u);
  EXPECT_NE(file.find(head + "[DIAG] EVENT=Thread_report, THREADID=" + thread +
                      ", THREADNAME=\"FileTest\"\r\n"),
            std::string::npos);
  // Opened twice, with the footer of the first close in between overwritten.
  EXPECT_EQ(file.find("END OF LOG"), file.rfind("END OF LOG"));
}

TEST_F(DebugFile, RingWrapsAfterTheHeaderAndTheNextOpenContinuesAtItsFooter) {
  settings_.DebugLogEncoding = kEncodingUtf8;
  settings_.maxFileSize = 200;
  const std::string header = LogFileHeader(kEncodingUtf8);
  const std::string line = "[20000] (01/31 09:15:02.517):{0x1F4} ";
  {
    DebugFileOutput out(&clock_);
    ASSERT_TRUE(out.Open(settings_));
    for (int i = 0; i < 5; ++i) out.Write(Line((L"line " + std::to_wstring(i)).c_str()));
    // Line 4 ended past 200: writing went back to just after the header.
    EXPECT_EQ(out.Position(), static_cast<std::int64_t>(header.size()));
    out.Write(Line(L"line 5"));
  }
  std::string file = File();
  const std::string expected = header + line + "line 5\r\n" + "====== END OF LOG ======\r\n";
  ASSERT_GE(file.size(), expected.size());
  EXPECT_EQ(file.substr(0, expected.size()), expected);
  EXPECT_NE(file.find(line + "line 4\r\n"), std::string::npos);  // older lines stay after it

  DebugFileOutput again(&clock_);
  ASSERT_TRUE(again.Open(settings_));
  EXPECT_EQ(again.Position(), static_cast<std::int64_t>(header.size() + line.size() + 8));
  again.Write(Line(L"line 6"));
  again.Close();
  file = File();
  EXPECT_EQ(file.substr(0, header.size() + 2 * (line.size() + 8)),
            header + line + "line 5\r\n" + line + "line 6\r\n");
  EXPECT_EQ(file.find("END OF LOG"), file.rfind("END OF LOG"));
}

TEST_F(DebugFile, FooterAcrossTwoReadChunksIsFound) {
  struct Case {
    int encoding;
    std::size_t marker;  // offset of the footer, across byte 8191
  };
  const Case cases[] = {{kEncodingAnsi, 8180}, {kEncodingUtf8, 8175}, {kEncodingUtf16Le, 8150}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    std::string bytes = LogFileHeader(c.encoding);
    const std::size_t unit = c.encoding == kEncodingUtf16Le ? 2 : 1;
    bytes += Encoded(c.encoding, std::u16string((c.marker - bytes.size()) / unit, u'x'));
    ASSERT_EQ(bytes.size(), c.marker);
    bytes += LogFileFooter(c.encoding) + Encoded(c.encoding, std::u16string(100, u'y'));
    WriteBytes(dir_ / "trace.txt", bytes);
    settings_.DebugLogEncoding = c.encoding;
    DebugFileOutput out(&clock_);
    ASSERT_TRUE(out.Open(settings_));
    EXPECT_EQ(out.Position(), static_cast<std::int64_t>(c.marker));
  }
}

TEST_F(DebugFile, NewFileOnWrapRotatesToTheNextSequence) {
  settings_.newFileOnWrap = true;
  settings_.maxFileSize = 100;
  DebugFileOutput out(&clock_);
  ASSERT_TRUE(out.Open(settings_));
  EXPECT_EQ(out.FileName(), Wide(dir_ / "trace_000.txt"));
  out.Write(Line(L"first, 62 bytes with its head"));
  out.Write(Line(L"second"));  // ends beyond 100
  EXPECT_EQ(out.FileName(), Wide(dir_ / "trace_001.txt"));
  out.Write(Line(L"third"));
  out.Close();
  const std::string head = "[20000] (01/31 09:15:02.517):{0x1F4} ";
  EXPECT_EQ(File("trace_000.txt"), head + "first, 62 bytes with its head\r\n" + head +
                                       "second\r\n====== END OF LOG ======\r\n");
  EXPECT_EQ(File("trace_001.txt"), head + "third\r\n====== END OF LOG ======\r\n");
}

TEST_F(DebugFile, AnotherEncodingStartsANewFileAndLeavesTheOldOneAlone) {
  // A file declared UTF-16LE, opened for UTF-8: untouched, the next name
  // is used.
  const std::string utf16 =
      Encoded(kEncodingUtf16Le, u"\uFEFFUTF-16LE encoded\r\nold line\r\n");
  WriteBytes(dir_ / "trace.txt", utf16);
  settings_.DebugLogEncoding = kEncodingUtf8;
  DebugFileOutput out(&clock_);
  ASSERT_TRUE(out.Open(settings_));
  EXPECT_EQ(out.FileName(), Wide(dir_ / "trace_000.txt"));
  out.Write(Line(L"in utf-8"));
  EXPECT_EQ(File(), utf16);

  // A settings read that changes the encoding closes the file (footer in its
  // own encoding) and opens the next one in the new encoding.
  settings_.DebugLogEncoding = kEncodingAnsi;
  out.ApplySettings(settings_);
  EXPECT_EQ(out.FileName(), Wide(dir_ / "trace_001.txt"));
  out.Write(Line(L"in ansi \u00e9"));
  out.Close();
  const std::string head = "[20000] (01/31 09:15:02.517):{0x1F4} ";
  EXPECT_EQ(File("trace_000.txt"), LogFileHeader(kEncodingUtf8) + head +
                                       "in utf-8\r\n====== END OF LOG ======\r\n");
  EXPECT_EQ(File("trace_001.txt"), head + "in ansi ?\r\n====== END OF LOG ======\r\n");

  // The same encoding read again changes nothing.
  DebugFileOutput same(&clock_);
  settings_.maxFileSize = 0;
  ASSERT_TRUE(same.Open(settings_));
  const std::wstring name = same.FileName();
  same.ApplySettings(settings_);
  EXPECT_EQ(same.FileName(), name);
}

// An encoding number the logger does not know writes ANSI, and its file is
// taken for what it is when read again: no new file on every settings read
// or every start.
TEST_F(DebugFile, AnUnknownEncodingWritesAnsiAndKeepsItsFile) {
  for (int encoding : {3, 7, -1, -2}) {
    SCOPED_TRACE(encoding);
    std::remove((dir_ / "trace.txt").c_str());
    settings_.DebugLogEncoding = encoding;
    settings_.maxFileSize = 0;
    DebugFileOutput out(&clock_);
    ASSERT_TRUE(out.Open(settings_));
    EXPECT_EQ(out.FileName(), Wide(dir_ / "trace.txt"));
    EXPECT_TRUE(out.Write(Line(L"first \u00e9")));
    out.ApplySettings(settings_);
    EXPECT_EQ(out.FileName(), Wide(dir_ / "trace.txt"));
    EXPECT_TRUE(out.Write(Line(L"second")));
    out.Close();

    DebugFileOutput again(&clock_);
    ASSERT_TRUE(again.Open(settings_));
    EXPECT_EQ(again.FileName(), Wide(dir_ / "trace.txt"));
    EXPECT_TRUE(again.Write(Line(L"third")));
    again.Close();
    const std::string head = "[20000] (01/31 09:15:02.517):{0x1F4} ";
    EXPECT_EQ(File(), head + "first ?\r\n" + head + "second\r\n" + head + "third\r\n");
    EXPECT_FALSE(Exists(dir_ / "trace_000.txt"));
  }
}

// A file-size limit stands in for a full disk.
TEST_F(DebugFile, AFailedWriteLeavesNoPartialLineAheadOfTheNextOne) {
  DebugFileOutput out(&clock_);
  ASSERT_TRUE(out.Open(settings_));
  ASSERT_TRUE(out.Write(Line(L"before")));
  const std::string before = File();

  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = before.size() + 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = out.Write(Line(L"this line does not fit"));
  const std::string afterFailure = File();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);

  EXPECT_FALSE(written);
  EXPECT_EQ(afterFailure, before);
  EXPECT_EQ(out.Position(), static_cast<std::int64_t>(before.size()));
  ASSERT_TRUE(out.Write(Line(L"after")));
  EXPECT_EQ(File(), before + "[20000] (01/31 09:15:02.517):{0x1F4} after\r\n");
}

TEST_F(DebugFile, DayChangeOpensTheNewDatedFileAndPurgesTheOldOnes) {
  settings_.dailyFiles = true;
  settings_.DebugLogMaxDailyFileAge = 1;
  WriteBytes(dir_ / "trace20240129.txt", "old");
  SetWriteTime(dir_ / "trace20240129.txt", LocalMidnight(2024, 1, 29) + 3600);
  WriteBytes(dir_ / "trace20240130.txt", "yesterday");
  SetWriteTime(dir_ / "trace20240130.txt", LocalMidnight(2024, 1, 30) + 3600);

  DebugFileOutput out(&clock_);
  ASSERT_TRUE(out.Open(settings_));
  EXPECT_EQ(out.FileName(), Wide(dir_ / "trace20240131.txt"));
  EXPECT_FALSE(Exists(dir_ / "trace20240129.txt"));
  EXPECT_TRUE(Exists(dir_ / "trace20240130.txt"));

  out.BeforeRecord();
  EXPECT_EQ(out.FileName(), Wide(dir_ / "trace20240131.txt"));
  clock_.Advance(15 * 3600 * 1000);  // 2024-02-01 00:15
  out.BeforeRecord();
  EXPECT_EQ(out.FileName(), Wide(dir_ / "trace20240201.txt"));
  EXPECT_FALSE(Exists(dir_ / "trace20240130.txt"));
  EXPECT_TRUE(Exists(dir_ / "trace20240131.txt"));  // written today, by this machine's clock
}

TEST_F(DebugFile, AMissingFileIsTriedAgainAfterFiveMinutes) {
  WriteBytes(dir_ / "blocked", "a file where the folder should be");
  settings_.debugFilePath = Wide(dir_ / "blocked/trace.txt");
  DebugFileOutput out(&clock_);
  EXPECT_FALSE(out.Open(settings_));
  std::remove((dir_ / "blocked").c_str());

  clock_.Advance(300000);
  out.BeforeRecord();
  EXPECT_EQ(out.FileName(), L"");
  clock_.Advance(1);
  out.BeforeRecord();
  EXPECT_EQ(out.FileName(), Wide(dir_ / "blocked/trace.txt"));
}

// The reports go through the process-wide logger, started here with
// captures in its slots.
TEST_F(DebugFile, EachFileErrorIsReportedOnceUntilALineIsWritten) {
  DebugLogger& logger = GetDebugLogger();
  CaptureSet capture;
  ASSERT_TRUE(logger.Configure(DebugLogSettings{}, capture.Take()));
  ASSERT_TRUE(logger.Start());
  while (!logger.IsActive()) std::this_thread::yield();

  WriteBytes(dir_ / "blocked", "x");
  settings_.debugFilePath = Wide(dir_ / "blocked/trace.txt");
  DebugFileOutput out(&clock_);
  EXPECT_FALSE(out.Open(settings_));
  EXPECT_FALSE(out.Write(Line(L"lost")));  // tries again: the same error
  EXPECT_FALSE(out.Write(Line(L"lost")));
  settings_.debugFilePath = Wide(dir_ / ("blocked/" + std::string(300, 'n')));
  out.ApplySettings(settings_);
  EXPECT_FALSE(out.Write(Line(L"lost")));  // another error
  settings_.debugFilePath = Wide(dir_ / "trace.txt");
  out.ApplySettings(settings_);
  EXPECT_TRUE(out.Write(Line(L"written")));
  settings_.debugFilePath = Wide(dir_ / "blocked/trace.txt");
  out.ApplySettings(settings_);
  out.Close();
  EXPECT_FALSE(out.Write(Line(L"lost")));  // the first error again, reported again
  logger.Stop();

  const std::wstring blocked = Wide(dir_ / "blocked/trace.txt");
  std::vector<std::wstring> reports;
  for (const CapturedLine& line : capture[LogSlot::kDebugFile].Lines()) {
    EXPECT_EQ(line.level, 1);
    EXPECT_EQ(line.eventCode, 0xEFFF2710u);
    reports.push_back(line.text);
  }
  const std::wstring notADirectory = L"[DIAG] Could not create debug trace file " + blocked +
                                     L" : Not a directory (error : 20)";
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0], notADirectory);
  EXPECT_EQ(reports[1].rfind(L"[DIAG] Could not create debug trace file " + Wide(dir_ / "blocked"),
                             0),
            0u);
  EXPECT_NE(reports[1].find(L"File name too long (error : 36)"), std::wstring::npos);
  EXPECT_EQ(reports[2], notADirectory);
}

}  // namespace
