// SQLSTATEs as the system's retry rules and error reporting see them.
//
// The system retries commands on "HYT00" (time-out), "40001" (deadlock
// victim) and "57033" (lock time-out), and classifies failures by the OLE DB
// HRESULT that ADO raises. ClassifySqlState turns a driver's SQLSTATE into
//
//   - the normalised state: PostgreSQL's statement time-out "57014" becomes
//     "HYT00" and its deadlock "40P01" becomes "40001"; any other state is
//     kept as it came (upper-cased). Callers keep the raw state visible
//     beside it (in the error description);
//   - the HRESULT: a missing table (42S02, 42P01, S0002) DB_E_NOTABLE
//     0x80040E37; permission denied (42501) DB_SEC_E_PERMISSIONDENIED
//     0x80040E09; integrity violations (class 23) DB_E_INTEGRITYVIOLATION
//     0x80040E2F; a time-out (HYT00 after normalising) DB_E_ABORTLIMITREACHED
//     0x80040E31; syntax and other errors in the command (42000, 37000 and
//     the rest of class 42 and 42S) DB_E_ERRORSINCOMMAND 0x80040E14; anything
//     else E_FAIL 0x80004005;
//   - whether the error is of the connection class: the physical connection
//     is lost or its state unknown (class 08, HYT01, 40003, PostgreSQL's
//     57P01 to 57P03), so the connection must never be reused.
//
// The HRESULTs are plain 32-bit integers (HRESULT's width), so that the
// ODBC backend's translation units, which must not see platform/win32's
// types beside unixODBC's, can include this header too.
//
// Pure functions; safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ado {

inline constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);
inline constexpr std::int32_t kNoTable = static_cast<std::int32_t>(0x80040E37);
inline constexpr std::int32_t kPermissionDenied = static_cast<std::int32_t>(0x80040E09);
inline constexpr std::int32_t kIntegrityViolation = static_cast<std::int32_t>(0x80040E2F);
inline constexpr std::int32_t kTimeout = static_cast<std::int32_t>(0x80040E31);
inline constexpr std::int32_t kErrorsInCommand = static_cast<std::int32_t>(0x80040E14);

struct SqlStateInfo {
  std::string state;             // normalised, five characters (or as given when not)
  std::int32_t hr = kFail;       // the HRESULT ADO raises for it
  bool connectionClass = false;  // the connection is unusable: close, never reuse
};

SqlStateInfo ClassifySqlState(std::string_view rawState);

}  // namespace ado
