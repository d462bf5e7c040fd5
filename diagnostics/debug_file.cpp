#include "diagnostics/debug_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "diagnostics/log.h"
#include "diagnostics/log_file_encoding.h"
#include "diagnostics/log_file_names.h"
#include "foundation/string_conversion.h"
#include "foundation/thread_name_registry.h"
#include "foundation/utf.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"
#include "platform/win32/text_unicode.h"
#include "platform/win32/thread.h"

namespace {

// The logger's retry interval for a file that is missing or failed.
constexpr ULONGLONG kRetryMs = 300000;
// The footer search reads the file in chunks of this many bytes.
constexpr std::size_t kFooterChunk = 8191;
// A line keeps at most this many characters, terminator included.
constexpr int kLineLimit = 1024;
constexpr std::size_t kThreadNameChars = 256;
constexpr unsigned kFileErrorEvent = 0xEFFF2710;

constexpr wchar_t kNotUnicode[] =
    L"[DIAG] Error writing the debug trace line - non-UNICODE characters encountered\r\n";

std::atomic<EnvironmentReportWriter> environmentReportWriter{nullptr};

// The settings with an encoding number that is not one of the three taken
// as ANSI, which is how such a file is written and read back: otherwise the
// file would never match its setting and every open would start a new one.
DebugLogSettings WithKnownEncoding(const DebugLogSettings& settings) {
  DebugLogSettings known = settings;
  if (known.DebugLogEncoding != kEncodingUtf8 && known.DebugLogEncoding != kEncodingUtf16Le) {
    known.DebugLogEncoding = kEncodingAnsi;
  }
  return known;
}

bool SameDate(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay;
}

}  // namespace

void SetEnvironmentReportWriter(EnvironmentReportWriter writer) {
  environmentReportWriter.store(writer, std::memory_order_release);
}

DebugFileOutput::DebugFileOutput(const LogClock* clock)
    : clock_(clock != nullptr ? clock : &SystemLogClock()) {}

DebugFileOutput::~DebugFileOutput() { CloseLogFile(); }

bool DebugFileOutput::Open(const DebugLogSettings& settings) {
  settings_ = WithKnownEncoding(settings);
  lastReopen_ = clock_->Ticks();
  return OpenLogFile();
}

void DebugFileOutput::BeforeRecord() {
  if (settings_.dailyFiles) {
    SYSTEMTIME today;
    clock_->LocalTime(&today);
    if (!SameDate(today, fileDate_)) {
      ReopenLogFile();
      return;
    }
  }
  if (fd_ >= 0) return;
  const ULONGLONG now = clock_->Ticks();
  if (now - lastReopen_ > kRetryMs) {
    lastReopen_ = now;
    ReopenLogFile();
  }
}

void DebugFileOutput::ApplySettings(const DebugLogSettings& settings) {
  settings_ = WithKnownEncoding(settings);
  if (fd_ >= 0) OpenLogFile();
}

bool DebugFileOutput::OpenLogFile() {
  if (!settings_.DebugLogEnabled) return true;
  bool newFile = settings_.newFileOnWrap;
  if (fd_ >= 0) {
    const int detected = DetectFileEncoding();
    if (detected == settings_.DebugLogEncoding) return true;
    if (detected == -1) {
      fileEncoding_ = settings_.DebugLogEncoding;
      if (WriteFileHeader()) return true;
    }
    // Written in another encoding than the one now asked for: closed with
    // its footer in its own encoding, and a new file takes over.
    CloseLogFile();
    newFile = true;
  }
  if (settings_.debugFilePath.empty()) return true;

  clock_->LocalTime(&fileDate_);
  int opened = -1;
  // A file found in another encoding is left alone; the second name is a
  // new one.
  for (int attempt = 0; attempt < 2 && opened == -1; ++attempt) {
    const std::wstring name = BuildLogFileName(settings_, fileDate_, newFile || attempt > 0);
    if (name.empty()) {
      ReportFileError(L"[DIAG] Could not create debug trace file %s", settings_.debugFilePath);
      return false;
    }
    opened = OpenNamed(name);
  }
  if (opened != 1) return false;

  if (settings_.DebugLogLevel > 2) {
    SYSTEMTIME now;
    clock_->LocalTime(&now);
    const DWORD thread = GetCurrentThreadId();
    wchar_t text[512];
    crt::snwprintf(text, 511, L"Current Date: %04d/%02d/%02d", now.wYear, now.wMonth, now.wDay);
    if (WriteFileLines(LogLine{now, thread, 3, 0, text, L""}) < 0) return false;
    ThreadNameRegistry& threads = ThreadNameRegistry::Instance();
    DWORD id = 0;
    std::string name;
    for (bool more = threads.First(&id, &name); more; more = threads.Next(&id, &name)) {
      std::wstring wide = ConvertToWideString(name, CP_ACP);
      if (wide.size() > kThreadNameChars) wide.resize(kThreadNameChars);
      if (crt::snwprintf(text, 511, L"[DIAG] EVENT=Thread_report, THREADID=0x%X, THREADNAME=\"%s\"",
                         id, wide.c_str()) < 0) {
        text[511] = L'\0';
      }
      WriteFileLines(LogLine{now, thread, 3, 0, text, L""});
    }
    if (settings_.environmentReportOnOpen) {
      if (EnvironmentReportWriter writer = environmentReportWriter.load(std::memory_order_acquire)) {
        writer();
      }
    }
  }
  return true;
}

