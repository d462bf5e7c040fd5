// The edge of every SQL operation of the configuration database object: the
// log lines an operation writes when it fails, and the making of its ADO
// command on the connection it borrowed.
//
//   ConnectionHolder holder;
//   if (holder.get() == nullptr) return false;   // the pool logged why
//   ado::_CommandPtr command;
//   if (!PrepareCommand("PMDatabaseSQLImp::X", holder, sql, command)) return false;
//   AppendParameter(command, ado::adInteger, 0, _variant_t(id));
//   ... executeQuery / executeStatement ...
//   catch (const _com_error& e) { LogOperationComError("PMDatabaseSQLImp::X", e, sql); }
//   catch (...) { LogOperationException("PMDatabaseSQLImp::X"); }
//
// Names are the operation's own ("PMDatabaseSQLImp::" and its name). Lines
// are level 2: a COM error with message 20640 (name, HRESULT, the system's
// message, Source, Description, the SQL text), any other exception with
// message 20061 (name), a command that cannot be created with message 20656
// (name, HRESULT).
//
// Nothing here throws but PrepareCommand and AppendParameter, which throw
// the _com_error of a failed ADO call to the operation's handler. Any
// thread; the ADO objects belong to the calling thread.
#pragma once

#include "db/connection_holder.h"
#include "platform/ado/ado.h"
#include "platform/com/com_error.h"

inline constexpr unsigned kEventUnexpectedException = 0xAFFF4E5Du;  // message 20061
inline constexpr unsigned kEventOperationComError = 0xAFFF50A0u;    // message 20640
inline constexpr unsigned kEventCommandNotCreated = 0xAFFF50B0u;    // message 20656

void LogOperationComError(const char* name, const _com_error& error, const wchar_t* sql);
void LogOperationException(const char* name);

// Creates the command (logging message 20656 and returning false when that
// fails) and gives it the borrowed connection, the text and command type 1.
bool PrepareCommand(const char* name, ConnectionHolder& holder, const wchar_t* sql, ado::_CommandPtr& command);
// Appends one unnamed input parameter.
void AppendParameter(ado::_CommandPtr& command, ado::DataTypeEnum type, LONG size, const _variant_t& value);
