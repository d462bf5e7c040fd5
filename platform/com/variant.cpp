#include "platform/com/variant.h"

#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "platform/com/safearray.h"
#include "platform/win32/time.h"

namespace {

using Int128 = __int128;
using UInt128 = unsigned __int128;

constexpr UInt128 kDecimalLimit = UInt128{1} << 96;  // DECIMAL magnitudes are below this
constexpr int kMaxScale = 28;
// Dates lie strictly between these: 0100-01-01 00:00 is -657434 and its
// times of day -657434.x; 10000-01-01 is 2958466.
constexpr double kMinDate = -657435.0;
constexpr double kMaxDate = 2958466.0;

bool IsScalarType(VARTYPE vt) {
  switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN:
    case VT_DECIMAL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8:
    case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// Tags a VARIANT may carry; VT_VARIANT only by reference or in an array.
bool IsValidTag(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE flags = vt & ~VT_TYPEMASK;
  if (flags == 0) return base == VT_EMPTY || base == VT_NULL || IsScalarType(base);
  if (flags == VT_BYREF) return IsScalarType(base) || base == VT_VARIANT;
  if (flags == VT_ARRAY || flags == (VT_ARRAY | VT_BYREF)) {
    return (IsScalarType(base) && base != VT_DISPATCH && base != VT_UNKNOWN) ||
           base == VT_VARIANT;
  }
  return false;
}

// A number on its way between types: exact (±magnitude / 10^scale) or real.
struct Number {
  bool exact = true;
  bool negative = false;
  UInt128 magnitude = 0;  // below 2^127
  int scale = 0;          // 0..28
  double real = 0;
};

UInt128 PowerOfTen(int n) {
  UInt128 p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

Number FromSigned(LONGLONG value) {
  Number n;
  n.negative = value < 0;
  n.magnitude = n.negative ? UInt128(-(Int128)value) : UInt128(value);
  return n;
}

Number FromUnsigned(ULONGLONG value) {
  Number n;
  n.magnitude = value;
  return n;
}

Number FromReal(double value) {
  Number n;
  n.exact = false;
  n.real = value;
  return n;
}

// Divides by 10^digits, rounding half to even.
UInt128 DivideRounded(UInt128 value, int digits) {
  if (digits == 0) return value;
  const UInt128 divisor = PowerOfTen(digits);
  UInt128 quotient = value / divisor;
  const UInt128 twice = (value % divisor) * 2;
  if (twice > divisor || (twice == divisor && (quotient & 1) != 0)) ++quotient;
  return quotient;
}

std::string DigitsOf(UInt128 value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return digits;
}

// The exact number as text: no exponent, no trailing fractional zeros.
std::string ExactText(const Number& n) {
  std::string digits = DigitsOf(n.magnitude);
  if (n.scale > 0) {
    if (digits.size() <= static_cast<std::size_t>(n.scale)) {
      digits.insert(0, static_cast<std::size_t>(n.scale) + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<std::size_t>(n.scale), 1, '.');
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  if (n.negative && n.magnitude != 0) digits.insert(0, 1, '-');
  return digits;
}

double RealOf(const Number& n) {
  if (!n.exact) return n.real;
  std::string text = DigitsOf(n.magnitude) + "e-" + std::to_string(n.scale);
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return n.negative ? -value : value;
}

std::string RealText(double value, int precision) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::general, precision);
  std::string text(buffer, result.ptr);
  for (char& c : text) {
    if (c == 'e') c = 'E';
  }
  return text;
}

// Parses [sign] digits [. digits] [e [sign] digits]. Exact when the digits
// fit; real otherwise; DISP_E_OVERFLOW beyond the range of a double.
HRESULT ParseNumber(const std::string& text, Number* out) {
  std::size_t i = 0;
  const std::size_t end = text.size();
  Number n;
  if (i < end && (text[i] == '+' || text[i] == '-')) n.negative = text[i++] == '-';
  const std::size_t mantissaStart = i;
  bool anyDigit = false;
  bool fits = true;
  int fractionDigits = 0;
  bool inFraction = false;
  for (; i < end; ++i) {
    const char c = text[i];
    if (c == '.' && !inFraction) {
      inFraction = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    anyDigit = true;
    if (n.magnitude > (UInt128(1) << 120) / 10) {
      fits = false;  // too many significant digits for an exact value
    } else {
      n.magnitude = n.magnitude * 10 + static_cast<unsigned>(c - '0');
      if (inFraction) ++fractionDigits;
    }
  }
  if (!anyDigit) return DISP_E_TYPEMISMATCH;
  long exponent = 0;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    bool negativeExponent = false;
    if (j < end && (text[j] == '+' || text[j] == '-')) negativeExponent = text[j++] == '-';
    if (j == end || text[j] < '0' || text[j] > '9') return DISP_E_TYPEMISMATCH;
    for (; j < end && text[j] >= '0' && text[j] <= '9'; ++j) {
      if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
    }
    if (negativeExponent) exponent = -exponent;
    i = j;
  }
  if (i != end) return DISP_E_TYPEMISMATCH;

  long scale = fractionDigits - exponent;
  if (fits && scale < 0 && scale >= -38) {
    for (; scale < 0 && n.magnitude <= (UInt128(1) << 120) / 10; ++scale) n.magnitude *= 10;
  }
  if (fits && scale > kMaxScale && scale <= 60) {
    n.magnitude = DivideRounded(n.magnitude, static_cast<int>(scale - kMaxScale));
    scale = kMaxScale;
  }
  if (fits && scale >= 0 && scale <= kMaxScale) {
    n.scale = static_cast<int>(scale);
    *out = n;
    return S_OK;
  }
  double value = 0;
  const auto result = std::from_chars(text.data() + mantissaStart, text.data() + end, value);
  if (result.ptr != text.data() + end && result.ec != std::errc::result_out_of_range) {
    return DISP_E_TYPEMISMATCH;
  }
  if (result.ec == std::errc::result_out_of_range) {
    if (exponent > 0) return DISP_E_OVERFLOW;
    value = 0;  // too small to show
  }
  *out = FromReal(n.negative ? -value : value);
  return S_OK;
}

// The text of a BSTR as ASCII with the surrounding blanks removed; false
// when it holds anything else.
bool AsciiText(BSTR text, std::string* out) {
  const UINT length = SysStringLen(text);
  UINT first = 0;
  UINT last = length;
  while (first < last && std::iswspace(static_cast<wint_t>(text[first]))) ++first;
  while (last > first && std::iswspace(static_cast<wint_t>(text[last - 1]))) --last;
  out->clear();
  for (UINT i = first; i < last; ++i) {
    if (text[i] <= 0 || text[i] > 0x7F) return false;
    out->push_back(static_cast<char>(text[i]));
  }
  return true;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// "YYYY-MM-DD", "YYYY-MM-DD hh:mm[:ss]" (or with 'T'), "hh:mm[:ss]".
bool ParseDate(const std::string& text, DATE* date) {
  SYSTEMTIME time{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int used = 0;
  const char* p = text.c_str();
  if (std::sscanf(p, "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3) {
    p += used;
    if (*p == ' ' || *p == 'T') ++p;
    else if (*p != '\0') return false;
  } else {
    year = 1899;
    month = 12;
    day = 30;
  }
  if (*p != '\0') {
    used = 0;
    const int fields = std::sscanf(p, "%2d:%2d%n:%2d%n", &hour, &minute, &used, &second, &used);
    if (fields < 2 || p[used] != '\0') return false;
  } else if (p == text.c_str()) {
    return false;
  }
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return false;
  }
  time.wYear = static_cast<WORD>(year);
  time.wMonth = static_cast<WORD>(month);
  time.wDay = static_cast<WORD>(day);
  time.wHour = static_cast<WORD>(hour);
  time.wMinute = static_cast<WORD>(minute);
  time.wSecond = static_cast<WORD>(second);
  return SystemTimeToVariantTime(&time, date) != 0;
}

bool DateText(DATE date, std::string* out) {
  SYSTEMTIME time{};
  if (VariantTimeToSystemTime(date, &time) == 0) return false;
  char buffer[64];
  const bool dayZero = time.wYear == 1899 && time.wMonth == 12 && time.wDay == 30;
  const bool midnight = time.wHour == 0 && time.wMinute == 0 && time.wSecond == 0;
  if (dayZero) {
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", unsigned{time.wHour},
                  unsigned{time.wMinute}, unsigned{time.wSecond});
  } else if (midnight) {
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", unsigned{time.wYear},
                  unsigned{time.wMonth}, unsigned{time.wDay});
  } else {
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{time.wYear},
                  unsigned{time.wMonth}, unsigned{time.wDay}, unsigned{time.wHour},
                  unsigned{time.wMinute}, unsigned{time.wSecond});
  }
  *out = buffer;
  return true;
}

HRESULT TextResult(const std::string& text, VARIANT* out) {
  std::wstring wide(text.begin(), text.end());
  out->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  return S_OK;
}

// The source as a number, for every numeric target.
HRESULT NumberOf(const VARIANT& source, Number* n) {
  switch (source.vt) {
    case VT_EMPTY: *n = Number{}; return S_OK;
    case VT_I1: *n = FromSigned(static_cast<signed char>(source.cVal)); return S_OK;
    case VT_I2: *n = FromSigned(source.iVal); return S_OK;
    case VT_I4: *n = FromSigned(source.lVal); return S_OK;
    case VT_INT: *n = FromSigned(source.intVal); return S_OK;
    case VT_I8: *n = FromSigned(source.llVal); return S_OK;
    case VT_UI1: *n = FromUnsigned(source.bVal); return S_OK;
    case VT_UI2: *n = FromUnsigned(source.uiVal); return S_OK;
    case VT_UI4: *n = FromUnsigned(source.ulVal); return S_OK;
    case VT_UINT: *n = FromUnsigned(source.uintVal); return S_OK;
    case VT_UI8: *n = FromUnsigned(source.ullVal); return S_OK;
    case VT_BOOL: *n = FromSigned(source.boolVal != 0 ? -1 : 0); return S_OK;
    case VT_R4: *n = FromReal(source.fltVal); return S_OK;
    case VT_R8: *n = FromReal(source.dblVal); return S_OK;
    case VT_DATE: *n = FromReal(source.date); return S_OK;
    case VT_CY:
      *n = FromSigned(source.cyVal.int64);
      n->scale = 4;
      return S_OK;
    case VT_DECIMAL: {
      const DECIMAL& d = source.decVal;
      if (d.scale > kMaxScale || (d.sign & ~DECIMAL_NEG) != 0) return E_INVALIDARG;
      n->exact = true;
      n->negative = d.sign == DECIMAL_NEG;
      n->magnitude = (UInt128{d.Hi32} << 64) | d.Lo64;
      n->scale = d.scale;
      return S_OK;
    }
    case VT_BSTR: {
      std::string text;
      if (!AsciiText(source.bstrVal, &text)) return DISP_E_TYPEMISMATCH;
      return ParseNumber(text, n);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Rounds to an integer (half to even); false when out of every integer range.
bool IntegerOf(const Number& n, Int128* value) {
  if (n.exact) {
    const UInt128 whole = DivideRounded(n.magnitude, n.scale);
    *value = n.negative ? -Int128(whole) : Int128(whole);
    return true;
  }
  if (!std::isfinite(n.real) || std::fabs(n.real) >= 1e38) return false;
  *value = static_cast<Int128>(std::nearbyint(n.real));
  return true;
}

HRESULT ToInteger(const Number& n, VARTYPE vt, VARIANT* out) {
  Int128 value = 0;
  if (!IntegerOf(n, &value)) return DISP_E_OVERFLOW;
  Int128 low = 0;
  Int128 high = 0;
  switch (vt) {
    case VT_I1: low = -128; high = 127; break;
    case VT_UI1: high = 0xFF; break;
    case VT_I2: low = -32768; high = 32767; break;
    case VT_UI2: high = 0xFFFF; break;
    case VT_I4: case VT_INT: low = INT32_MIN; high = INT32_MAX; break;
    case VT_UI4: case VT_UINT: high = UINT32_MAX; break;
    case VT_I8: low = INT64_MIN; high = INT64_MAX; break;
    case VT_UI8: high = UINT64_MAX; break;
  }
  if (value < low || value > high) return DISP_E_OVERFLOW;
  switch (vt) {
    case VT_I1: out->cVal = static_cast<char>(value); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(value); break;
    case VT_I2: out->iVal = static_cast<std::int16_t>(value); break;
    case VT_UI2: out->uiVal = static_cast<WORD>(value); break;
    case VT_I4: out->lVal = static_cast<LONG>(value); break;
    case VT_INT: out->intVal = static_cast<INT>(value); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(value); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(value); break;
    case VT_I8: out->llVal = static_cast<LONGLONG>(value); break;
    case VT_UI8: out->ullVal = static_cast<ULONGLONG>(value); break;
  }
  out->vt = vt;
  return S_OK;
}

HRESULT ToDecimal(Number n, VARIANT* out) {
  if (!n.exact) {
    if (!std::isfinite(n.real)) return DISP_E_OVERFLOW;
    // Fifteen significant digits, as the real's text form shows it.
    if (FAILED(ParseNumber(RealText(n.real, 15), &n)) || !n.exact) return DISP_E_OVERFLOW;
  }
  if (n.magnitude >= kDecimalLimit) return DISP_E_OVERFLOW;
  DECIMAL d{};
  d.scale = static_cast<BYTE>(n.scale);
  d.sign = n.negative && n.magnitude != 0 ? DECIMAL_NEG : 0;
  d.Hi32 = static_cast<ULONG>(n.magnitude >> 64);
  d.Lo64 = static_cast<ULONGLONG>(n.magnitude);
  out->decVal = d;
  out->vt = VT_DECIMAL;
  return S_OK;
}

HRESULT ToCurrency(const Number& n, VARIANT* out) {
  Int128 units = 0;
  if (n.exact) {
    if (n.scale <= 4) {
      if (n.magnitude > (UInt128(1) << 100)) return DISP_E_OVERFLOW;
      const UInt128 scaled = n.magnitude * PowerOfTen(4 - n.scale);
      units = n.negative ? -Int128(scaled) : Int128(scaled);
    } else {
      const UInt128 scaled = DivideRounded(n.magnitude, n.scale - 4);
      units = n.negative ? -Int128(scaled) : Int128(scaled);
    }
  } else {
    const double scaled = n.real * 10000.0;
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 1e38) return DISP_E_OVERFLOW;
    units = static_cast<Int128>(std::nearbyint(scaled));
  }
  if (units < INT64_MIN || units > INT64_MAX) return DISP_E_OVERFLOW;
  out->cyVal.int64 = static_cast<LONGLONG>(units);
  out->vt = VT_CY;
  return S_OK;
}

HRESULT ToText(const VARIANT& source, WORD flags, VARIANT* out) {
  std::string text;
  switch (source.vt) {
    case VT_EMPTY:
      break;
    case VT_BOOL:
      if ((flags & VARIANT_ALPHABOOL) != 0) {
        text = source.boolVal != 0 ? "True" : "False";
      } else {
        text = source.boolVal != 0 ? "-1" : "0";
      }
      break;
    case VT_R4:
      text = RealText(source.fltVal, 7);
      break;
    case VT_R8:
      text = RealText(source.dblVal, 15);
      break;
    case VT_DATE:
      if (!DateText(source.date, &text)) return DISP_E_OVERFLOW;
      break;
    default: {
      Number n;
      const HRESULT hr = NumberOf(source, &n);
      if (FAILED(hr)) return hr;
      text = ExactText(n);
    }
  }
  return TextResult(text, out);
}

HRESULT ToBool(const VARIANT& source, VARIANT* out) {
  if (source.vt == VT_BSTR) {
    std::string text;
    if (AsciiText(source.bstrVal, &text)) {
      if (EqualsIgnoringCase(text, "true") || EqualsIgnoringCase(text, "false")) {
        out->boolVal = EqualsIgnoringCase(text, "true") ? VARIANT_TRUE : VARIANT_FALSE;
        out->vt = VT_BOOL;
        return S_OK;
      }
    }
  }
  Number n;
  const HRESULT hr = NumberOf(source, &n);
  if (FAILED(hr)) return hr;
  const bool value = n.exact ? n.magnitude != 0 : n.real != 0;
  out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  out->vt = VT_BOOL;
  return S_OK;
}

HRESULT ToReal(const VARIANT& source, VARTYPE vt, VARIANT* out) {
  double value = 0;
  if (vt == VT_DATE && source.vt == VT_BSTR) {
    std::string text;
    if (!AsciiText(source.bstrVal, &text) || !ParseDate(text, &value)) {
      return DISP_E_TYPEMISMATCH;
    }
  } else {
    Number n;
    const HRESULT hr = NumberOf(source, &n);
    if (FAILED(hr)) return hr;
    value = RealOf(n);
  }
  switch (vt) {
    case VT_R4:
      if (std::isnan(value) || (std::isfinite(value) && std::fabs(value) > FLT_MAX)) {
        return DISP_E_OVERFLOW;
      }
      out->fltVal = static_cast<float>(value);
      break;
    case VT_R8:
      out->dblVal = value;
      break;
    case VT_DATE:
      if (!(value > kMinDate && value < kMaxDate)) return DISP_E_OVERFLOW;
      out->date = value;
      break;
  }
  out->vt = vt;
  return S_OK;
}

HRESULT ToObject(const VARIANT& source, VARTYPE vt, VARIANT* out) {
  if (source.vt == VT_EMPTY) {
    out->punkVal = nullptr;
  } else if (vt == VT_UNKNOWN && source.vt == VT_DISPATCH) {
    out->punkVal = source.pdispVal;
    if (out->punkVal != nullptr) out->punkVal->AddRef();
  } else if (vt == VT_DISPATCH && source.vt == VT_UNKNOWN) {
    void* dispatch = nullptr;
    if (source.punkVal == nullptr ||
        FAILED(source.punkVal->QueryInterface(IID_IDispatch, &dispatch))) {
      return DISP_E_TYPEMISMATCH;
    }
    out->pdispVal = static_cast<IDispatch*>(dispatch);
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  out->vt = vt;
  return S_OK;
}

// The value a VT_BYREF variant points at, as a variant that owns nothing.
bool Dereference(const VARIANT& source, VARIANT* view) {
  if ((source.vt & VT_BYREF) == 0) {
    *view = source;
    return true;
  }
  const VARTYPE base = source.vt & ~VT_BYREF;
  if (source.byref == nullptr) return false;
  if (base == VT_VARIANT) {
    if ((source.pvarVal->vt & VT_BYREF) != 0) return false;
    *view = *source.pvarVal;
    return true;
  }
  VariantInit(view);
  view->vt = base;
  std::size_t size = 0;
  if ((base & VT_ARRAY) != 0) {
    size = sizeof(SAFEARRAY*);
  } else {
    switch (base) {
      case VT_I1: case VT_UI1: size = 1; break;
      case VT_I2: case VT_UI2: case VT_BOOL: size = 2; break;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: size = 4; break;
      case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY: size = 8; break;
      case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: size = sizeof(void*); break;
      case VT_DECIMAL: size = sizeof(DECIMAL); break;
      default: return false;
    }
  }
  if (base == VT_DECIMAL) {
    std::memcpy(&view->decVal, source.byref, size);
  } else {
    std::memcpy(&view->llVal, source.byref, size);
  }
  return true;
}

HRESULT Convert(const VARIANT& source, WORD flags, VARTYPE vt, VARIANT* out) {
  if (source.vt == vt) return VariantCopy(out, &source);
  if (vt == VT_EMPTY) return S_OK;
  if (vt == VT_NULL) {
    if (source.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    out->vt = VT_NULL;
    return S_OK;
  }
  if ((source.vt & VT_ARRAY) != 0 || (vt & VT_ARRAY) != 0) return DISP_E_TYPEMISMATCH;
  if (source.vt == VT_NULL || source.vt == VT_ERROR || vt == VT_ERROR) {
    return DISP_E_TYPEMISMATCH;
  }
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) return ToObject(source, vt, out);
  if (source.vt == VT_DISPATCH || source.vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  switch (vt) {
    case VT_BSTR: return ToText(source, flags, out);
    case VT_BOOL: return ToBool(source, out);
    case VT_R4: case VT_R8: case VT_DATE: return ToReal(source, vt, out);
    default: break;
  }
  Number n;
  const HRESULT hr = NumberOf(source, &n);
  if (FAILED(hr)) return hr;
  if (vt == VT_DECIMAL) return ToDecimal(n, out);
  if (vt == VT_CY) return ToCurrency(n, out);
  return ToInteger(n, vt, out);
}

}  // namespace

void VariantInit(VARIANT* value) {
  std::memset(value, 0, sizeof *value);
  value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  if (!IsValidTag(value->vt)) return DISP_E_BADVARTYPE;
  if ((value->vt & VT_BYREF) == 0) {
    if ((value->vt & VT_ARRAY) != 0) {
      const HRESULT hr = SafeArrayDestroy(value->parray);
      if (FAILED(hr)) return hr;
    } else if (value->vt == VT_BSTR) {
      SysFreeString(value->bstrVal);
    } else if ((value->vt == VT_UNKNOWN || value->vt == VT_DISPATCH) &&
               value->punkVal != nullptr) {
      value->punkVal->Release();
    }
  }
  VariantInit(value);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsValidTag(source->vt)) return DISP_E_BADVARTYPE;
  if (dest == source) return S_OK;
  const HRESULT cleared = VariantClear(dest);
  if (FAILED(cleared)) return cleared;
  VARIANT copy = *source;
  if ((source->vt & VT_BYREF) == 0) {
    if ((source->vt & VT_ARRAY) != 0) {
      const HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    } else if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
      copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) &&
               source->punkVal != nullptr) {
      source->punkVal->AddRef();
    }
  }
  *dest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, WORD flags, VARTYPE vt) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsValidTag(source->vt)) return DISP_E_BADVARTYPE;
  if ((vt & VT_BYREF) != 0 || (vt != VT_EMPTY && vt != VT_NULL && !IsValidTag(vt))) {
    return DISP_E_BADVARTYPE;
  }
  VARIANT view;
  if (!Dereference(*source, &view)) return DISP_E_BADVARTYPE;
  VARIANT converted;
  VariantInit(&converted);
  const HRESULT hr = Convert(view, flags, vt, &converted);
  if (FAILED(hr)) return hr;
  // Only now may `dest` change: it may be `source` itself.
  VARIANT old = *dest;
  *dest = converted;
  VariantClear(&old);
  return S_OK;
}

