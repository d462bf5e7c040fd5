#include "platform/crt/format_parser.h"

#include <climits>

namespace crt {
namespace {

// Reads a run of decimal digits into *value; false when it passes INT_MAX.
template <typename Char>
bool ReadNumber(const Char*& p, int* value) {
  long long n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > INT_MAX) return false;
  }
  *value = static_cast<int>(n);
  return true;
}

template <typename Char>
Length ReadLength(const Char*& p) {
  auto take = [&p](int n, Length length) {
    p += n;
    return length;
  };
  switch (*p) {
    case 'h':
      return p[1] == 'h' ? take(2, Length::kHH) : take(1, Length::kH);
    case 'l':
      return p[1] == 'l' ? take(2, Length::kLL) : take(1, Length::kL);
    case 'L':
      return take(1, Length::kLongDouble);
    case 'w':
      return take(1, Length::kW);
    case 'I':
      if (p[1] == '6' && p[2] == '4') return take(3, Length::kI64);
      if (p[1] == '3' && p[2] == '2') return take(3, Length::kI32);
      return take(1, Length::kI);
    case 'j':
      return take(1, Length::kJ);
    case 'z':
      return take(1, Length::kZ);
    case 't':
      return take(1, Length::kT);
    default:
      return Length::kNone;
  }
}

bool IntegerClass(Length length, ArgClass* cls) {
  switch (length) {
    case Length::kNone:
    case Length::kHH:
    case Length::kH:
    case Length::kL:
    case Length::kI32:
      *cls = ArgClass::kInt32;
      return true;
    case Length::kLL:
    case Length::kI64:
    case Length::kJ:
      *cls = ArgClass::kInt64;
      return true;
    case Length::kI:
    case Length::kZ:
    case Length::kT:
      *cls = ArgClass::kIntPtr;
      return true;
    case Length::kLongDouble:
    case Length::kW:
      return false;
  }
  return false;
}

// Whether a c/C/s/S conversion takes the wide form: an explicit h or l/w
// decides; otherwise lower case takes the format's width and upper case the
// other.
bool TakesWide(Length length, bool upper, bool wide_format, bool* wide) {
  switch (length) {
    case Length::kNone:
    case Length::kI32:  // integer sizes mean nothing to text
    case Length::kI64:
      *wide = upper != wide_format;
      return true;
    case Length::kH:
      *wide = false;
      return true;
    case Length::kL:
    case Length::kW:
      *wide = true;
      return true;
    default:
      return false;
  }
}

// Fills conversion->arg from its letter and length; false when they do not
// go together or the letter is unknown.
bool Classify(Conversion* c, bool wide_format) {
  switch (c->letter) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      return IntegerClass(c->length, &c->arg);
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      // Integer sizes mean nothing to a double and are ignored.
      switch (c->length) {
        case Length::kNone:
        case Length::kH:
        case Length::kL:
        case Length::kLL:
        case Length::kI32:
        case Length::kI64:
          c->arg = ArgClass::kDouble;
          return true;
        case Length::kLongDouble:
          c->arg = ArgClass::kLongDouble;
          return true;
        default:
          return false;
      }
    case 'c':
    case 'C':
    case 's':
    case 'S': {
      bool wide = false;
      if (!TakesWide(c->length, c->letter == 'C' || c->letter == 'S', wide_format, &wide)) {
        return false;
      }
      bool text = c->letter == 's' || c->letter == 'S';
      c->arg = text ? (wide ? ArgClass::kWideString : ArgClass::kNarrowString)
                    : (wide ? ArgClass::kWideChar : ArgClass::kNarrowChar);
      return true;
    }
    case 'p':
      c->arg = ArgClass::kPointer;
      return c->length == Length::kNone;
    case 'n':
      c->arg = ArgClass::kCountPointer;
      return c->length == Length::kNone;
    default:
      return false;
  }
}

}  // namespace

template <typename Char>
FormatReader<Char>::FormatReader(const Char* format)
    : start_(format), pos_(format), ok_(format != nullptr) {}

template <typename Char>
bool FormatReader<Char>::Next(FormatPiece<Char>* piece) {
  if (!ok_ || *pos_ == 0) return false;

  if (*pos_ != '%') {
    const Char* end = pos_;
    while (*end != 0 && *end != '%') ++end;
    piece->kind = FormatPiece<Char>::Kind::kText;
    piece->text = pos_;
    piece->length = static_cast<std::size_t>(end - pos_);
    pos_ = end;
    return true;
  }

  const Char* p = pos_ + 1;
  if (*p == '%') {
    piece->kind = FormatPiece<Char>::Kind::kText;
    piece->text = p;
    piece->length = 1;
    pos_ = p + 1;
    return true;
  }

  Conversion c;
  for (;; ++p) {
    if (*p == '-') {
      c.left = true;
    } else if (*p == '+') {
      c.plus = true;
    } else if (*p == ' ') {
      c.space = true;
    } else if (*p == '#') {
      c.alternate = true;
    } else if (*p == '0') {
      c.zero = true;
    } else {
      break;
    }
  }
  bool fits = true;
  if (*p == '*') {
    c.width_from_arg = true;
    ++p;
  } else {
    fits = ReadNumber(p, &c.width);
  }
  if (fits && *p == '.') {
    ++p;
    if (*p == '*') {
      c.precision_from_arg = true;
      ++p;
    } else {
      fits = ReadNumber(p, &c.precision);
    }
  }
  if (fits) {
    c.length = ReadLength(p);
    // Wide letters outside ASCII never name a conversion; keep them from
    // aliasing one when narrowed to char.
    if (*p > 0 && *p < 0x80) c.letter = static_cast<char>(*p);
  }
  if (!fits || c.letter == 0 || !Classify(&c, sizeof(Char) != 1)) {
    ok_ = false;
    return false;
  }
  piece->kind = FormatPiece<Char>::Kind::kConversion;
  piece->conversion = c;
  pos_ = p + 1;
  return true;
}

template class FormatReader<char>;
template class FormatReader<wchar_t>;

Argument ArgList::Next(ArgClass cls) {
  Argument a;
  a.cls = cls;
  switch (cls) {
    case ArgClass::kInt32:
    case ArgClass::kNarrowChar:
      a.integer = va_arg(list_, int);
      break;
    case ArgClass::kInt64:
      a.integer = va_arg(list_, std::int64_t);
      break;
    case ArgClass::kIntPtr:
      a.integer = static_cast<std::int64_t>(va_arg(list_, std::intptr_t));
      break;
    case ArgClass::kWideChar:
      a.integer = static_cast<std::int64_t>(va_arg(list_, std::wint_t));
      break;
    case ArgClass::kDouble:
      a.real = va_arg(list_, double);
      break;
    case ArgClass::kLongDouble:
      a.long_real = va_arg(list_, long double);
      break;
    case ArgClass::kPointer:
    case ArgClass::kCountPointer:
      a.pointer = va_arg(list_, const void*);
      break;
    case ArgClass::kNarrowString:
      a.narrow = va_arg(list_, const char*);
      break;
    case ArgClass::kWideString:
      a.wide = va_arg(list_, const wchar_t*);
      break;
  }
  return a;
}

}  // namespace crt
