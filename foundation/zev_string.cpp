#include "foundation/zev_string.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <utility>

#include "foundation/cp1252.h"
#include "foundation/utf.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"

std::atomic<bool> ProcessUsesCp1252{false};

namespace zev {
namespace {

// Texts whose length plus terminator passes this are not converted.
constexpr std::size_t kMaxConvertChars = 0x3FFFFFFF;

// How a narrow-to-wide conversion that fails ends: the constructors and the
// narrow Format keep an empty text for a short input; everything else is
// left without text.
enum class OnFailure { kEmptyWhenShort, kNoText };

WipedArray<wchar_t> CopyText(const wchar_t* chars, std::size_t count) {
  WipedArray<wchar_t> text;
  if (count < kMaxConvertChars && text.Allocate(count + 1)) {
    std::wmemcpy(text.get(), chars, count);
  }
  return text;
}

WipedArray<wchar_t> EmptyText() { return CopyText(L"", 0); }

// Narrow `in` to wide text: an empty array means no text.
WipedArray<wchar_t> TextToWide(const char* in, bool use1252,
                               OnFailure onFailure) {
  WipedArray<wchar_t> out;
  if (in == nullptr) return out;
  const std::size_t length = std::strlen(in);
  if (length + 1 > kMaxConvertChars || !out.Allocate(length + 1)) return out;
  if (use1252) {
    for (std::size_t i = 0; i < length; ++i) {
      out.get()[i] = Cp1252ToWide(static_cast<unsigned char>(in[i]));
    }
    return out;
  }
  // Every byte gives at most one character, so length + 1 always has room.
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, in, -1, out.get(),
                          static_cast<int>(length + 1)) == 0) {
    out.Reset();
    if (onFailure == OnFailure::kEmptyWhenShort &&
        length < static_cast<std::size_t>(ZEVString::kFormatLimit)) {
      out = EmptyText();
    }
  }
  return out;
}

// Wide `in` to narrow text: an empty array means the conversion failed.
WipedArray<char> TextToNarrow(const wchar_t* in, bool use1252) {
  WipedArray<char> out;
  const std::size_t length = std::wcslen(in);
  if (length + 1 > kMaxConvertChars) return out;
  if (use1252) {
    if (out.Allocate(length + 1)) {
      for (std::size_t i = 0; i < length; ++i) out.get()[i] = WideToCp1252(in[i]);
    }
    return out;
  }
  const int needed =
      WideCharToMultiByte(CP_THREAD_ACP, 0, in, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0 || !out.Allocate(static_cast<std::size_t>(needed) + 1)) {
    return out;
  }
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, in, -1, out.get(), needed, nullptr,
                          nullptr) == 0) {
    out.Reset();
  }
  return out;
}

// The UTF-16 units of a wide text, one at a time, for comparing texts in
// UTF-16 order. Values past U+10FFFF have no UTF-16 form and come as they
// are, above every unit.
class Utf16Units {
 public:
  explicit Utf16Units(const wchar_t* text) : next_(text) {}

  // The next unit; 0 at the terminator.
  std::uint32_t Next() {
    if (pendingLow_ != 0) return std::exchange(pendingLow_, 0);
    std::uint32_t ch = static_cast<std::uint32_t>(*next_);
    if (ch == 0) return 0;
    ++next_;
    if (ch >= 0x10000 && ch <= 0x10FFFF) {
      ch -= 0x10000;
      pendingLow_ = 0xDC00 + (ch & 0x3FF);
      return 0xD800 + (ch >> 10);
    }
    return ch;
  }

 private:
  const wchar_t* next_;
  std::uint32_t pendingLow_ = 0;
};

int CompareTexts(const wchar_t* a, const wchar_t* b) {
  if (a == nullptr) return b == nullptr ? 0 : -1;
  if (b == nullptr) return 1;
  Utf16Units left(a);
  Utf16Units right(b);
  for (;;) {
    const std::uint32_t l = left.Next();
    const std::uint32_t r = right.Next();
    if (l != r) return l < r ? -1 : 1;
    if (l == 0) return 0;
  }
}

