#include "platform/win32/codepage.h"

#include <iconv.h>
#include <langinfo.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cwchar>
#include <span>
#include <string>
#include <string_view>

#include "platform/win32/error.h"

namespace {

// A code page and the name iconv knows it by.
struct CodePageName {
  UINT codePage;
  const char* iconvName;
};

constexpr CodePageName kCodePages[] = {
    {437, "CP437"},     {737, "CP737"},       {775, "CP775"},
    {850, "CP850"},     {852, "CP852"},       {855, "CP855"},
    {857, "CP857"},     {858, "CP858"},       {860, "CP860"},
    {861, "CP861"},     {862, "CP862"},       {863, "CP863"},
    {864, "CP864"},     {865, "CP865"},       {866, "CP866"},
    {869, "CP869"},     {874, "CP874"},       {932, "CP932"},
    {936, "CP936"},     {949, "CP949"},       {950, "CP950"},
    {1250, "CP1250"},   {1251, "CP1251"},     {1252, "CP1252"},
    {1253, "CP1253"},   {1254, "CP1254"},     {1255, "CP1255"},
    {1256, "CP1256"},   {1257, "CP1257"},     {1258, "CP1258"},
    {10000, "MACINTOSH"}, {20127, "ANSI_X3.4-1968"}, {20866, "KOI8-R"},
    {21866, "KOI8-U"},  {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"}, {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"}, {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
    {50220, "ISO-2022-JP"}, {51932, "EUC-JP"},  {51936, "EUC-CN"},
    {51949, "EUC-KR"},  {54936, "GB18030"},   {CP_UTF7, "UTF-7"},
    {CP_UTF8, "UTF-8"},
};

// Further names a locale may give its code set.
constexpr CodePageName kCodeSetAliases[] = {
    {20127, "ASCII"}, {20127, "US-ASCII"}, {936, "GBK"},  {950, "BIG5"},
    {932, "SHIFT_JIS"}, {932, "SJIS"},     {949, "UHC"},  {51936, "GB2312"},
};

constexpr wchar_t kReplacementChar = 0xFFFD;

std::atomic<UINT> ansiCodePageOverride{0};

// Upper case without '-' and '_', so "utf8", "UTF-8" and "UTF_8" compare equal.
std::string CodeSetKey(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (c != '-' && c != '_') key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return key;
}

UINT CodePageOfCodeSet(const char* codeSet) {
  const std::string key = CodeSetKey(codeSet);
  for (const auto table : {std::span<const CodePageName>(kCodePages),
                           std::span<const CodePageName>(kCodeSetAliases)}) {
    for (const auto& entry : table) {
      if (CodeSetKey(entry.iconvName) == key) return entry.codePage;
    }
  }
  return CP_UTF8;
}

UINT CodePageOfLocale() {
  // Conversions ask for the ANSI code page every time; the lookup is kept
  // per thread for as long as the locale's code set stays the same.
  thread_local std::string lastCodeSet;
  thread_local UINT lastCodePage = 0;
  const char* codeSet = nl_langinfo(CODESET);
  if (lastCodePage == 0 || lastCodeSet != codeSet) {
    lastCodeSet = codeSet;
    lastCodePage = CodePageOfCodeSet(codeSet);
  }
  return lastCodePage;
}

UINT ResolveCodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_THREAD_ACP ? GetACP() : codePage;
}

const char* IconvName(UINT codePage) {
  for (const auto& entry : kCodePages) {
    if (entry.codePage == codePage) return entry.iconvName;
  }
  return nullptr;
}

// Code page 1252 leaves five bytes undefined; they stand for the control
// characters of the same value, as on the system's home platform.
bool IsCp1252Hole(UINT codePage, unsigned value) {
  return codePage == 1252 &&
         (value == 0x81 || value == 0x8D || value == 0x8F || value == 0x90 || value == 0x9D);
}

bool IsScalarValue(wchar_t c) {
  const auto v = static_cast<std::uint32_t>(c);
  return v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF);
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// Length of the well-formed UTF-8 sequence at p, or 0 with *invalid set to
// the length of its maximal ill-formed prefix (at least 1).
std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t left, std::size_t* invalid) {
  const unsigned char lead = p[0];
  std::size_t trail;
  unsigned char low = 0x80, high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    *invalid = 1;
    return 0;
  }
  std::size_t i = 1;
  for (; i <= trail; ++i) {
    if (i >= left || p[i] < low || p[i] > high) {
      *invalid = i;
      return 0;
    }
    low = 0x80;
    high = 0xBF;
  }
  return i;
}