int DebugFileOutput::OpenNamed(const std::wstring& name) {
  if (EnsureFileExists(name.c_str()) != 0) {
    ReportFileError(L"[DIAG] Could not create debug trace file %s", name);
    return 0;
  }
  const int fd = open(ConvertToNarrowString(name, CP_ACP).c_str(), O_RDWR | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    if (fd >= 0) close(fd);
    ReportFileError(L"[DIAG] Debug trace file %s was not open", name);
    return 0;
  }
  fd_ = fd;
  failed_ = false;
  fileName_ = name;
  fileEncoding_ = settings_.DebugLogEncoding;
  lastReportedErrno_ = 0;
  position_ = 0;
  size_ = info.st_size;

  const int detected = DetectFileEncoding();
  if (detected == -1) {
    if (!WriteFileHeader()) {
      CloseDescriptor();
      return 0;
    }
  } else if (detected != fileEncoding_) {
    CloseDescriptor();
    return -1;
  }
  position_ = size_;
  if (settings_.maxFileSize > 0 && detected != -1) SeekFooter();
  return 1;
}

void DebugFileOutput::SeekFooter() {
  const std::string marker = LogFileFooterMarker(fileEncoding_);
  const std::size_t unit = fileEncoding_ == kEncodingUtf16Le ? 2 : 1;
  // Consecutive chunks overlap by the footer line, so that a marker across
  // two of them is found.
  const std::size_t overlap = marker.size() + 2 * unit;
  std::string chunk(kFooterChunk, '\0');
  for (std::int64_t offset = 0; offset < size_;
       offset += static_cast<std::int64_t>(kFooterChunk - overlap)) {
    const ssize_t got = pread(fd_, chunk.data(), kFooterChunk, offset);
    if (got <= 0) return;
    const std::string_view view(chunk.data(), static_cast<std::size_t>(got));
    for (std::size_t at = view.find(marker); at != std::string_view::npos;
         at = view.find(marker, at + 1)) {
      if ((offset + static_cast<std::int64_t>(at)) % static_cast<std::int64_t>(unit) == 0) {
        position_ = offset + static_cast<std::int64_t>(at);
        return;
      }
    }
    if (static_cast<std::size_t>(got) < kFooterChunk) return;
  }
}

bool DebugFileOutput::CloseLogFile() {
  if (fd_ < 0) return true;
  if (settings_.maxFileSize > 0) WriteBytes(LogFileFooter(fileEncoding_));
  return CloseDescriptor();
}

bool DebugFileOutput::CloseDescriptor() {
  const int result = close(fd_);
  fd_ = -1;
  fileName_.clear();
  if (result != 0) {
    failed_ = true;
    return false;
  }
  return true;
}

bool DebugFileOutput::ReopenLogFile() {
  CloseLogFile();
  OpenLogFile();
  return fd_ >= 0 || !settings_.DebugLogEnabled;
}

bool DebugFileOutput::WriteFileRecord(const LogLine& line) {
  const std::int64_t end = WriteFileLines(line);
  if (end < 0) return false;
  if (settings_.maxFileSize > 0 && end > settings_.maxFileSize) {
    if (settings_.newFileOnWrap) return ReopenLogFile();
    position_ = 0;
    return WriteFileHeader();
  }
  return true;
}