// `text` with `more` appended; an empty array when the memory runs out.
WipedArray<wchar_t> Concatenate(const wchar_t* text, const wchar_t* more) {
  const std::size_t length = std::wcslen(text);
  const std::size_t moreLength = std::wcslen(more);
  WipedArray<wchar_t> joined;
  if (length + moreLength + 1 > kMaxConvertChars ||
      !joined.Allocate(length + moreLength + 1)) {
    return joined;
  }
  std::wmemcpy(joined.get(), text, length);
  std::wmemcpy(joined.get() + length, more, moreLength);
  return joined;
}

const char kNoConversion[] = "";

}  // namespace

void ZEVString::StringData::SetText(WipedArray<wchar_t> newText) {
  narrowAnsi.Reset();
  narrow1252.Reset();
  text = std::move(newText);
}

ZEVString::ZEVString() = default;

ZEVString::ZEVString(const wchar_t* text) { *this = text; }

ZEVString::ZEVString(const char* text, bool use1252) {
  data_.SetText(TextToWide(text, use1252, OnFailure::kEmptyWhenShort));
}

ZEVString::ZEVString(const ZEVString& other) { *this = other; }

ZEVString::~ZEVString() = default;

ZEVString& ZEVString::operator=(const ZEVString& other) {
  if (this != &other) *this = other.GetWide();
  return *this;
}

ZEVString& ZEVString::operator=(const char* text) {
  data_.SetText(TextToWide(text, ProcessUsesCp1252, OnFailure::kNoText));
  return *this;
}

ZEVString& ZEVString::operator=(const wchar_t* text) {
  data_.SetText(text == nullptr ? WipedArray<wchar_t>()
                                : CopyText(text, std::wcslen(text)));
  return *this;
}

ZEVString& ZEVString::operator+=(const ZEVString& other) {
  return *this += other.GetWide();
}

ZEVString& ZEVString::operator+=(const wchar_t* text) {
  if (text == nullptr) return *this;
  if (GetWide() == nullptr) return *this = text;
  // Built before the old text goes, so appending a string to itself works.
  WipedArray<wchar_t> joined = Concatenate(GetWide(), text);
  if (joined.get() != nullptr) data_.SetText(std::move(joined));
  return *this;
}

ZEVString& ZEVString::operator+=(const char* text) {
  WipedArray<wchar_t> wide =
      TextToWide(text, ProcessUsesCp1252, OnFailure::kNoText);
  return *this += wide.get();
}

const char* ZEVString::GetNarrow() {
  if (ProcessUsesCp1252) return GetNarrow1252();
  if (GetWide() == nullptr) return nullptr;
  if (data_.narrowAnsi.get() == nullptr) {
    data_.narrowAnsi = TextToNarrow(GetWide(), false);
  }
  const char* narrow = data_.narrowAnsi.get();
  return narrow != nullptr ? narrow : kNoConversion;
}

const char* ZEVString::GetNarrow1252() {
  if (GetWide() == nullptr) return nullptr;
  if (data_.narrow1252.get() == nullptr) {
    data_.narrow1252 = TextToNarrow(GetWide(), true);
  }
  const char* narrow = data_.narrow1252.get();
  return narrow != nullptr ? narrow : kNoConversion;
}

const wchar_t* ZEVString::GetWide() const { return data_.text.get(); }

const wchar_t* ZEVString::GetBuffer() const { return data_.text.get(); }

int ZEVString::GetLength() const {
  const wchar_t* text = GetWide();
  return text == nullptr ? 0 : static_cast<int>(std::wcslen(text));
}

int ZEVString::Compare(const ZEVString& other) const {
  return CompareTexts(GetWide(), other.GetWide());
}

int ZEVString::CompareNarrow(const char* text, bool use1252) const {
  WipedArray<wchar_t> wide = TextToWide(text, use1252, OnFailure::kNoText);
  return CompareTexts(GetWide(), wide.get());
}

bool ZEVString::EqualsNarrow(const char* text) const {
  return CompareNarrow(text, ProcessUsesCp1252) == 0;
}

