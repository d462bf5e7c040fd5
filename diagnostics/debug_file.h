// DebugFileOutput: the debug-file slot of the DebugLogger (log_output.h),
// the logger's most detailed output.
//
// One line per record, in a file named from debugFilePath or composed from
// the naming settings (log_file_names.h: paths, naming styles, purge), in
// the encoding of DebugLogEncoding (log_file_encoding.h: bytes, header,
// footer; a number other than 1 or 2 means ANSI). A line is
//
//   [CODE] (MM/DD hh:mm:ss.mmm):{0xTHREAD} {USER} TEXT CR LF
//
// formatted "[%05lu] (%02d/%02d %02d:%02d:%02d.%03d):{0x%X} {%s} %s\r\n", or
// without "{%s} " when the record has no user text; CODE is the event's
// message number, or level x 10000 without an event code; at most 1023
// characters are kept, then CR LF. With splitLines each line of a
// multi-line text becomes such a line. A line that is not well-formed
// Unicode (IsTextUnicode, platform/win32/text_unicode.h) is replaced by
// "[DIAG] Error writing the debug trace line - non-UNICODE characters
// encountered" CR LF. Each line is written and on disk (write(2); no
// buffering in the process) before the next.
//
// Opening: the folders and the file are created when missing; an empty file
// gets the header of its encoding; a file whose encoding differs is left
// untouched and a new file (next sequence number) is opened instead. With
// maxFileSize above 0 writing continues at the footer of a file that has
// one (where a ring stopped), else at its end. With DebugLogLevel above 2
// the lines "Current Date: YYYY/MM/DD" and one "[DIAG] EVENT=Thread_report"
// line per registered thread come first, then the environment report (see
// SetEnvironmentReportWriter).
//
// Size limit (maxFileSize above 0): once a line ends beyond it, writing
// goes back to the start of the file after the header (a ring: later lines
// overwrite the oldest), or, with newFileOnWrap, the file is closed and the
// next sequence number opened. Closing writes the footer where writing
// stopped.
//
// Failures: a line that cannot be written whole leaves nothing of itself
// ahead of the next write (the next line starts where it started, and what
// it added past the file's end is cut off). Files that cannot be created,
// opened or given their header are reported through LogEventW at level 1
// (event 0xEFFF2710) as "[DIAG] ... : <error text> (error : <errno>)", each
// error number once until a line is written again. The logger retries a
// missing file every 300000 ms (BeforeRecord), and reopens when the day
// changes with dailyFiles.
//
// Thread safety: the logger's thread only (LogOutput).
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/debug_logger.h"
#include "diagnostics/log_clock.h"
#include "diagnostics/log_output.h"

// Writes the environment report into a file just opened: it logs its lines
// through the entry points, and they follow the file's first lines. The
// environment report is not built yet, so no writer is installed and
// opening a file writes no report; the report installs its writer here.
// Any thread; the writer must stay callable for the process's life.
using EnvironmentReportWriter = void (*)();
void SetEnvironmentReportWriter(EnvironmentReportWriter writer);

class DebugFileOutput final : public LogOutput {
 public:
  // `clock` (null: SystemLogClock()) gives the date and the retry ticks.
  explicit DebugFileOutput(const LogClock* clock = nullptr);
  // Closes the file (with its footer).
  ~DebugFileOutput() override;
  DebugFileOutput(const DebugFileOutput&) = delete;
  DebugFileOutput& operator=(const DebugFileOutput&) = delete;

  const wchar_t* Name() const override { return L"debug file"; }
  // Takes the settings and opens the file.
  bool Open(const DebugLogSettings& settings) override;
  bool Write(const LogLine& line) override { return WriteFileRecord(line); }
  bool Close() override { return CloseLogFile(); }
  // Reopens when the day changed (dailyFiles), or when no file is open and
  // 300000 ms passed since the last attempt.
  void BeforeRecord() override;
  // Takes the settings read; an open file is checked again, so that a new
  // encoding starts a new file.
  void ApplySettings(const DebugLogSettings& settings) override;

  // Opens, or re-checks the open file. True when DebugLogEnabled is off,
  // without a debugFilePath, or when the file is open and ready.
  bool OpenLogFile();
  // Writes the footer (maxFileSize above 0) and closes; true without a file.
  bool CloseLogFile();
  // Close, then open; true when a file is open afterwards (or the slot is
  // off).
  bool ReopenLogFile();
  // Writes the record's lines, then wraps or rotates at maxFileSize.
  bool WriteFileRecord(const LogLine& line);
  // Writes the record's lines; the write position after them, or -1.
  std::int64_t WriteFileLines(const LogLine& line);
  // Writes the header of the file's encoding at the write position (nothing
  // in ANSI); false without a file or when it cannot be written.
  bool WriteFileHeader();
  // The open file's encoding as its first characters declare it, read
  // through its own encoding (DetectLogFileEncoding); -2 without a file.
  int DetectFileEncoding();

  // The open file's name ("" when none) and the next write's position.
  const std::wstring& FileName() const { return fileName_; }
  std::int64_t Position() const { return position_; }

 private:
  // Writes `bytes` at the write position and moves past them; on failure
  // the position stays and the file is cut back to its former end.
  bool WriteBytes(const std::string& bytes);
  // Writes one formatted line (checked, encoded).
  bool WriteLine(const wchar_t* line, std::size_t length);
  // Formats one piece of a record as its file line into line_; its length,
  // or -1.
  int FormatLine(const LogLine& record, const wchar_t* piece);
  // Opens the named file (steps of OpenLogFile after the name is built): 1
  // ready, 0 failed, -1 its encoding differs (closed untouched).
  int OpenNamed(const std::wstring& name);
  // Sets the write position to the footer, when the file has one.
  void SeekFooter();
  // Closes the descriptor; false (and the failed state) when close fails.
  bool CloseDescriptor();
  // Logs `fmt` with the name, the error text and errno, once per errno.
  void ReportFileError(const wchar_t* fmt, const std::wstring& name);

  const LogClock* clock_;
  DebugLogSettings settings_;
  int fd_ = -1;
  bool failed_ = false;           // the last close failed
  int fileEncoding_ = 0;          // the encoding the open file is written in
  std::int64_t position_ = 0;     // where the next line goes
  std::int64_t size_ = 0;         // the file's size as written by us
  SYSTEMTIME fileDate_{};         // the date the file was opened for
  int lastReportedErrno_ = 0;
  ULONGLONG lastReopen_ = 0;
  std::wstring fileName_;
  // Scratch space of one line, kept to spare allocations.
  std::wstring piece_;
  wchar_t line_[1026];
  std::u16string units_;
  std::string bytes_;
};
