// The production driver behind the ADO objects: unixODBC's W API.
//
// Text crosses this edge as UTF-16 (SQLWCHAR) and is converted to and from
// the row sets' UTF-8 and the callers' wide text here. Every result of a
// statement is read in full before Execute returns, so the statement handle
// never outlives the call. Stored procedures are called through the ODBC
// call escape; see OdbcDriver's notes in odbc_backend.cpp for what is done
// for servers whose driver cannot return rows and output parameters of one
// call together.
//
// OdbcDriver() may be called from any thread; the sessions it makes follow
// the rules of backend.h.
#pragma once

#include "platform/ado/backend.h"

namespace ado::backend {

// The process-wide ODBC driver (one ODBC environment handle, made on first
// use and kept until exit).
Driver& OdbcDriver();

}  // namespace ado::backend
