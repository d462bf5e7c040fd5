// Reading printf-style formats of the Windows C run-time dialect.
//
// Every printf-style format of the system is written in that dialect: `l`
// means 32 bits on integers (DWORD, LONG, ULONG), `I64` 64 bits, `%s` is
// text of the format's own width and `%S` text of the other width. The
// formatter (platform/crt/printf.h) and anyone who must know what a format
// takes from its argument list before formatting (the logger's argument
// check) walk the format with the same FormatReader, and fetch the
// arguments with the same ArgList.
//
// The grammar of one conversion is
//
//   '%' flags* width? ('.' precision?)? length? letter
//
//   flags      '-' '+' ' ' '#' '0', in any order, repeated or not
//   width      digits, or '*': an int taken from the arguments (negative
//              means '-' and its magnitude)
//   precision  digits, or '*': an int from the arguments (negative means
//              none); a lone '.' is a precision of 0
//   length     hh h l ll L w I I32 I64 j z t
//   letter     d i o u x X   integers; hh, h, none, l and I32 take a 32-bit
//                            int, ll, I64 and j a 64-bit one, I, z and t a
//                            pointer-sized one
//              e E f F g G a A   long double with L; double with none, or
//                            with h, l, ll, I32 or I64, which are ignored
//              c C s S       characters and text (below); I32 and I64 are
//                            ignored
//              p             pointer, printed as hexadecimal digits
//              n             int*; the formatter refuses it (see printf.h)
//
// "%%" is a literal percent sign. Characters and text take the format's own
// width with `c`/`s`, the other width with `C`/`S`; `h` forces narrow, and
// `l` or `w` force wide:
//
//   format   narrow text   wide text         narrow char   wide char
//   narrow   %s %hs %hS    %S %ls %lS %ws    %c %hc %hC    %C %lc %lC %wc
//   wide     %S %hs %hS    %s %ls %lS %ws    %C %hc %hC    %c %lc %lC %wc
//
// Anything else after a '%' (an unknown letter, a length that does not go
// with its letter, a '%' at the very end, a width or precision beyond
// INT_MAX) makes the whole format invalid.
//
// Thread safety: a FormatReader or an ArgList is used by one thread at a
// time; distinct objects are independent.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cwchar>

namespace crt {

// What a conversion takes from the argument list, after any '*' ints.
enum class ArgClass : std::uint8_t {
  kInt32,         // int (hh, h, none, l, I32); hh and h values arrive as int
  kInt64,         // 64-bit integer (ll, I64, j)
  kIntPtr,        // pointer-sized integer (I, z, t)
  kDouble,        // double (floats without L)
  kLongDouble,    // long double (L)
  kPointer,       // const void* (%p)
  kNarrowString,  // const char*, may be null
  kWideString,    // const wchar_t*, may be null
  kNarrowChar,    // char, promoted to int
  kWideChar,      // wchar_t, passed as wint_t
  kCountPointer,  // int* (%n)
};

enum class Length : std::uint8_t {
  kNone,
  kHH,          // hh
  kH,           // h
  kL,           // l
  kLL,          // ll
  kLongDouble,  // L
  kW,           // w
  kI,           // I
  kI32,         // I32
  kI64,         // I64
  kJ,           // j
  kZ,           // z
  kT,           // t
};

// One conversion of a format, as written.
struct Conversion {
  bool left = false;                // '-'
  bool plus = false;                // '+'
  bool space = false;               // ' '
  bool alternate = false;           // '#'
  bool zero = false;                // '0'
  bool width_from_arg = false;      // '*': an int argument comes first
  bool precision_from_arg = false;  // '*': an int argument comes next
  int width = 0;                    // digits written; 0 when none
  int precision = -1;               // digits written; -1 when none
  Length length = Length::kNone;
  char letter = 0;  // the conversion letter, e.g. 'd', 'S'
  ArgClass arg = ArgClass::kInt32;

  // The number of arguments the conversion takes: its '*' ints and value.
  int ArgCount() const { return 1 + width_from_arg + precision_from_arg; }
};

// One piece of a format: a run of literal text or one conversion.
template <typename Char>
struct FormatPiece {
  enum class Kind : std::uint8_t { kText, kConversion };
  Kind kind = Kind::kText;
  const Char* text = nullptr;  // kText: points into the format (not
  std::size_t length = 0;      // terminated); "%%" gives the text "%"
  Conversion conversion;       // kConversion
};

// Walks a format from its start:
//
//   crt::FormatReader<wchar_t> reader(fmt);
//   crt::FormatPiece<wchar_t> piece;
//   while (reader.Next(&piece)) { ... }
//   if (!reader.ok()) { ... invalid format ... }
//
// Char is char for narrow formats and wchar_t for wide ones. A null format
// is invalid. The reader never allocates and never reads past the format's
// terminator.
template <typename Char>
class FormatReader {
 public:
  explicit FormatReader(const Char* format);

  // Reads the next piece into *piece. Returns false at the end of the
  // format or at the first invalid conversion (then ok() is false and the
  // reader stays there).
  bool Next(FormatPiece<Char>* piece);

  // False once the reader met an invalid conversion or a null format.
  bool ok() const { return ok_; }
  // Offset in characters of the next unread character; at an invalid
  // conversion, the offset of its '%'.
  std::size_t offset() const { return static_cast<std::size_t>(pos_ - start_); }

 private:
  const Char* start_;
  const Char* pos_;
  bool ok_;
};

extern template class FormatReader<char>;
extern template class FormatReader<wchar_t>;

// One argument fetched by ArgList::Next; only the member of its class is
// set. Integers are widened to 64 bits with their own signedness as passed
// (an int sign-extends, a wint_t does not); the formatter narrows them
// again by the conversion's length.
struct Argument {
  ArgClass cls = ArgClass::kInt32;
  std::int64_t integer = 0;       // kInt32, kInt64, kIntPtr, kNarrowChar, kWideChar
  double real = 0;                // kDouble
  long double long_real = 0;      // kLongDouble
  const void* pointer = nullptr;  // kPointer, kCountPointer
  const char* narrow = nullptr;   // kNarrowString
  const wchar_t* wide = nullptr;  // kWideString
};

// A private copy of a variadic argument list, read in order by class. Each
// '*' of a conversion is read as ArgClass::kInt32 before its value. Reading
// past the arguments the caller passed is undefined, as with va_arg.
class ArgList {
 public:
  explicit ArgList(va_list args) { va_copy(list_, args); }
  ~ArgList() { va_end(list_); }
  ArgList(const ArgList&) = delete;
  ArgList& operator=(const ArgList&) = delete;

  Argument Next(ArgClass cls);

 private:
  va_list list_;
};

}  // namespace crt
