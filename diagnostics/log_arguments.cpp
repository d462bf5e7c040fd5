#include "diagnostics/log_arguments.h"

#include <climits>
#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include "diagnostics/debug_logger.h"
#include "diagnostics/readable_memory.h"
#include "foundation/secure_wipe.h"
#include "foundation/zev_string.h"
#include "platform/crt/format_parser.h"
#include "platform/crt/printf.h"

namespace {

constexpr std::size_t kWholeText = std::numeric_limits<std::size_t>::max();

bool IsBadText(const char* text, std::size_t maxChars) {
  return IsBadStringPtrA(text, maxChars);
}
bool IsBadText(const wchar_t* text, std::size_t maxChars) {
  return IsBadStringPtrW(text, maxChars);
}

// The lengths and letters the test accepts (see the header).
bool Accepted(const crt::Conversion& c) {
  switch (c.length) {
    case crt::Length::kNone:
    case crt::Length::kH:
    case crt::Length::kL:
    case crt::Length::kI64:
      break;
    default:
      return false;
  }
  return std::wstring_view(L"diouxXcCsSeEfgGp").find(static_cast<wchar_t>(c.letter)) !=
         std::wstring_view::npos;
}

const wchar_t* IntegerTypeName(const crt::Conversion& c) {
  bool isSigned = c.letter == 'd' || c.letter == 'i';
  switch (c.length) {
    case crt::Length::kH: return isSigned ? L"short int" : L"unsigned short int";
    case crt::Length::kL: return isSigned ? L"long int" : L"long unsigned int";
    case crt::Length::kI64: return isSigned ? L"__int64" : L"unsigned __int64";
    default: return isSigned ? L"int" : L"unsigned int";
  }
}

// Counts the arguments and, when `describe` is set, writes their
// description (only an invalid entry's report needs it).
class Describer {
 public:
  Describer(LogArgumentCheck* out, bool describe) : out_(out), describe_(describe) {}

  bool describing() const { return describe_; }

  template <typename... Args>
  void Add(const wchar_t* type, const wchar_t* valueFormat, Args... values) {
    if (!describe_) {
      ++out_->argCount;
      return;
    }
    wchar_t value[1024];
    if (crt::snwprintf(value, 1023, valueFormat, values...) < 0) value[1023] = 0;
    value[1023] = 0;
    wchar_t piece[1100];
    if (crt::snwprintf(piece, 1099, L"arg[%d](%s)=%s ", out_->argCount + 1, type, value) < 0) {
      piece[1099] = 0;
    }
    piece[1099] = 0;
    out_->description += piece;
    ++out_->argCount;
  }

