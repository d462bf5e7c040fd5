#include "platform/crt/printf.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <type_traits>

#include "platform/crt/format_parser.h"

namespace crt {
namespace {

// Where one call's output goes: characters are stored while the buffer has
// room, and every character is counted, stored or not.
template <typename Char>
class Output {
 public:
  Output(Char* buf, std::size_t count) : buf_(buf), count_(count) {}

  void Put(const Char* s, std::size_t n) {
    std::size_t k = Room(n);
    if (k != 0) std::copy_n(s, k, buf_ + length_);
    length_ += n;
  }

  void Fill(Char c, std::size_t n) {
    std::size_t k = Room(n);
    if (k != 0) std::fill_n(buf_ + length_, k, c);
    length_ += n;
  }

  void PutAscii(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      Char c = static_cast<Char>(s[i]);
      Put(&c, 1);
    }
  }

  std::size_t length() const { return length_; }

 private:
  std::size_t Room(std::size_t n) const {
    return length_ >= count_ ? 0 : std::min(n, count_ - length_);
  }

  Char* buf_;
  std::size_t count_;
  std::size_t length_ = 0;
};

// Width and precision of one conversion once its '*' arguments are read.
struct Spec {
  bool left = false;
  std::size_t width = 0;
  int precision = -1;  // none
};

// Walks the text as characters of the output's width, at most `limit`
// units of it, handing each character's units to put(units, n); a
// character that would pass the limit is left out whole. Same-width text
// stops at the limit without reading further. Returns false when the
// locale cannot convert a character.
template <typename Char, typename Src, typename Put>
bool WalkText(const Src* text, std::size_t limit, Put&& put) {
  if constexpr (std::is_same_v<Char, Src>) {
    std::size_t n = 0;
    while (n < limit && text[n] != 0) ++n;
    put(text, n);
    return true;
  } else if constexpr (std::is_same_v<Char, char>) {
    std::mbstate_t state{};
    char units[MB_LEN_MAX];
    for (std::size_t used = 0; used < limit && *text != 0; ++text) {
      std::size_t n = std::wcrtomb(units, *text, &state);
      if (n == static_cast<std::size_t>(-1)) return false;
      if (n > limit - used) break;
      put(units, n);
      used += n;
    }
    return true;
  } else {
    std::mbstate_t state{};
    for (std::size_t used = 0; used < limit && *text != 0; ++used) {
      wchar_t unit = 0;
      std::size_t n = std::mbrtowc(&unit, text, MB_CUR_MAX, &state);
      if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) return false;
      put(&unit, 1);
      text += n;
    }
    return true;
  }
}

// Writes one conversion's output: `prefix` (sign, "0x"; ASCII), `zeros`
// zeros, then the body_len units that body() writes, padded to the width
// with spaces, or with zeros after the prefix when zero_pad is set.
template <typename Char, typename Body>
void Emit(Output<Char>& out, const Spec& s, bool zero_pad, const char* prefix,
          std::size_t prefix_len, std::size_t zeros, std::size_t body_len, Body&& body) {
  std::size_t len = prefix_len + zeros + body_len;
  std::size_t pad = s.width > len ? s.width - len : 0;
  if (!s.left && !zero_pad) out.Fill(' ', pad);
  out.PutAscii(prefix, prefix_len);
  if (!s.left && zero_pad) out.Fill('0', pad);
  out.Fill('0', zeros);
  body();
  if (s.left) out.Fill(' ', pad);
}

template <typename Char, typename Src>
bool PutText(Output<Char>& out, const Spec& s, bool zero_pad, const Src* text) {
  std::size_t limit = s.precision < 0 ? SIZE_MAX : static_cast<std::size_t>(s.precision);
  std::size_t len = 0;
  if (!WalkText<Char>(text, limit, [&](const Char*, std::size_t n) { len += n; })) return false;
  Emit(out, s, zero_pad, "", 0, 0, len, [&] {
    WalkText<Char>(text, limit, [&](const Char* units, std::size_t n) { out.Put(units, n); });
  });
  return true;
}

template <typename Char>
bool PutString(Output<Char>& out, const Spec& s, const Conversion& c, const Argument& a) {
  static constexpr Char kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  if (a.cls == ArgClass::kNarrowString) {
    if (a.narrow != nullptr) return PutText(out, s, c.zero, a.narrow);
  } else if (a.wide != nullptr) {
    return PutText(out, s, c.zero, a.wide);
  }
  return PutText(out, s, c.zero, kNull);
}