namespace {

void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) _com_issue_error(hr);
}

// `value` converted to `vt`; throws `_com_error` when it cannot be.
_variant_t Converted(const _variant_t& value, VARTYPE vt) {
  _variant_t converted;
  ThrowIfFailed(VariantChangeType(&converted, &value, 0, vt));
  return converted;
}

}  // namespace

_variant_t::_variant_t() noexcept { VariantInit(this); }

_variant_t::_variant_t(const VARIANT& value) {
  VariantInit(this);
  ThrowIfFailed(VariantCopy(this, &value));
}

_variant_t::_variant_t(const VARIANT* value) {
  VariantInit(this);
  if (value == nullptr) _com_issue_error(E_POINTER);
  ThrowIfFailed(VariantCopy(this, value));
}

_variant_t::_variant_t(const _variant_t& value) : _variant_t(static_cast<const VARIANT&>(value)) {}

_variant_t::_variant_t(_variant_t&& value) noexcept {
  static_cast<VARIANT&>(*this) = value;
  VariantInit(&value);
}

_variant_t::_variant_t(VARIANT& value, bool copy) {
  VariantInit(this);
  if (copy) {
    ThrowIfFailed(VariantCopy(this, &value));
  } else {
    static_cast<VARIANT&>(*this) = value;
    VariantInit(&value);
  }
}