ZEVString& ZEVString::Trim(int flags) {
  wchar_t* text = data_.text.get();
  if (text == nullptr) return *this;
  std::size_t begin = 0;
  std::size_t end = std::wcslen(text);
  if (flags & kTrimLeading) {
    while (begin < end && std::iswspace(static_cast<wint_t>(text[begin]))) ++begin;
  }
  if (flags & kTrimTrailing) {
    while (end > begin && std::iswspace(static_cast<wint_t>(text[end - 1]))) --end;
  }
  if (begin == 0 && end == std::wcslen(text)) return *this;
  data_.SetText(CopyText(text + begin, end - begin));
  return *this;
}

wchar_t* ZEVString::GetAt(int index) {
  if (index >= 0 && index < GetLength()) return data_.text.get() + index;
  data_.emptyChar = 0;  // a caller may have written through the last one
  return &data_.emptyChar;
}

int ZEVString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = FormatV(format, args);
  va_end(args);
  return result;
}

int ZEVString::FormatV(const wchar_t* format, va_list args) {
  wchar_t buffer[kFormatLimit];
  const int result = crt::vsnwprintf(buffer, kFormatLimit - 1, format, args);
  buffer[kFormatLimit - 1] = L'\0';
  *this = buffer;
  SecureWipe(buffer, sizeof(buffer));
  return result;
}

int ZEVString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = FormatV(format, args);
  va_end(args);
  return result;
}

int ZEVString::FormatV(const char* format, va_list args) {
  char buffer[kFormatLimit];
  const int result = crt::vsnprintf(buffer, kFormatLimit - 1, format, args);
  buffer[kFormatLimit - 1] = '\0';
  data_.SetText(TextToWide(buffer, false, OnFailure::kEmptyWhenShort));
  SecureWipe(buffer, sizeof(buffer));
  return result < 0 ? result : GetLength();
}

int ZEVString::AppendFormat(const wchar_t* format, ...) {
  ZEVString piece;
  va_list args;
  va_start(args, format);
  piece.FormatV(format, args);
  va_end(args);
  *this += piece;
  return GetLength();
}

int ZEVString::Assign(const wchar_t* chars, int count) {
  if (chars == nullptr || count < 0) {
    data_.SetText(WipedArray<wchar_t>());
    return 0;
  }
  data_.SetText(CopyText(chars, static_cast<std::size_t>(count)));
  return GetWide() != nullptr ? count : 0;
}

const wchar_t* ZEVString::AssignUtf8(const char* utf8, int length) {
  data_.SetText(WipedArray<wchar_t>());
  if (utf8 == nullptr || length == 0 || length < -1) return nullptr;
  const std::size_t bytes =
      length == -1 ? std::strlen(utf8) : static_cast<std::size_t>(length);
  // A byte gives at most one UTF-16 unit, and a unit at most one character.
  WipedArray<char16_t> units;
  if (bytes + 1 > kMaxConvertChars || !units.Allocate(bytes)) return nullptr;

  const char* source = utf8;
  char16_t* target = units.get();
  const UtfResult result = ConvertUtf8ToUtf16(&source, utf8 + bytes, &target,
                                              units.get() + bytes, false);
  if (result == kUtfTargetExhausted || result == kUtfSourceIllegal) {
    return nullptr;
  }

  WipedArray<wchar_t> text;
  if (!text.Allocate(static_cast<std::size_t>(target - units.get()) + 1)) {
    return nullptr;
  }
  wchar_t* out = text.get();
  for (const char16_t* u = units.get(); u < target; ++u) {
    const char32_t unit = *u;
    if (unit >= 0xD800 && unit <= 0xDBFF && u + 1 < target && u[1] >= 0xDC00 &&
        u[1] <= 0xDFFF) {
      *out++ = static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) +
                                    (u[1] - 0xDC00));
      ++u;
    } else {
      *out++ = static_cast<wchar_t>(unit);
    }
  }
  data_.SetText(std::move(text));
  return GetWide();
}

}  // namespace zev

NToWString::NToWString(const std::string& text) {
  zev::ZEVString wide(text.c_str(), ProcessUsesCp1252);
  if (wide.GetWide() != nullptr) text_ = wide.GetWide();
}

NToWString::~NToWString() {
  SecureWipe(text_.data(), text_.size() * sizeof(wchar_t));
}