std::int64_t DebugFileOutput::WriteFileLines(const LogLine& line) {
  if (fd_ < 0) {
    if (failed_) return -1;
    if (!ReopenLogFile() || fd_ < 0) return -1;
  }
  if (!settings_.splitLines) {
    const int length = FormatLine(line, line.text);
    if (length < 0 || !WriteLine(line_, static_cast<std::size_t>(length))) return -1;
  } else {
    // Each piece up to the next CR or LF, runs of them skipped; an empty
    // text still gives one line.
    const std::wstring_view text(line.text);
    std::size_t start = 0;
    bool first = true;
    do {
      start = text.find_first_not_of(L"\r\n", start);
      if (start == std::wstring_view::npos) {
        if (!first) break;
        start = text.size();
      }
      std::size_t end = text.find_first_of(L"\r\n", start);
      if (end == std::wstring_view::npos) end = text.size();
      piece_.assign(text.substr(start, end - start));
      const int length = FormatLine(line, piece_.c_str());
      if (length < 0 || !WriteLine(line_, static_cast<std::size_t>(length))) return -1;
      first = false;
      start = end;
    } while (start < text.size());
  }
  lastReportedErrno_ = 0;
  return position_;
}

int DebugFileOutput::FormatLine(const LogLine& record, const wchar_t* piece) {
  const unsigned code = DisplayedLogCode(record.eventCode, record.level);
  const SYSTEMTIME& t = record.time;
  const int length =
      record.user[0] != L'\0'
          ? crt::snwprintf(line_, kLineLimit - 1,
                           L"[%05lu] (%02d/%02d %02d:%02d:%02d.%03d):{0x%X} {%s} %s\r\n", code,
                           t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                           record.threadId, record.user, piece)
          : crt::snwprintf(line_, kLineLimit - 1,
                           L"[%05lu] (%02d/%02d %02d:%02d:%02d.%03d):{0x%X} %s\r\n", code,
                           t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                           record.threadId, piece);
  if (length >= 0) return length;
  if (line_[0] == L'\0') return -1;  // not cut: the text could not be formatted
  line_[kLineLimit - 1] = L'\r';
  line_[kLineLimit] = L'\n';
  return kLineLimit + 1;
}

bool DebugFileOutput::WriteLine(const wchar_t* line, std::size_t length) {
  units_.clear();
  const bool whole = AppendUtf16FromWide(line, length, &units_);
  if (length > 2 &&
      (!whole || !IsTextUnicode(units_.data(), static_cast<int>(units_.size() * 2), nullptr))) {
    units_.clear();
    AppendUtf16FromWide(kNotUnicode, std::size(kNotUnicode) - 1, &units_);
  }
  bytes_.clear();
  EncodeLogText(fileEncoding_, units_, &bytes_);
  return WriteBytes(bytes_);
}

bool DebugFileOutput::WriteBytes(const std::string& bytes) {
  const std::int64_t start = position_;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                   start + static_cast<std::int64_t>(done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(written);
  }
  if (done == bytes.size()) {
    position_ = start + static_cast<std::int64_t>(done);
    if (position_ > size_) size_ = position_;
    return true;
  }
  // Nothing of the failed line may stay beyond the file's former end; the
  // next line starts where this one did.
  const int error = errno;
  if (start + static_cast<std::int64_t>(done) > size_ && ftruncate(fd_, std::max(start, size_)) != 0) {
    // The cut failed too; the next line still starts at `start`.
  }
  errno = error;
  return false;
}

bool DebugFileOutput::WriteFileHeader() {
  if (fileEncoding_ == kEncodingAnsi) return true;
  if (fd_ < 0) return false;
  if (!WriteBytes(LogFileHeader(fileEncoding_))) {
    ReportFileError(L"[DIAG] Error during writing the debug file header", L"");
    return false;
  }
  return true;
}

int DebugFileOutput::DetectFileEncoding() {
  if (fd_ < 0) return -2;
  char bytes[64];
  const ssize_t got = pread(fd_, bytes, sizeof bytes, 0);
  if (got < 0) return -2;
  return DetectLogFileEncoding(fileEncoding_, bytes, static_cast<std::size_t>(got));
}

void DebugFileOutput::ReportFileError(const wchar_t* fmt, const std::wstring& name) {
  const int error = errno;
  if (error == lastReportedErrno_) return;
  lastReportedErrno_ = error;
  wchar_t text[kLineLimit];
  if (crt::snwprintf(text, kLineLimit - 1, fmt, name.c_str()) < 0) text[kLineLimit - 1] = L'\0';
  char reason[256];
  const std::wstring why = ConvertToWideString(strerror_r(error, reason, sizeof reason), CP_ACP);
  wchar_t tail[320];
  if (crt::snwprintf(tail, 319, L" : %s (error : %d)", why.c_str(), error) < 0) tail[319] = L'\0';
  LogEventW(1, kFileErrorEvent, L"%s%s", text, tail);
}