template <typename Char>
bool PutChar(Output<Char>& out, const Spec& s, const Conversion& c, const Argument& a) {
  Char units[MB_LEN_MAX];
  std::size_t n = 1;
  if (a.cls == ArgClass::kNarrowChar) {
    char ch = static_cast<char>(a.integer);
    if constexpr (std::is_same_v<Char, char>) {
      units[0] = ch;
    } else {
      std::wint_t wc = std::btowc(static_cast<unsigned char>(ch));
      if (wc == WEOF) return false;
      units[0] = static_cast<wchar_t>(wc);
    }
  } else {
    wchar_t wc = static_cast<wchar_t>(a.integer);
    if constexpr (std::is_same_v<Char, char>) {
      std::mbstate_t state{};
      n = std::wcrtomb(units, wc, &state);
      if (n == static_cast<std::size_t>(-1)) return false;
    } else {
      units[0] = wc;
    }
  }
  Emit(out, s, c.zero, "", 0, 0, n, [&] { out.Put(units, n); });
  return true;
}

unsigned IntegerBits(Length length) {
  switch (length) {
    case Length::kHH:
      return 8;
    case Length::kH:
      return 16;
    case Length::kNone:
    case Length::kL:
    case Length::kI32:
      return 32;
    case Length::kI:
    case Length::kZ:
    case Length::kT:
      return 8 * sizeof(std::intptr_t);
    default:
      return 64;
  }
}

// Integers, and %p as a pointer-sized %X with a digit for every nibble.
template <typename Char>
void PutInteger(Output<Char>& out, Spec s, const Conversion& c, const Argument& a) {
  char letter = c.letter;
  bool is_signed = letter == 'd' || letter == 'i';
  bool negative = false;
  std::uint64_t magnitude = 0;
  if (c.arg == ArgClass::kPointer) {
    letter = 'X';
    s.precision = static_cast<int>(2 * sizeof(void*));
    magnitude = reinterpret_cast<std::uintptr_t>(a.pointer);
  } else {
    // The value as the length says it was passed: hh and h narrow the int
    // that carried it, l stays 32 bits.
    unsigned size = IntegerBits(c.length);
    std::uint64_t mask = size == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << size) - 1;
    std::uint64_t bits = static_cast<std::uint64_t>(a.integer) & mask;
    negative = is_signed && ((bits >> (size - 1)) & 1) != 0;
    magnitude = negative ? (0 - bits) & mask : bits;
  }

  unsigned base = letter == 'o' ? 8 : (letter == 'x' || letter == 'X') ? 16 : 10;
  const char* digit_chars = letter == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];
  std::size_t nd = 0;
  for (std::uint64_t m = magnitude; m != 0; m /= base)
    digits[sizeof digits - ++nd] = digit_chars[m % base];

  std::size_t min_digits = s.precision < 0 ? 1 : static_cast<std::size_t>(s.precision);
  std::size_t zeros = min_digits > nd ? min_digits - nd : 0;
  if (letter == 'o' && c.alternate && zeros == 0) zeros = 1;

  char prefix[2];
  std::size_t prefix_len = 0;
  if (is_signed) {
    if (negative) {
      prefix[prefix_len++] = '-';
    } else if (c.plus) {
      prefix[prefix_len++] = '+';
    } else if (c.space) {
      prefix[prefix_len++] = ' ';
    }
  } else if ((letter == 'x' || letter == 'X') && c.alternate && magnitude != 0) {
    prefix[prefix_len++] = '0';
    prefix[prefix_len++] = letter;
  }
  const char* body = digits + sizeof digits - nd;
  Emit(out, s, c.zero && s.precision < 0, prefix, prefix_len, zeros, nd,
       [&] { out.PutAscii(body, nd); });
}

// Floating point through the C library, one conversion without its width
// (padded here like every other conversion).
template <typename Char>
bool PutFloat(Output<Char>& out, const Spec& s, const Conversion& c, const Argument& a) {
  char spec[12];
  std::size_t k = 0;
  spec[k++] = '%';
  if (c.plus) spec[k++] = '+';
  if (c.space) spec[k++] = ' ';
  if (c.alternate) spec[k++] = '#';
  spec[k++] = '.';
  spec[k++] = '*';
  if (c.arg == ArgClass::kLongDouble) spec[k++] = 'L';
  spec[k++] = c.letter;
  spec[k] = 0;

  auto print = [&](char* into, std::size_t size) {
    return c.arg == ArgClass::kLongDouble
               ? std::snprintf(into, size, spec, s.precision, a.long_real)
               : std::snprintf(into, size, spec, s.precision, a.real);
  };
  char small[128];
  const char* text = small;
  std::unique_ptr<char[]> large;
  int n = print(small, sizeof small);
  if (n < 0) return false;
  if (static_cast<std::size_t>(n) >= sizeof small) {
    large.reset(new (std::nothrow) char[static_cast<std::size_t>(n) + 1]);
    if (!large || print(large.get(), static_cast<std::size_t>(n) + 1) != n) return false;
    text = large.get();
  }

  std::size_t prefix_len = 0;
  if (text[0] == '+' || text[0] == '-' || text[0] == ' ') ++prefix_len;
  if (text[prefix_len] == '0' && (text[prefix_len + 1] == 'x' || text[prefix_len + 1] == 'X')) {
    prefix_len += 2;
  }
  bool finite = c.arg == ArgClass::kLongDouble ? std::isfinite(a.long_real) : std::isfinite(a.real);
  const char* body = text + prefix_len;
  std::size_t body_len = 0;
  if (!WalkText<Char>(body, SIZE_MAX, [&](const Char*, std::size_t u) { body_len += u; })) {
    return false;
  }
  Emit(out, s, c.zero && finite, text, prefix_len, 0, body_len, [&] {
    WalkText<Char>(body, SIZE_MAX, [&](const Char* units, std::size_t u) { out.Put(units, u); });
  });
  return true;
}

