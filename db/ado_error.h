// Reporting of ADO failures: every database operation hands the failure it
// caught (an HRESULT, a `_com_error`, the Errors of a connection, the state
// of a command's connection) to one of these functions at its own edge.
// Each turns the failure into one line of text (at most 16,383
// characters), records that text as the last error of the recorder in place
// (the process-wide connection pool installs itself: SetDbErrorRecorder),
// passes it to a log sink and returns a result code for the caller to pass
// on. Reporting an error never creates the pool.
//
// Result codes: kDbErrorGeneral (70001), kDbErrorTableNotFound (70003),
// kDbErrorPermissionDenied (70013), kDbErrorIntegrityViolation (70014);
// LogComError also returns 0 when it was given nothing to report.
//
// Lines. A plain text (LogDBErrorImpl) is logged as it stands with every
// character from 1 to 32 turned into a blank; without a text it becomes
// "[<location>] Unknown database error with HRESULT=0x<HEX>" or, without an
// HRESULT, "Exception caught for <location>". A COM error is logged with
// message 25000 (location, HRESULT, the system's message, Source,
// Description, the caller's text), its non-printable characters turned into
// blanks, so that one failure always makes one log line; permission,
// missing-table and integrity failures add a line of their own first
// (messages 25107, 25110, 25111 with their own event codes). The Errors of a
// connection add one line per distinct error number not yet reported, each
// with its non-printable characters turned into blanks as well.
//
// Sinks: the core functions take a DBLogSink (null: record, do not log);
// the `w` forms take a wide location and log through DefaultDBLogSink,
// which logs a non-empty text verbatim through LogEventW.
//
// Nothing here throws. Every function may be called from any thread; the
// ADO objects passed in belong to the calling thread (see platform/ado/ado.h).
#pragma once

#include <string>

#include "db/db_log_sink.h"
#include "platform/ado/ado.h"
#include "platform/com/com_error.h"

inline constexpr int kDbErrorGeneral = 70001;
inline constexpr int kDbErrorTableNotFound = 70003;
inline constexpr int kDbErrorPermissionDenied = 70013;
inline constexpr int kDbErrorIntegrityViolation = 70014;

// Event code of the COM error line (message 25000).
inline constexpr unsigned kEventDbComError = 0xAFFF61A8u;

// Keeps the text of the last database failure with its code (an HRESULT or
// a Win32 code); the environment report reads it back. Called from any
// thread that reports an error.
class DbErrorRecorder {
 public:
  virtual void SetLastError(LONG code, const wchar_t* text) = 0;

 protected:
  ~DbErrorRecorder() = default;
};

// Puts `recorder` (null: none) in place for the reporting functions and
// returns the one it replaces. The recorder must stay valid until it is
// replaced.
DbErrorRecorder* SetDbErrorRecorder(DbErrorRecorder* recorder);
// Takes `recorder` out of place if it is the one in place.
void ClearDbErrorRecorder(DbErrorRecorder* recorder);

// Logs a non-empty text verbatim (a '%' in it is not expanded) through
// LogEventW with the given level and event code; null or empty: nothing.
void DefaultDBLogSink(int level, unsigned eventCode, int reserved1, int reserved2,
                      const wchar_t* text, const char* location, int line);

int LogDBErrorImpl(int level, unsigned eventCode, HRESULT hr, const char* location,
                   const wchar_t* text, DBLogSink sink);
int wLogDBError(int level, unsigned eventCode, HRESULT hr, const wchar_t* location,
                const wchar_t* text);
int LogDBError(int level, unsigned eventCode, HRESULT hr, const char* location,
               const wchar_t* text);

int LogComError(int level, unsigned eventCode, const char* location, const wchar_t* text,
                const _com_error& error, DBLogSink sink);
int wLogComError(int level, unsigned eventCode, const _com_error& error, const wchar_t* location,
                 const wchar_t* text);

// LogComError, then one line per entry of the connection's Errors whose
// Number is neither the `_com_error`'s HRESULT nor reported before in this
// call. `connection` may be null.
int LogConnectionErrors(ado::_Connection* connection, int level, unsigned eventCode,
                        const _com_error& error, const char* location, const wchar_t* text,
                        DBLogSink sink);
int wLogConnectionErrors(ado::_Connection* connection, int level, unsigned eventCode,
                         const _com_error& error, const wchar_t* location, const wchar_t* text);

// LogConnectionErrors on the command's active connection, the text extended
// by " Recordset state: <name>" when that connection's State is not open
// (1) and at most 8. `command` may be null.
int LogRecordsetComError(int level, unsigned eventCode, const _com_error& error,
                         const char* location, const wchar_t* text, ado::_Command* command,
                         DBLogSink sink);
int wLogRecordsetComError(int level, unsigned eventCode, const _com_error& error,
                          const wchar_t* location, const wchar_t* text, ado::_Command* command);

// The server of an open connection from its "Data Source Name" property
// ("host,port"): the host into *server and the port into *port (-1 when
// none or 0). True when a server name was found.
bool wGetServerNameFromConn(ado::_Connection* connection, std::wstring* server, int* port,
                            DBLogSink sink);

// The number of '%' that are not the last character and are followed by a
// letter or digit.
int CountFormatSpecifiers(const wchar_t* text);
