// HRESULT values of the component model, OLE Automation, OLE DB and ADO, and
// the helpers that test them.
//
// An HRESULT is a signed 32-bit code (platform/win32/types.h): bit 31 set
// means failure, bits 16..26 name the facility, bits 0..15 the code. The
// values here are the ones the system, the ADO stand-in and their callers
// compare against; each keeps its value from the system's home platform
// because results are logged and compared numerically.
//
// `_com_issue_error` throws `_com_error` (platform/com/com_error.h); it is
// declared here so that the value classes can raise errors without including
// the error class. Plain constants and functions; any thread.
#pragma once

#include "platform/win32/types.h"

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Builds an HRESULT from its unsigned 32-bit spelling.
constexpr HRESULT HResultFromBits(std::uint32_t bits) {
  return static_cast<HRESULT>(bits);
}

// A Win32 error code (platform/win32/error.h) as an HRESULT of facility 7.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
  return error == 0 ? 0 : HResultFromBits((error & 0xFFFFu) | 0x80070000u);
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;

// Generic failures.
inline constexpr HRESULT E_NOTIMPL = HResultFromBits(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = HResultFromBits(0x80004002u);
inline constexpr HRESULT E_POINTER = HResultFromBits(0x80004003u);
inline constexpr HRESULT E_ABORT = HResultFromBits(0x80004004u);
inline constexpr HRESULT E_FAIL = HResultFromBits(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = HResultFromBits(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = HResultFromBits(0x80070005u);
inline constexpr HRESULT E_OUTOFMEMORY = HResultFromBits(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = HResultFromBits(0x80070057u);

// Apartments and object creation.
inline constexpr HRESULT RPC_E_CHANGED_MODE = HResultFromBits(0x80010106u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = HResultFromBits(0x800401F0u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = HResultFromBits(0x80040154u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = HResultFromBits(0x80040110u);

// OLE Automation: values, conversions and arrays.
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = HResultFromBits(0x80020004u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = HResultFromBits(0x80020005u);
inline constexpr HRESULT DISP_E_BADVARTYPE = HResultFromBits(0x80020008u);
inline constexpr HRESULT DISP_E_OVERFLOW = HResultFromBits(0x8002000Au);
inline constexpr HRESULT DISP_E_BADINDEX = HResultFromBits(0x8002000Bu);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = HResultFromBits(0x8002000Du);

// OLE DB errors, as raised by ADO for a failed statement or connection.
inline constexpr HRESULT DB_E_ERRORSOCCURRED = HResultFromBits(0x80040E21u);
inline constexpr HRESULT DB_SEC_E_PERMISSIONDENIED = HResultFromBits(0x80040E09u);
inline constexpr HRESULT DB_E_ERRORSINCOMMAND = HResultFromBits(0x80040E14u);
inline constexpr HRESULT DB_E_INTEGRITYVIOLATION = HResultFromBits(0x80040E2Fu);
inline constexpr HRESULT DB_E_ABORTLIMITREACHED = HResultFromBits(0x80040E31u);  // time-out
inline constexpr HRESULT DB_E_NOTABLE = HResultFromBits(0x80040E37u);
inline constexpr HRESULT DB_E_CANCELED = HResultFromBits(0x80040E4Eu);

// ADO's own errors (facility 10), named as ADO names them.
inline constexpr HRESULT adErrNoCurrentRecord = HResultFromBits(0x800A0BCDu);
inline constexpr HRESULT adErrItemNotFound = HResultFromBits(0x800A0CC1u);
inline constexpr HRESULT adErrIllegalOperation = HResultFromBits(0x800A0C93u);
inline constexpr HRESULT adErrInvalidArgument = HResultFromBits(0x800A0BB9u);
inline constexpr HRESULT adErrObjectClosed = HResultFromBits(0x800A0E78u);
inline constexpr HRESULT adErrInvalidConnection = HResultFromBits(0x800A0E7Du);
inline constexpr HRESULT adErrObjectOpen = HResultFromBits(0x800A0E79u);
inline constexpr HRESULT adErrProviderNotFound = HResultFromBits(0x800A0E7Au);

// Throws `_com_error(hr)`; never returns.
[[noreturn]] void _com_issue_error(HRESULT hr);