 private:
  LogArgumentCheck* out_;
  bool describe_;
};

// The characters of a text argument the formatter may read: up to its
// terminator, or `limit` characters.
template <typename Text>
std::basic_string<Text> Copy(const Text* text, std::size_t limit) {
  std::size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return std::basic_string<Text>(text, n);
}

// Describes a text argument; false when it is unreadable.
template <typename Text>
bool DescribeText(const wchar_t* type, const Text* text, std::size_t limit, int precision,
                  Describer& d) {
  if (text == nullptr) {
    d.Add(type, L"%s", L"<null>");
    return true;
  }
  if (IsBadText(text, limit)) {
    d.Add(type, L"BAD_PTR(%p)", static_cast<const void*>(text));
    return false;
  }
  if (!d.describing()) {
    d.Add(type, L"");
    return true;
  }
  std::basic_string<Text> copy = Copy(text, limit);
  if constexpr (std::is_same_v<Text, char>) {
    d.Add(type, L"%.*hs", precision, copy.c_str());
  } else {
    d.Add(type, L"%.*ls", precision, copy.c_str());
  }
  SecureWipe(copy.data(), copy.size() * sizeof(Text));
  return true;
}

// Describes one value of a format whose characters are Char; false when it
// is an unreadable text.
template <typename Char>
bool DescribeValue(const crt::Conversion& c, const crt::Argument& a, int starPrecision,
                   Describer& d) {
  int precision = c.precision_from_arg ? starPrecision : c.precision;
  std::size_t limit = kWholeText;
  if (precision >= 0) limit = static_cast<std::size_t>(precision);
  switch (a.cls) {
    case crt::ArgClass::kInt32:
      if (c.letter == 'd' || c.letter == 'i') {
        d.Add(IntegerTypeName(c), c.length == crt::Length::kH ? L"%hd" : L"%d",
              static_cast<int>(a.integer));
      } else {
        d.Add(IntegerTypeName(c), c.length == crt::Length::kH ? L"%hu" : L"%u",
              static_cast<unsigned>(a.integer));
      }
      return true;
    case crt::ArgClass::kInt64:
    case crt::ArgClass::kIntPtr:
      if (c.letter == 'd' || c.letter == 'i') {
        d.Add(IntegerTypeName(c), L"%I64i", static_cast<std::int64_t>(a.integer));
      } else {
        d.Add(IntegerTypeName(c), L"%I64u", static_cast<std::uint64_t>(a.integer));
      }
      return true;
    case crt::ArgClass::kDouble:
      // "%lf" reads the same double as "%f" here; the report names it as
      // the call site wrote it.
      d.Add(c.letter == 'f' && c.length == crt::Length::kL ? L"long double" : L"double", L"%lf",
            a.real);
      return true;
    case crt::ArgClass::kPointer:
      d.Add(L"void*", L"%p", a.pointer);
      return true;
    case crt::ArgClass::kNarrowChar:
      d.Add(L"char", L"%hc", static_cast<int>(a.integer));
      return true;
    case crt::ArgClass::kWideChar:
      d.Add(L"wchar_t", L"%lc", static_cast<wint_t>(a.integer));
      return true;
    case crt::ArgClass::kNarrowString:
      // Into wide output a precision counts wide characters, each of which
      // may take several bytes of the narrow text.
      if (std::is_same_v<Char, wchar_t> && limit != kWholeText) {
        limit = limit > kWholeText / MB_LEN_MAX ? kWholeText : limit * MB_LEN_MAX;
      }
      return DescribeText(L"char*", a.narrow, limit, precision, d);
    case crt::ArgClass::kWideString:
      return DescribeText(L"wchar_t*", a.wide, limit, precision, d);
    case crt::ArgClass::kLongDouble:    // L and n never pass Accepted()
    case crt::ArgClass::kCountPointer:
      return false;
  }
  return false;
}

template <typename Char>
LogArgumentCheck Describe(const Char* format, va_list args, bool describe) {
  LogArgumentCheck result;
  if (format == nullptr || IsBadText(format, kWholeText)) return result;
  Describer d(&result, describe);
  crt::FormatReader<Char> reader(format);
  crt::ArgList list(args);
  crt::FormatPiece<Char> piece;
  while (reader.Next(&piece)) {
    if (piece.kind != crt::FormatPiece<Char>::Kind::kConversion) continue;
    const crt::Conversion& c = piece.conversion;
    if (!Accepted(c)) return result;
    if (c.width_from_arg) {
      d.Add(L"int", L"%d", static_cast<int>(list.Next(crt::ArgClass::kInt32).integer));
    }
    int starPrecision = -1;
    if (c.precision_from_arg) {
      starPrecision = static_cast<int>(list.Next(crt::ArgClass::kInt32).integer);
      d.Add(L"int", L"%d", starPrecision);
    }
    if (!DescribeValue<Char>(c, list.Next(c.arg), starPrecision, d)) return result;
  }
  result.valid = reader.ok();
  return result;
}

template <typename Char>
bool Check(int level, const Char* format, va_list args, unsigned eventCode,
           const wchar_t* user) {
  // A valid entry is only walked; the description is written for the
  // report of an invalid one.
  if (Describe(format, args, false).valid) return true;
  DebugLogger& logger = GetDebugLogger();
  if (!logger.IsActive()) return false;
  const LogArgumentCheck check = Describe(format, args, true);

  zev::ZEVString formatText;
  if (format == nullptr) {
    formatText = L"<null>";
  } else if (IsBadText(format, kWholeText)) {
    formatText.Format(L"BAD_PTR(%p)", static_cast<const void*>(format));
  } else if constexpr (std::is_same_v<Char, char>) {
    formatText = zev::ZEVString(format, ProcessUsesCp1252.load());
  } else {
    formatText = format;
  }
  zev::ZEVString userText;
  if (user == nullptr) {
    userText = L"<null>";
  } else if (IsBadStringPtrW(user, kWholeText)) {
    userText.Format(L"BAD_PTR(%p)", static_cast<const void*>(user));
  } else {
    userText = user;
  }
  zev::ZEVString report;
  report.Format(
      L"Invalid log entry - Level:%d, EventId:%d(0x%08X), Format:%s, User:%s, ArgCount:%d, "
      L"Args:%s",
      level, static_cast<int>(eventCode & 0xFFFF), eventCode, formatText.GetWide(),
      userText.GetWide(), check.argCount, check.description.c_str());
  logger.Log(5, 0, 0, report.GetWide(), nullptr);
  return false;
}

}  // namespace

LogArgumentCheck DescribeLogArguments(const char* format, va_list args) {
  return Describe(format, args, true);
}

LogArgumentCheck DescribeLogArguments(const wchar_t* format, va_list args) {
  return Describe(format, args, true);
}

bool CheckLogArguments(int level, const char* format, va_list args, unsigned eventCode,
                       const wchar_t* user) {
  return Check(level, format, args, eventCode, user);
}

bool CheckLogArguments(int level, const wchar_t* format, va_list args, unsigned eventCode,
                       const wchar_t* user) {
  return Check(level, format, args, eventCode, user);
}