wchar_t DecodeUtf8(const unsigned char* p, std::size_t length) {
  static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  std::uint32_t value = p[0] & kLeadMask[length];
  for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (p[i] & 0x3F);
  return static_cast<wchar_t>(value);
}

void EncodeUtf8(std::uint32_t v, std::string& out) {
  if (v < 0x80) {
    out += static_cast<char>(v);
  } else if (v < 0x800) {
    out += static_cast<char>(0xC0 | (v >> 6));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else if (v < 0x10000) {
    out += static_cast<char>(0xE0 | (v >> 12));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (v >> 18));
    out += static_cast<char>(0x80 | ((v >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  }
}

// UTF-8 is decoded here rather than by iconv, which lets through five-byte
// forms and values beyond U+10FFFF.
bool Utf8ToWide(const unsigned char* in, std::size_t count, bool strict, std::wstring& out) {
  std::size_t pos = 0;
  while (pos < count) {
    std::size_t invalid = 0;
    const std::size_t length = Utf8SequenceLength(in + pos, count - pos, &invalid);
    if (length == 0) {
      if (strict) return false;
      out += kReplacementChar;
      pos += invalid;
    } else {
      out += DecodeUtf8(in + pos, length);
      pos += length;
    }
  }
  return true;
}

bool WideToUtf8(const wchar_t* in, std::size_t count, bool strict, std::string& out) {
  for (std::size_t i = 0; i < count; ++i) {
    if (IsScalarValue(in[i])) {
      EncodeUtf8(static_cast<std::uint32_t>(in[i]), out);
    } else if (strict) {
      return false;
    } else {
      EncodeUtf8(kReplacementChar, out);
    }
  }
  return true;
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts the whole of [*in, *in + *inLeft) into `out` (growing it), or
  // resets the shift state when `in` is null. Stops at the first unit it
  // cannot convert: returns false with errno EILSEQ or EINVAL and *in there.
  template <typename Out>
  bool Run(char** in, std::size_t* inLeft, std::basic_string<Out>& out) {
    for (;;) {
      const std::size_t used = out.size();
      out.resize(used + 64 + (inLeft ? *inLeft : 0));
      char* dst = reinterpret_cast<char*>(out.data() + used);
      std::size_t dstLeft = (out.size() - used) * sizeof(Out);
      const std::size_t result = iconv(cd_, in, inLeft, &dst, &dstLeft);
      out.resize(out.size() - dstLeft / sizeof(Out));
      if (result != static_cast<std::size_t>(-1)) return true;
      if (errno != E2BIG) return false;
    }
  }

 private:
  iconv_t cd_;
};

bool IconvToWide(UINT codePage, const char* name, const char* in, std::size_t count, bool strict,
                 std::wstring& out) {
  Iconv cd("WCHAR_T", name);
  if (!cd.ok()) return false;
  char* src = const_cast<char*>(in);
  std::size_t left = count;
  while (!cd.Run(&src, &left, out)) {
    const int error = errno;
    // Some converters (glibc's CP949) report a bad sequence at the end of
    // the input after consuming it: one replacement stands for it.
    if (left == 0) {
      if (strict) return false;
      out += kReplacementChar;
      break;
    }
    const auto byte = static_cast<unsigned char>(*src);
    if (IsCp1252Hole(codePage, byte)) {
      out += static_cast<wchar_t>(byte);
    } else if (strict) {
      return false;
    } else {
      out += kReplacementChar;
    }
    // A byte iconv stopped at is skipped alone; an unfinished sequence at the
    // end of the input becomes one replacement.
    const std::size_t skip = error == EINVAL ? left : 1;
    src += skip;
    left -= skip;
  }
  return true;
}

bool IconvToNarrow(UINT codePage, const char* name, const wchar_t* in, std::size_t count,
                   const std::string& defaultChar, bool* usedDefault, std::string& out) {
  Iconv cd(name, "WCHAR_T");
  if (!cd.ok()) return false;
  std::size_t pos = 0;
  while (pos < count) {
    // iconv takes the longest run of valid code points; what it cannot show
    // is replaced one character at a time.
    std::size_t end = pos;
    while (end < count && IsScalarValue(in[end])) ++end;
    char* src = reinterpret_cast<char*>(const_cast<wchar_t*>(in + pos));
    std::size_t left = (end - pos) * sizeof(wchar_t);
    const bool converted = cd.Run(&src, &left, out);
    pos = end - left / sizeof(wchar_t);
    if (converted && pos == count) break;
    if (!cd.Run<char>(nullptr, nullptr, out)) return false;
    const wchar_t c = in[pos++];
    if (IsCp1252Hole(codePage, static_cast<std::uint32_t>(c))) {
      out += static_cast<char>(c);
    } else {
      out += defaultChar;
      *usedDefault = true;
    }
  }
  return cd.Run<char>(nullptr, nullptr, out);
}

bool IsUnicodeCodePage(UINT codePage) { return codePage == CP_UTF8 || codePage == CP_UTF7; }

}  // namespace

UINT GetACP() {
  const UINT forced = ansiCodePageOverride.load(std::memory_order_relaxed);
  return forced != 0 ? forced : CodePageOfLocale();
}

void SetAnsiCodePageForTesting(UINT codePage) {
  ansiCodePageOverride.store(codePage, std::memory_order_relaxed);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int cbMultiByte,
                        wchar_t* wideChar, int cchWideChar) {
  if (multiByte == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (wideChar == nullptr && cchWideChar != 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  codePage = ResolveCodePage(codePage);
  const char* name = IconvName(codePage);
  if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD allowed = IsUnicodeCodePage(codePage)
                            ? MB_ERR_INVALID_CHARS
                            : MB_PRECOMPOSED | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
  if ((flags & ~allowed) != 0) return Fail(ERROR_INVALID_FLAGS);

  const std::size_t count =
      cbMultiByte == -1 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(cbMultiByte);
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  std::wstring wide;
  const bool converted =
      codePage == CP_UTF8
          ? Utf8ToWide(reinterpret_cast<const unsigned char*>(multiByte), count, strict, wide)
          : IconvToWide(codePage, name, multiByte, count, strict, wide);
  if (!converted) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  // Every byte gives at most one character, so the count fits in an int.
  const int needed = static_cast<int>(wide.size());
  if (cchWideChar == 0) return needed;
  if (needed > cchWideChar) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::wmemcpy(wideChar, wide.data(), wide.size());
  return needed;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wideChar, int cchWideChar,
                        char* multiByte, int cbMultiByte, const char* defaultChar,
                        BOOL* usedDefaultChar) {
  if (wideChar == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (multiByte == nullptr && cbMultiByte != 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  codePage = ResolveCodePage(codePage);
  const char* name = IconvName(codePage);
  if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (IsUnicodeCodePage(codePage)) {
    if (defaultChar != nullptr || usedDefaultChar != nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  } else {
    constexpr DWORD kAllowed = WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_COMPOSITECHECK |
                               WC_NO_BEST_FIT_CHARS;
    if ((flags & ~kAllowed) != 0) return Fail(ERROR_INVALID_FLAGS);
  }

  const std::size_t count =
      cchWideChar == -1 ? std::wcslen(wideChar) + 1 : static_cast<std::size_t>(cchWideChar);
  std::string narrow;
  bool usedDefault = false;
  bool converted;
  if (codePage == CP_UTF8) {
    converted = WideToUtf8(wideChar, count, (flags & WC_ERR_INVALID_CHARS) != 0, narrow);
  } else {
    const std::string replacement(1, defaultChar != nullptr ? defaultChar[0] : '?');
    converted = IconvToNarrow(codePage, name, wideChar, count, replacement, &usedDefault, narrow);
  }
  if (!converted) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (narrow.size() > static_cast<std::size_t>(INT_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  const int needed = static_cast<int>(narrow.size());
  if (cbMultiByte != 0) {
    if (needed > cbMultiByte) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(multiByte, narrow.data(), narrow.size());
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  return needed;
}
