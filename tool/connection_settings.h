// The database connection string of a run whose command line gave none,
// from the registry:
//
//   HKEY_LOCAL_MACHINE\Software\Quillon\Quorrel Dazadevari Server\Database
//     "DatabaseServerMachineName" (default "(local)"), "DatabaseName"
//     (default "VEXMgmt")
//   HKEY_CURRENT_USER, same path: "Login", "Password" (default empty)
//
// give "Provider=SQLOLEDB;Server=S;Database=D;uid=L;pwd=P", or without a
// login "Provider=SQLOLEDB;Server=S;Database=D;Trusted_Connection=Yes". A
// value that holds ';', a quote, '=', a blank or a control character, or
// begins with '{', is written quoted ("..." with '"' doubled), so that it
// reaches the server whole and cannot add a keyword.
// Without the Database key, the "AppDSN" value of
// HKEY_LOCAL_MACHINE\Software\Quillon\Quorrel Dazadevari Server\Management
// gives "DSN=<value>".
//
// A value longer than 255 characters, or a connection string longer than
// 1023, is refused rather than cut (cut, it would name another server,
// database, login or password): the result is then false, as without
// settings. Nothing overflows. The password is wiped from every buffer
// that held it but the connection string itself.
//
// One thread.
#pragma once

#include "tool/run_settings.h"

// Fills settings->connectionString; false (the string empty) when neither
// the Database key nor an AppDSN value is there, or when they do not fit.
bool ReadConnectionSettings(RunSettings* settings);
