// VARIANT: the tagged value of OLE Automation, the conversions between its
// types, and `_variant_t`, the class that owns one.
//
// The tag `vt` says which member of the value union is live:
//   VT_EMPTY 0 (no value)   VT_NULL 1 (SQL NULL)    VT_I2 2 short (iVal)
//   VT_I4 3 LONG (lVal)     VT_R4 4 float (fltVal)  VT_R8 5 double (dblVal)
//   VT_CY 6 CY (cyVal)      VT_DATE 7 DATE (date)   VT_BSTR 8 BSTR (bstrVal)
//   VT_DISPATCH 9 (pdispVal) VT_ERROR 10 SCODE (scode)
//   VT_BOOL 11 VARIANT_BOOL (boolVal: VARIANT_TRUE -1, VARIANT_FALSE 0)
//   VT_VARIANT 12 (only with VT_BYREF or in arrays)  VT_UNKNOWN 13 (punkVal)
//   VT_DECIMAL 14 DECIMAL (decVal)  VT_I1 16 char (cVal)  VT_UI1 17 BYTE (bVal)
//   VT_UI2 18 (uiVal)  VT_UI4 19 ULONG (ulVal)  VT_I8 20 (llVal)
//   VT_UI8 21 (ullVal) VT_INT 22 INT (intVal)   VT_UINT 23 UINT (uintVal)
//   VT_ARRAY 0x2000 | element type: SAFEARRAY* (parray), e.g. 0x2011 bytes
//   VT_BYREF 0x4000 | type: a pointer to a value the VARIANT does not own
// A VARIANT owns its BSTR, its array and one reference to its object;
// VariantClear releases them and leaves VT_EMPTY.
//
// DATE (platform/win32/types.h) is an OLE automation date: days since
// 1899-12-30 as a double, the fraction the time of day. DECIMAL is a 96-bit magnitude (Hi32:Lo64) with a
// sign (DECIMAL_NEG) and a power-of-ten scale 0..28: value = ±magnitude /
// 10^scale. CY is a 64-bit integer in units of 1/10000.
//
// VariantChangeType converts between the scalar types with the results of
// the home platform: a value that does not fit gives DISP_E_OVERFLOW,
// an impossible conversion (VT_NULL to a number, text that is no number,
// an array to a scalar) DISP_E_TYPEMISMATCH, an unknown tag
// DISP_E_BADVARTYPE. Numbers to integers round half to even; a boolean is
// the number -1 or 0 (so true does not fit an unsigned type). Text is read
// and written locale-independently ('.' as the decimal point, blanks around
// a number ignored, an exponent allowed); decimals are written exactly,
// without trailing fractional zeros; doubles with 15 significant digits,
// floats with 7 ("1E+20"); booleans are written "-1"/"0", or
// "True"/"False" with VARIANT_ALPHABOOL, and read from either form; dates
// are written "YYYY-MM-DD hh:mm:ss" (the date alone at midnight, the time
// alone on day 0) and read from that form or with 'T' before the time.
// VT_ERROR converts only to itself; VT_DISPATCH and VT_UNKNOWN convert to
// each other (QueryInterface for IDispatch).
//
// `_variant_t` wraps a VARIANT: constructors from the C++ types, extraction
// operators that convert as VariantChangeType does and throw `_com_error`
// with its HRESULT when it fails, Clear, Attach/Detach and ChangeType. Its
// text form is `_bstr_t(value)` (platform/com/bstr.h).
//
// Thread safety: values, no shared state; one thread per VARIANT at a time.
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

struct SAFEARRAY;

using VARTYPE = WORD;
using VARIANT_BOOL = std::int16_t;
using SCODE = LONG;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct CY {
  LONGLONG int64;
};

inline constexpr BYTE DECIMAL_NEG = 0x80;

