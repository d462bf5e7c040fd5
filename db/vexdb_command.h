// The parameterised command runner: one SQL text with positional "?"
// parameters, run on a connection borrowed from the process-wide pool
// (db/connection_holder.h) with the shared retry rule for transient SQL
// states, handing back success or a disconnected recordset. Beside it: the
// readers of GetRows cells, the user-row SELECT and the last change-history
// id.
//
// Arguments of the variadic runners. After the SQL text the caller passes,
// for each "?" of the text in order, a pair (ADO type code as int, pointer to
// the value), and closes the list with the int 0:
//
//   code  ADO type        the pointer points to             value bound
//   3     adInteger       int32_t                           VT_I4
//   20    adBigInt        narrow decimal text ("-42")       BSTR, size len+1
//   129   adChar          narrow text                       BSTR, size len+1
//   135   adDBTimeStamp   double: OLE date (days since      VT_R8
//                         1899-12-30, time as fraction)
//   200   adVarChar       narrow text                       BSTR, size len+1
//   202   adVarWChar      wide text                         BSTR, size len+1
//
// Codes are read as int and pointers as pointers, so a pointer that is null
// must be passed as a real pointer (`(void*)nullptr`), never as a bare 0 or
// NULL, which may be narrower on this platform. A null pointer, a 0 where a
// pair is due (fewer pairs than "?") or an unlisted code fails the call
// before anything runs. No argument after the last needed pair is read.
// Every "?" counts, including one inside a quoted literal: such a text is
// formatted beforehand and run without pairs.
//
// Retry rule (VEXDB_executeQuery, VEXDB_executeUpdate): up to
// g_VEXDB_CommandRetryCount attempts (at least one); a COM error whose
// connection's Errors hold SQLSTATE "HYT00", "40001" or "57033" is tried
// again after (count - remaining)^2 seconds (1, 4, 9, 16 s with 5); every
// other error, and the last one, is thrown to the caller.
//
// Failures are logged (event 0xAFFF61A8 for COM errors, 0xAFFF61AA for other
// exceptions) and returned as false; only the executors and the retry
// decision throw, to the runner that catches them.
//
// Thread safety: every function may be called from any thread; the ADO
// objects passed in belong to the calling thread. The two settings are
// written by VEXDB_ReadCommandSettings when the database is opened, before
// other threads use the runner.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/com_error.h"

// Command.CommandTimeout of every runner command, in seconds (default 30).
extern int g_VEXDB_CommandTimeout;
// Attempts of the executors (default 5; 0 or 1 means one attempt).
extern int g_VEXDB_CommandRetryCount;

// Reads the DWORDs "CommandTimeOut" and "CommandRetryCount" of
// HKEY_LOCAL_MACHINE "Software\Quillon\Quorrel Dazadevari Server\Database"
// (defaults 30 and 5; a negative count becomes 5). A key that does not open
// leaves both as they are.
void VEXDB_ReadCommandSettings();

// The runner's core. `recordset` null: the text is a statement and no
// recordset is wanted; otherwise it receives the open recordset, detached
// from the connection. maxRecords > 0 limits the rows. `args` holds the
// pairs described above.
bool RunParameterizedSQLQuery(const char* name, ado::_CommandPtr& command, ado::_RecordsetPtr* recordset,
                              const wchar_t* sql, LONG maxRecords, va_list args);

// A statement on a command of its own; true when it ran.
bool VEXDB_RunParameterizedUpdate(const char* name, const wchar_t* sql, ...);
// A SELECT; the caller reads `recordset` afterwards.
bool VEXDB_RunParameterizedQuery(const char* name, ado::_CommandPtr& command, ado::_RecordsetPtr& recordset,
                                 const wchar_t* sql, ...);
// As VEXDB_RunParameterizedQuery, at most maxRecords rows when above 0.
bool VEXDB_RunParameterizedQueryMax(const char* name, ado::_CommandPtr& command, ado::_RecordsetPtr& recordset,
                                    const wchar_t* sql, LONG maxRecords, ...);

// Logs the exception being handled (call it only inside a catch block): a
// `_com_error` through wLogRecordsetComError (level 2, event 0xAFFF61A8,
// `name`, `sql`, the command's connection), anything else through
// wLogDBError (level 2, `otherEvent`, `otherLocation`).
void VEXDB_LogCaught(const char* name, const wchar_t* sql, ado::_Command* command, const wchar_t* otherLocation,
                     unsigned otherEvent);

// The number of '?' in `sql` (0 for null).
int VEXDB_CountQueryParams(const wchar_t* sql);

// Reads `count` pairs from `args`, creates one input parameter each (empty
// name) and appends them to the command; `params` receives them. False at the
// first 0 code, null pointer or unknown code (logged at level 1).
bool ExtractQueryParamsFromArgList(int count, std::vector<ado::_ParameterPtr>* params, ado::_CommandPtr& command,
                                   va_list args);

// Opens `recordset` (created when null) over the command with the retry
// rule. Throws the last `_com_error`, or std::invalid_argument for a null
// name, or `_com_error` when the recordset cannot be created.
void VEXDB_executeQuery(const char* name, ado::_CommandPtr& command, ado::_RecordsetPtr& recordset);
// Executes the command with the retry rule; true when Execute returned a
// recordset object. Throws as VEXDB_executeQuery.
bool VEXDB_executeUpdate(const char* name, ado::_CommandPtr& command, VARIANT* recordsAffected);

// The retry decision for `error`, caught from an attempt of `command`:
// throws `error` again unless the command's connection reports one of the
// three transient states and `remaining` is at least 1; otherwise logs
// message 35021 and sleeps (g_VEXDB_CommandRetryCount - remaining)^2 s.
void VEXDB_HandleCommandError(const char* name, int remaining, ado::_CommandPtr& command, const _com_error& error);

// Readers of the cell (column, row) of a GetRows array (first index the
// field, second the row). True when the read succeeded and the cell is not
// NULL. The value form clears `out` first; the text forms leave `out` empty
// unless the cell is a text.
bool VEXDB_GetArrayValue(VARIANT* out, int* row, int* column, SAFEARRAY* array);
bool VEXDB_GetArrayString(std::string& out, int* row, int* column, SAFEARRAY* array);
bool VEXDB_GetArrayWString(std::wstring& out, int* row, int* column, SAFEARRAY* array);

// The SELECT of the 64 UserConfig columns the user record loads, followed
// by " WHERE " and `condition` when one is given.
std::wstring VEXDB_BuildUserSelect(const wchar_t* condition);

// The highest change-history id, from the stored procedure
// "HistoryGetMaxId" (its column "MaxId"), run through the record layer on
// the process-wide ODBCDatabase. False (logged, message 25113) when the
// call fails or returns no row.
bool VEXDB_GetLastHistoryId(std::int64_t* out);