template <typename Char>
bool PutConversion(Output<Char>& out, const Conversion& c, ArgList& args) {
  Spec s;
  s.left = c.left;
  s.width = static_cast<std::size_t>(c.width);
  s.precision = c.precision;
  if (c.width_from_arg) {
    std::int64_t w = args.Next(ArgClass::kInt32).integer;
    if (w < 0) {
      s.left = true;
      w = -w;
    }
    s.width = static_cast<std::size_t>(w);
  }
  if (c.precision_from_arg) {
    std::int64_t p = args.Next(ArgClass::kInt32).integer;
    s.precision = p < 0 ? -1 : static_cast<int>(p);
  }
  Argument a = args.Next(c.arg);
  switch (c.arg) {
    case ArgClass::kInt32:
    case ArgClass::kInt64:
    case ArgClass::kIntPtr:
    case ArgClass::kPointer:
      PutInteger(out, s, c, a);
      return true;
    case ArgClass::kDouble:
    case ArgClass::kLongDouble:
      return PutFloat(out, s, c, a);
    case ArgClass::kNarrowString:
    case ArgClass::kWideString:
      return PutString(out, s, c, a);
    case ArgClass::kNarrowChar:
    case ArgClass::kWideChar:
      return PutChar(out, s, c, a);
    case ArgClass::kCountPointer:
      return false;
  }
  return false;
}

template <typename Char>
int Fail(Char* buf, std::size_t count) {
  if (buf != nullptr && count != 0) buf[0] = 0;
  return -1;
}

// Whether the whole format is one this formatter will print: valid, and
// free of %n.
template <typename Char>
bool Printable(const Char* fmt) {
  FormatReader<Char> reader(fmt);
  FormatPiece<Char> piece;
  while (reader.Next(&piece)) {
    if (piece.kind == FormatPiece<Char>::Kind::kConversion &&
        piece.conversion.arg == ArgClass::kCountPointer) {
      return false;
    }
  }
  return reader.ok();
}

template <typename Char>
int Format(Char* buf, std::size_t count, const Char* fmt, va_list args) {
  if (buf == nullptr && count != 0) return -1;
  // Checked whole first, so that a bad conversion late in the format
  // leaves nothing of the earlier text behind.
  if (!Printable(fmt)) return Fail(buf, count);

  Output<Char> out(buf, count);
  ArgList list(args);
  FormatReader<Char> reader(fmt);
  FormatPiece<Char> piece;
  while (reader.Next(&piece)) {
    if (piece.kind == FormatPiece<Char>::Kind::kText) {
      out.Put(piece.text, piece.length);
    } else if (!PutConversion(out, piece.conversion, list)) {
      return Fail(buf, count);
    }
    if (out.length() > INT_MAX) return Fail(buf, count);
  }

  std::size_t len = out.length();
  if (len > count && buf != nullptr) return -1;
  if (len < count) buf[len] = 0;
  return static_cast<int>(len);
}

}  // namespace

int vsnprintf(char* buf, std::size_t count, const char* fmt, va_list args) {
  return Format(buf, count, fmt, args);
}

int snprintf(char* buf, std::size_t count, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int n = Format(buf, count, fmt, args);
  va_end(args);
  return n;
}

int vsnwprintf(wchar_t* buf, std::size_t count, const wchar_t* fmt, va_list args) {
  return Format(buf, count, fmt, args);
}

int snwprintf(wchar_t* buf, std::size_t count, const wchar_t* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  int n = Format(buf, count, fmt, args);
  va_end(args);
  return n;
}

int vscprintf(const char* fmt, va_list args) {
  return Format(static_cast<char*>(nullptr), 0, fmt, args);
}

int vscwprintf(const wchar_t* fmt, va_list args) {
  return Format(static_cast<wchar_t*>(nullptr), 0, fmt, args);
}

}  // namespace crt
