#include "db/ado_error.h"

#include <atomic>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/string_conversion.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"

namespace {

// One error line: 16,384 characters, the last always the terminator.
constexpr std::size_t kLineChars = 16384;

class LineBuffer {
 public:
  LineBuffer() : text_(kLineChars, L'\0') {}
  wchar_t* data() { return text_.data(); }
  const wchar_t* c_str() const { return text_.data(); }
  // Formats into the buffer, cut at kLineChars - 1 characters.
  template <typename... Args>
  void Format(const wchar_t* fmt, Args... args) {
    text_.assign(kLineChars, L'\0');
    crt::snwprintf(text_.data(), kLineChars - 1, fmt, args...);
    text_[kLineChars - 1] = L'\0';
  }
  void Copy(const wchar_t* text) {
    text_.assign(kLineChars, L'\0');
    for (std::size_t i = 0; i < kLineChars - 1 && text[i] != L'\0'; ++i) text_[i] = text[i];
  }
  // Replaces every character for which `blank` holds by ' '.
  template <typename Pred>
  void Blank(Pred blank) {
    for (wchar_t& c : text_) {
      if (c == L'\0') break;
      if (blank(c)) c = L' ';
    }
  }

 private:
  std::vector<wchar_t> text_;
};

std::wstring Widen(const char* text) {
  return text == nullptr ? std::wstring() : ConvertToWideString(text, CP_ACP);
}

const wchar_t* OrEmpty(const wchar_t* text) { return text == nullptr ? L"" : text; }

bool IsControl(wchar_t c) { return c >= 1 && c <= 32; }
// Not printable: the C0 and C1 controls and DEL. Letters of any script stay.
bool IsNotPrintable(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

struct Classification {
  unsigned specialEvent;  // 0: none
  int result;
};

Classification Classify(HRESULT hr) {
  switch (static_cast<std::uint32_t>(hr)) {
    case 0x80040E09u: return {0xAFFF6213u, kDbErrorPermissionDenied};
    case 0x80040E37u: return {0xAFFF6216u, kDbErrorTableNotFound};
    case 0x80040E2Fu: return {0xAFFF6217u, kDbErrorIntegrityViolation};
    default: return {0, kDbErrorGeneral};
  }
}

constexpr const wchar_t kFallback25000[] =
    L" IDS_25000               %s: COM Error 0x%0X - %s - Source: %s - Description %s - Command: %s";

const wchar_t* const kStateNames[] = {L"Closed",  L"Open",    L"Connecting",
                                      L"Unknown", L"Executing", L"Unknown",
                                      L"Unknown", L"Unknown", L"Fetching"};

std::atomic<DbErrorRecorder*> recorder{nullptr};

void Record(LONG code, const wchar_t* text) {
  if (DbErrorRecorder* current = recorder.load()) current->SetLastError(code, text);
}

}  // namespace

DbErrorRecorder* SetDbErrorRecorder(DbErrorRecorder* replacement) { return recorder.exchange(replacement); }

void ClearDbErrorRecorder(DbErrorRecorder* current) {
  DbErrorRecorder* expected = current;
  recorder.compare_exchange_strong(expected, nullptr);
}

void DefaultDBLogSink(int level, unsigned eventCode, int, int, const wchar_t* text, const char*,
                      int) {
  if (text == nullptr || *text == L'\0') return;
  LogEventW(level, eventCode, L"%s", text);
}

int LogDBErrorImpl(int level, unsigned eventCode, HRESULT hr, const char* location,
                   const wchar_t* text, DBLogSink sink) {
  LineBuffer line;
  const char* where = location != nullptr ? location : "";
  if (text != nullptr && *text != L'\0') {
    line.Copy(text);
  } else if (hr != 0) {
    line.Format(L"[%hs] Unknown database error with HRESULT=0x%X", where, hr);
  } else {
    line.Format(L"Exception caught for %hs", where);
  }
  line.Blank(IsControl);
  Record(hr, line.c_str());
  if (sink != nullptr) sink(level, eventCode, 0, 0, line.c_str(), location, __LINE__);
  return kDbErrorGeneral;
}

int wLogDBError(int level, unsigned eventCode, HRESULT hr, const wchar_t* location,
                const wchar_t* text) {
  const std::string where = ConvertToNarrowString(OrEmpty(location), CP_ACP);
  return LogDBErrorImpl(level, eventCode, hr, where.c_str(), text, DefaultDBLogSink);
}

int LogDBError(int level, unsigned eventCode, HRESULT hr, const char* location,
               const wchar_t* text) {
  return LogDBErrorImpl(level, eventCode, hr, location, text, DefaultDBLogSink);
}

namespace {

// A location in both widths, each converted once at the public function:
// the sink takes it narrow, the lines are formatted with it wide.
struct Location {
  static Location FromNarrow(const char* narrow) { return Location{narrow != nullptr ? narrow : "", Widen(narrow)}; }
  static Location FromWide(const wchar_t* wide) {
    return Location{ConvertToNarrowString(OrEmpty(wide), CP_ACP), OrEmpty(wide)};
  }
  std::string narrow;
  std::wstring wide;
};

int ComError(int level, unsigned eventCode, const Location& where, const wchar_t* text, const _com_error& error,
             DBLogSink sink) {
  const HRESULT hr = error.Error();
  if (hr == 0 && (text == nullptr || *text == L'\0')) return 0;
  const char* location = where.narrow.c_str();
  const Classification kind = Classify(hr);

  LineBuffer line;
  if (kind.specialEvent != 0) {
    ResStringW special = LoadResStringW(kind.specialEvent);
    if (!special.empty() && CountFormatSpecifiers(special) <= 1) {
      line.Format(special.c_str(), where.wide.c_str());
      if (sink != nullptr) sink(level, kind.specialEvent, 0, 0, line.c_str(), location, __LINE__);
    }
  }

  ResStringW format = LoadResStringW(kEventDbComError);
  if (hr != 0 && CountFormatSpecifiers(format) <= 6) {
    const _bstr_t source = error.Source();
    const _bstr_t description = error.Description();
    line.Format(format.empty() ? kFallback25000 : format.c_str(), where.wide.c_str(), hr,
                OrEmpty(error.ErrorMessage()), OrEmpty(source), OrEmpty(description), OrEmpty(text));
    line.Blank(IsNotPrintable);
  }
  Record(error.Error(), line.c_str());
  if (sink != nullptr) sink(level, eventCode, 0, 0, line.c_str(), location, __LINE__);
  return kind.result;
}

int ConnectionErrors(ado::_Connection* connection, int level, unsigned eventCode, const _com_error& error,
                     const Location& where, const wchar_t* text, DBLogSink sink) {
  const int result = ComError(level, eventCode, where, text, error, sink);
  try {
    if (connection == nullptr) return result;
    ado::ErrorsPtr errors = connection->GetErrors();
    if (errors == nullptr) return result;
    const LONG count = errors->GetCount();
    std::set<LONG> seen{static_cast<LONG>(error.Error())};
    ResStringW format = LoadResStringW(kEventDbComError);
    for (LONG i = 0; i < count; ++i) {
      ado::ErrorPtr entry = errors->GetItem(_variant_t(static_cast<INT>(i)));
      if (entry == nullptr || !seen.insert(entry->GetNumber()).second) continue;
      const _bstr_t state = entry->GetSQLState();
      const _bstr_t source = entry->GetSource();
      const _bstr_t description = entry->GetDescription();
      LineBuffer line;
      line.Format(format.c_str(), where.wide.c_str(), entry->GetNumber(), OrEmpty(state), OrEmpty(source),
                  OrEmpty(description), OrEmpty(text));
      line.Blank(IsNotPrintable);
      if (sink != nullptr) sink(level, eventCode, 0, 0, line.c_str(), where.narrow.c_str(), __LINE__);
    }
  } catch (...) {
    // The dump is a courtesy: the failure itself was reported above.
  }
  return result;
}

int RecordsetComError(int level, unsigned eventCode, const _com_error& error, const Location& where,
                      const wchar_t* text, ado::_Command* command, DBLogSink sink) {
  if (command != nullptr) {
    try {
      const ado::_ConnectionPtr connection = command->GetActiveConnection();
      std::wstring extended = OrEmpty(text);
      if (connection != nullptr) {
        const LONG state = connection->GetState();
        if (state != ado::adStateOpen && state >= 0 && state <= 8) {
          extended += L" Recordset state: ";
          extended += kStateNames[state];
        }
      }
      return ConnectionErrors(connection, level, eventCode, error, where, extended.c_str(), sink);
    } catch (...) {
      // ConnectionErrors does not throw: this is the inspection failing.
    }
  }
  return ConnectionErrors(nullptr, level, eventCode, error, where, text, sink);
}

}  // namespace

int LogComError(int level, unsigned eventCode, const char* location, const wchar_t* text,
                const _com_error& error, DBLogSink sink) {
  return ComError(level, eventCode, Location::FromNarrow(location), text, error, sink);
}

int wLogComError(int level, unsigned eventCode, const _com_error& error, const wchar_t* location,
                 const wchar_t* text) {
  return ComError(level, eventCode, Location::FromWide(location), text, error, DefaultDBLogSink);
}

int LogConnectionErrors(ado::_Connection* connection, int level, unsigned eventCode,
                        const _com_error& error, const char* location, const wchar_t* text,
                        DBLogSink sink) {
  return ConnectionErrors(connection, level, eventCode, error, Location::FromNarrow(location), text, sink);
}

int wLogConnectionErrors(ado::_Connection* connection, int level, unsigned eventCode,
                         const _com_error& error, const wchar_t* location, const wchar_t* text) {
  return ConnectionErrors(connection, level, eventCode, error, Location::FromWide(location), text,
                          DefaultDBLogSink);
}

int LogRecordsetComError(int level, unsigned eventCode, const _com_error& error,
                         const char* location, const wchar_t* text, ado::_Command* command,
                         DBLogSink sink) {
  return RecordsetComError(level, eventCode, error, Location::FromNarrow(location), text, command, sink);
}

int wLogRecordsetComError(int level, unsigned eventCode, const _com_error& error,
                          const wchar_t* location, const wchar_t* text, ado::_Command* command) {
  return RecordsetComError(level, eventCode, error, Location::FromWide(location), text, command,
                           DefaultDBLogSink);
}

bool wGetServerNameFromConn(ado::_Connection* connection, std::wstring* server, int* port,
                            DBLogSink sink) {
  *port = -1;
  server->clear();
  if (connection == nullptr) {
    if (sink != nullptr) sink(1, 0, 0, 0, L"Connection not established\n", "wGetServerNameFromConn", __LINE__);
    return false;
  }
  try {
    ado::PropertiesPtr properties = connection->GetProperties();
    const LONG count = properties->GetCount();
    for (LONG i = 0; i < count; ++i) {
      ado::PropertyPtr property = properties->GetItem(_variant_t(static_cast<INT>(i)));
      std::wstring name = OrEmpty(property->GetName());
      std::wstring value = OrEmpty(_bstr_t(property->GetValue()));
      name.resize(std::min<std::size_t>(name.size(), 254));
      value.resize(std::min<std::size_t>(value.size(), 254));
      if (name.size() != 16) continue;
      bool same = true;
      for (std::size_t k = 0; k < name.size() && same; ++k)
        same = std::towlower(name[k]) == std::towlower(L"Data Source Name"[k]);
      if (!same) continue;
      const std::size_t comma = value.find(L',');
      if (comma == std::wstring::npos || comma + 1 >= value.size()) continue;
      const int number = static_cast<int>(std::wcstol(value.c_str() + comma + 1, nullptr, 10));
      *port = number == 0 ? -1 : number;
      *server = value.substr(0, comma);
    }
  } catch (...) {
    if (sink != nullptr) {
      sink(1, 0, 0, 0, L"Cannot get Server Name from ADO connection object", "wGetServerNameFromConn",
           __LINE__);
    }
    return false;
  }
  return !server->empty();
}

int CountFormatSpecifiers(const wchar_t* text) {
  if (text == nullptr) return 0;
  int count = 0;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (*p == L'%' && p[1] != L'\0' && std::iswalnum(p[1])) ++count;
  }
  return count;
}
