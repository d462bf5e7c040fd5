// BSTR: the length-prefixed wide text of OLE Automation, and `_bstr_t`, the
// reference-counted owner of one.
//
// A BSTR points at the first character; in memory it is laid out as
//   [ULONG byte length][characters (wchar_t, one code point each)][L'\0']
// so a BSTR may hold NULs and its length is read from the prefix, not found
// by scanning. A null BSTR is the empty text. SysStringByteLen gives the
// length of the characters in bytes of this platform's wchar_t (4 per
// character). SysFreeString fills the buffer with zeros before freeing it,
// because BSTRs carry passwords and keys.
//
// `_bstr_t` holds a BSTR shared between copies: copying adds a reference
// (the copies see the same text), assignment from text makes a fresh one
// (every empty text made from "" shares one, which costs no allocation).
// Conversions to narrow text use the ANSI code page (CP_ACP) of
// platform/win32/codepage.h and are made once, then kept beside the BSTR
// until it changes. An allocation failure throws `_com_error(E_OUTOFMEMORY)`.
//
// Thread safety: the Sys* calls are safe on any thread for distinct strings.
// One `_bstr_t` object is not to be used from two threads at once. Copies
// sharing one text may be used on different threads, reading, converting to
// narrow text and being replaced or destroyed concurrently (the count and the
// narrow form are atomic); writing into the shared BSTR itself through a
// pointer from `operator wchar_t*` is the caller's own race.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/com/hresult.h"

using OLECHAR = wchar_t;
using BSTR = OLECHAR*;

// A new BSTR holding the NUL-terminated `text`; null for a null `text` or
// when memory is short.
BSTR SysAllocString(const OLECHAR* text);
// A new BSTR of `length` characters copied from `text`, or left zeroed when
// `text` is null; null when memory is short.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// Frees a BSTR (null is allowed).
void SysFreeString(BSTR text);
// Characters in the BSTR (not counting the terminator); 0 for null.
UINT SysStringLen(BSTR text);
// Bytes of the characters (SysStringLen × sizeof(OLECHAR)); 0 for null.
UINT SysStringByteLen(BSTR text);

class _variant_t;

class _bstr_t {
 public:
  _bstr_t() noexcept = default;
  _bstr_t(const _bstr_t& other) noexcept;
  _bstr_t(_bstr_t&& other) noexcept;
  _bstr_t(const char* text);     // narrow text in the ANSI code page
  _bstr_t(const wchar_t* text);  // NUL-terminated wide text
  // Takes `text` over (copy false) or copies it (copy true).
  _bstr_t(BSTR text, bool copy);
  // The variant's text form (VariantChangeType to VT_BSTR); throws on failure.
  _bstr_t(const _variant_t& value);
  ~_bstr_t();

  _bstr_t& operator=(const _bstr_t& other) noexcept;
  _bstr_t& operator=(_bstr_t&& other) noexcept;
  _bstr_t& operator=(const char* text);
  _bstr_t& operator=(const wchar_t* text);
  _bstr_t& operator=(const _variant_t& value);

  _bstr_t& operator+=(const _bstr_t& other);
  _bstr_t operator+(const _bstr_t& other) const;
  friend _bstr_t operator+(const char* left, const _bstr_t& right);
  friend _bstr_t operator+(const wchar_t* left, const _bstr_t& right);

  // The text; null when nothing is held (default-constructed, or made from a
  // null pointer); an empty text is a valid empty string.
  operator const wchar_t*() const noexcept;
  operator wchar_t*() const noexcept;
  operator const char*() const;
  operator char*() const;

  // True when no text is held (null); an empty text is a text.
  bool operator!() const noexcept;
  // Code-point order; a null text equals the empty text.
  friend bool operator==(const _bstr_t& a, const _bstr_t& b) noexcept;
  friend bool operator==(const _bstr_t& a, const wchar_t* b) { return a == _bstr_t(b); }
  friend bool operator==(const _bstr_t& a, const char* b) { return a == _bstr_t(b); }
  friend bool operator!=(const _bstr_t& a, const _bstr_t& b) noexcept { return !(a == b); }
  friend bool operator<(const _bstr_t& a, const _bstr_t& b) noexcept;
  friend bool operator>(const _bstr_t& a, const _bstr_t& b) noexcept { return b < a; }
  friend bool operator<=(const _bstr_t& a, const _bstr_t& b) noexcept { return !(b < a); }
  friend bool operator>=(const _bstr_t& a, const _bstr_t& b) noexcept { return !(a < b); }

  // A new BSTR the caller owns (copy true) or the held BSTR itself (copy
  // false, still owned by this object).
  BSTR copy(bool copy = true) const;
  // Characters held (embedded NULs count).
  unsigned int length() const noexcept;

  // Takes `text` over without copying; drops what was held.
  void Attach(BSTR text);
  // Hands the held BSTR to the caller, who then owns it; this becomes empty.
  // Other copies sharing the text keep it: they are not emptied.
  BSTR Detach();
  // The held BSTR (still owned by this object). The writable form first
  // gives this object a text of its own, so that writing through it never
  // changes the copies.
  BSTR GetBSTR() const noexcept;
  BSTR& GetBSTR();
  // Drops what was held and gives the address of a fresh null BSTR for an
  // out parameter; the BSTR stored there is owned by this object.
  BSTR* GetAddress();
  void Assign(BSTR text);  // copies `text`

 private:
  struct Data;
  explicit _bstr_t(Data* data) noexcept : data_(data) {}
  void Release() noexcept;
  // This object's own Data with a BSTR of its own block, copied first if
  // shared or made by Data::Copy.
  Data* Unshared();

  Data* data_ = nullptr;
};