_variant_t::_variant_t(std::int16_t value, VARTYPE vt) {
  VariantInit(this);
  if (vt == VT_BOOL) {
    boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (vt == VT_I2) {
    iVal = value;
  } else {
    _com_issue_error(E_INVALIDARG);
  }
  this->vt = vt;
}

_variant_t::_variant_t(INT value, VARTYPE vt) {
  VariantInit(this);
  switch (vt) {
    case VT_I4: lVal = value; break;
    case VT_INT: intVal = value; break;
    case VT_ERROR: scode = value; break;
    default: _com_issue_error(E_INVALIDARG);
  }
  this->vt = vt;
}

_variant_t::_variant_t(UINT value, VARTYPE vt) {
  VariantInit(this);
  switch (vt) {
    case VT_UI4: ulVal = value; break;
    case VT_UINT: uintVal = value; break;
    default: _com_issue_error(E_INVALIDARG);
  }
  this->vt = vt;
}

_variant_t::_variant_t(float value) {
  VariantInit(this);
  vt = VT_R4;
  fltVal = value;
}

_variant_t::_variant_t(double value, VARTYPE vt) {
  VariantInit(this);
  if (vt == VT_R8) {
    dblVal = value;
  } else if (vt == VT_DATE) {
    date = value;
  } else {
    _com_issue_error(E_INVALIDARG);
  }
  this->vt = vt;
}

_variant_t::_variant_t(const CY& value) {
  VariantInit(this);
  vt = VT_CY;
  cyVal = value;
}

_variant_t::_variant_t(const DECIMAL& value) {
  VariantInit(this);
  decVal = value;
  vt = VT_DECIMAL;
}

_variant_t::_variant_t(const _bstr_t& value) {
  VariantInit(this);
  bstrVal = value.copy();
  vt = VT_BSTR;
}

_variant_t::_variant_t(const wchar_t* value) : _variant_t(_bstr_t(value)) {}

_variant_t::_variant_t(const char* value) : _variant_t(_bstr_t(value)) {}

_variant_t::_variant_t(bool value) {
  VariantInit(this);
  vt = VT_BOOL;
  boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

_variant_t::_variant_t(BYTE value) {
  VariantInit(this);
  vt = VT_UI1;
  bVal = value;
}

_variant_t::_variant_t(char value) {
  VariantInit(this);
  vt = VT_I1;
  cVal = value;
}

_variant_t::_variant_t(WORD value) {
  VariantInit(this);
  vt = VT_UI2;
  uiVal = value;
}

_variant_t::_variant_t(LONGLONG value) {
  VariantInit(this);
  vt = VT_I8;
  llVal = value;
}

_variant_t::_variant_t(ULONGLONG value) {
  VariantInit(this);
  vt = VT_UI8;
  ullVal = value;
}

_variant_t::_variant_t(IDispatch* value, bool addRef) {
  VariantInit(this);
  vt = VT_DISPATCH;
  pdispVal = value;
  if (value != nullptr && addRef) value->AddRef();
}

_variant_t::_variant_t(IUnknown* value, bool addRef) {
  VariantInit(this);
  vt = VT_UNKNOWN;
  punkVal = value;
  if (value != nullptr && addRef) value->AddRef();
}

_variant_t::~_variant_t() { VariantClear(this); }

_variant_t& _variant_t::operator=(const VARIANT& value) {
  ThrowIfFailed(VariantCopy(this, &value));
  return *this;
}

_variant_t& _variant_t::operator=(const _variant_t& value) {
  return *this = static_cast<const VARIANT&>(value);
}

_variant_t& _variant_t::operator=(_variant_t&& value) noexcept {
  if (this != &value) {
    VariantClear(this);
    static_cast<VARIANT&>(*this) = value;
    VariantInit(&value);
  }
  return *this;
}

_variant_t::operator std::int16_t() const {
  return vt == VT_I2 ? iVal : Converted(*this, VT_I2).iVal;
}
_variant_t::operator INT() const { return vt == VT_I4 ? lVal : Converted(*this, VT_I4).lVal; }
_variant_t::operator UINT() const {
  return vt == VT_UI4 ? ulVal : Converted(*this, VT_UI4).ulVal;
}
_variant_t::operator float() const {
  return vt == VT_R4 ? fltVal : Converted(*this, VT_R4).fltVal;
}
_variant_t::operator double() const {
  return vt == VT_R8 ? dblVal : Converted(*this, VT_R8).dblVal;
}
_variant_t::operator CY() const { return vt == VT_CY ? cyVal : Converted(*this, VT_CY).cyVal; }
_variant_t::operator DECIMAL() const {
  return vt == VT_DECIMAL ? decVal : Converted(*this, VT_DECIMAL).decVal;
}
_variant_t::operator bool() const {
  return (vt == VT_BOOL ? boolVal : Converted(*this, VT_BOOL).boolVal) != VARIANT_FALSE;
}
_variant_t::operator BYTE() const { return vt == VT_UI1 ? bVal : Converted(*this, VT_UI1).bVal; }
_variant_t::operator char() const { return vt == VT_I1 ? cVal : Converted(*this, VT_I1).cVal; }
_variant_t::operator WORD() const { return vt == VT_UI2 ? uiVal : Converted(*this, VT_UI2).uiVal; }
_variant_t::operator LONGLONG() const {
  return vt == VT_I8 ? llVal : Converted(*this, VT_I8).llVal;
}
_variant_t::operator ULONGLONG() const {
  return vt == VT_UI8 ? ullVal : Converted(*this, VT_UI8).ullVal;
}

_variant_t::operator IDispatch*() const {
  _variant_t object = vt == VT_DISPATCH ? *this : Converted(*this, VT_DISPATCH);
  return static_cast<IDispatch*>(object.Detach().pdispVal);
}

_variant_t::operator IUnknown*() const {
  _variant_t object = vt == VT_UNKNOWN ? *this : Converted(*this, VT_UNKNOWN);
  return object.Detach().punkVal;
}

bool _variant_t::operator==(const VARIANT& other) const {
  if (vt != other.vt) return false;
  if ((vt & (VT_ARRAY | VT_BYREF)) != 0) return byref == other.byref;
  switch (vt) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_I1: return cVal == other.cVal;
    case VT_UI1: return bVal == other.bVal;
    case VT_I2: return iVal == other.iVal;
    case VT_UI2: return uiVal == other.uiVal;
    case VT_BOOL: return boolVal == other.boolVal;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR:
      return ulVal == other.ulVal;
    case VT_I8: case VT_UI8: case VT_CY: return llVal == other.llVal;
    case VT_R4: return fltVal == other.fltVal;
    case VT_R8: return dblVal == other.dblVal;
    case VT_DATE: return date == other.date;
    case VT_BSTR: {
      const UINT length = SysStringLen(bstrVal);
      return length == SysStringLen(other.bstrVal) &&
             (length == 0 || std::wmemcmp(bstrVal, other.bstrVal, length) == 0);
    }
    case VT_DECIMAL:
      return decVal.scale == other.decVal.scale && decVal.sign == other.decVal.sign &&
             decVal.Hi32 == other.decVal.Hi32 && decVal.Lo64 == other.decVal.Lo64;
    default: return punkVal == other.punkVal;
  }
}

void _variant_t::Clear() { ThrowIfFailed(VariantClear(this)); }

void _variant_t::ChangeType(VARTYPE vt, const _variant_t* source) {
  ThrowIfFailed(VariantChangeType(this, source == nullptr ? this : source, 0, vt));
}

void _variant_t::Attach(VARIANT& value) {
  Clear();
  static_cast<VARIANT&>(*this) = value;
  VariantInit(&value);
}

VARIANT _variant_t::Detach() {
  VARIANT value = *this;
  VariantInit(this);
  return value;
}

VARIANT* _variant_t::GetAddress() {
  Clear();
  return this;
}

void _variant_t::SetString(const char* text) { *this = _bstr_t(text); }

const _variant_t vtMissing(static_cast<INT>(DISP_E_PARAMNOTFOUND), VT_ERROR);