struct DECIMAL {
  WORD wReserved;
  BYTE scale;  // 0..28
  BYTE sign;   // 0 or DECIMAL_NEG
  ULONG Hi32;  // bits 64..95 of the magnitude
  union {
    ULONGLONG Lo64;  // bits 0..63 of the magnitude
    ULONG Lo32;      // bits 0..31 (the low half of Lo64 on this little-endian platform)
  };
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    std::int16_t iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    char cVal;
    WORD uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    DECIMAL decVal;
    // VT_BYREF forms: the value lives elsewhere and is not owned.
    BYTE* pbVal;
    std::int16_t* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    DATE* pdate;
    BSTR* pbstrVal;
    DECIMAL* pdecVal;
    VARIANT* pvarVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

// VariantChangeType flags.
inline constexpr WORD VARIANT_NOVALUEPROP = 0x1;
inline constexpr WORD VARIANT_ALPHABOOL = 0x2;

// Sets VT_EMPTY without looking at the old contents.
void VariantInit(VARIANT* value);
// Releases what the VARIANT owns and sets VT_EMPTY. E_INVALIDARG for null;
// DISP_E_BADVARTYPE (and nothing released) for an unknown tag.
HRESULT VariantClear(VARIANT* value);
// Clears `dest`, then makes it a deep copy of `source` (new BSTR, copied
// array, one more object reference; a VT_BYREF copy points at the same
// value). On failure `dest` is left VT_EMPTY.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* source);
// Converts `source` (read through VT_BYREF) to type `vt` into `dest`, which
// may be `source` itself. On failure `dest` is unchanged.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, WORD flags, VARTYPE vt);

class _variant_t : public VARIANT {
 public:
  _variant_t() noexcept;
  _variant_t(const VARIANT& value);           // deep copy
  _variant_t(const VARIANT* value);           // deep copy
  _variant_t(const _variant_t& value);        // deep copy
  _variant_t(_variant_t&& value) noexcept;    // moves, leaves VT_EMPTY
  _variant_t(VARIANT& value, bool copy);      // copy false: takes `value` over, leaves it VT_EMPTY
  _variant_t(std::int16_t value, VARTYPE vt = VT_I2);  // VT_I2 or VT_BOOL
  _variant_t(INT value, VARTYPE vt = VT_I4);           // VT_I4, VT_INT or VT_ERROR
  _variant_t(UINT value, VARTYPE vt = VT_UI4);         // VT_UI4 or VT_UINT
  _variant_t(float value);                             // VT_R4
  _variant_t(double value, VARTYPE vt = VT_R8);        // VT_R8 or VT_DATE
  _variant_t(const CY& value);
  _variant_t(const DECIMAL& value);
  _variant_t(const _bstr_t& value);                    // VT_BSTR (a copy)
  _variant_t(const wchar_t* value);                    // VT_BSTR
  _variant_t(const char* value);                       // VT_BSTR from the ANSI code page
  _variant_t(bool value);                              // VT_BOOL
  _variant_t(BYTE value);                              // VT_UI1
  _variant_t(char value);                              // VT_I1
  _variant_t(WORD value);                              // VT_UI2
  _variant_t(LONGLONG value);                          // VT_I8
  _variant_t(ULONGLONG value);                         // VT_UI8
  _variant_t(IDispatch* value, bool addRef = true);    // VT_DISPATCH
  _variant_t(IUnknown* value, bool addRef = true);     // VT_UNKNOWN
  ~_variant_t();

  _variant_t& operator=(const VARIANT& value);
  _variant_t& operator=(const _variant_t& value);
  _variant_t& operator=(_variant_t&& value) noexcept;
  // Any of the constructor types: the value replaces the old one.
  template <class T>
  _variant_t& operator=(const T& value) {
    _variant_t replacement(value);
    return *this = static_cast<_variant_t&&>(replacement);
  }

  // Extraction: the value itself when the tag matches, else converted as
  // VariantChangeType does; throws `_com_error` when it cannot.
  operator std::int16_t() const;  // VT_I2
  operator INT() const;           // VT_I4
  operator UINT() const;          // VT_UI4
  operator float() const;         // VT_R4
  operator double() const;        // VT_R8
  operator CY() const;
  operator DECIMAL() const;
  operator bool() const;          // VT_BOOL
  operator BYTE() const;          // VT_UI1
  operator char() const;          // VT_I1
  operator WORD() const;          // VT_UI2
  operator LONGLONG() const;      // VT_I8
  operator ULONGLONG() const;     // VT_UI8
  operator IDispatch*() const;    // a new reference (null for VT_EMPTY)
  operator IUnknown*() const;     // a new reference (null for VT_EMPTY)

  // Same tag and same value (texts by content, DECIMALs by value bits,
  // objects by address, arrays by address).
  bool operator==(const VARIANT& other) const;
  bool operator==(const _variant_t& other) const {
    return *this == static_cast<const VARIANT&>(other);
  }
  bool operator!=(const VARIANT& other) const { return !(*this == other); }
  bool operator!=(const _variant_t& other) const { return !(*this == other); }

  void Clear();
  // Converts in place (from `source` when given); throws `_com_error`.
  void ChangeType(VARTYPE vt, const _variant_t* source = nullptr);
  // Takes `value` over (this one's old value is cleared); `value` becomes VT_EMPTY.
  void Attach(VARIANT& value);
  // Hands the value to the caller, who then owns it; this becomes VT_EMPTY.
  VARIANT Detach();
  VARIANT& GetVARIANT() noexcept { return *this; }
  // Clears the value and gives its address for an out parameter.
  VARIANT* GetAddress();
  void SetString(const char* text);
};

// The "parameter not given" value (VT_ERROR, DISP_E_PARAMNOTFOUND) that
// optional ADO arguments default to.
extern const _variant_t vtMissing;
