// `_com_error`: the exception the component support classes and the ADO
// stand-in throw for a failed HRESULT.
//
// It carries the HRESULT and, when the thrower knows them, the error's
// Source (the component that raised it) and Description (its own words,
// e.g. a driver's message). ErrorMessage() is the system's text for the
// HRESULT itself:
//   - the known texts of the generic, apartment, automation and Win32
//     codes here (E_FAIL "Unspecified error", E_INVALIDARG "The parameter
//     is incorrect.", DISP_E_TYPEMISMATCH "Type mismatch.", ...);
//   - "IDispatch error #N" for an interface-defined code 0x80040200 to
//     0x8004FFFF, N = code - 0x80040200 in decimal (so every OLE DB error,
//     e.g. 0x80040E37 gives "IDispatch error #3127");
//   - otherwise "Unknown error 0xXXXXXXXX" (eight upper-case hex digits).
// `_com_error` is not derived from std::exception, so `catch (_com_error&)`
// and `catch (...)` stay distinct. Copies are independent values.
// Thread safety: a value; ErrorMessage() builds its text on first use, so one
// object is not to be read from two threads at once.
#pragma once

#include <string>

#include "platform/com/bstr.h"

class _com_error {
 public:
  explicit _com_error(HRESULT hr) noexcept : hr_(hr) {}
  _com_error(HRESULT hr, const _bstr_t& source, const _bstr_t& description) noexcept
      : hr_(hr), source_(source), description_(description) {}

  HRESULT Error() const noexcept { return hr_; }
  // The system's text for Error(); valid while this object lives.
  const wchar_t* ErrorMessage() const;
  // Null when the thrower gave none.
  _bstr_t Source() const { return source_; }
  _bstr_t Description() const { return description_; }

 private:
  HRESULT hr_;
  _bstr_t source_;
  _bstr_t description_;
  mutable std::wstring message_;
};
