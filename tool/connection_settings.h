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
// login or password that holds ';', a quote or a blank is written quoted
// ("..." with '"' doubled), so that it reaches the server whole.
// Without the Database key, the "AppDSN" value of
// HKEY_LOCAL_MACHINE\Software\Quillon\Quorrel Dazadevari Server\Management
// gives "DSN=<value>".
//
// Each value is cut to 255 characters, the whole string to 1023; nothing
// overflows. The password is wiped from every buffer that held it but the
// connection string itself.
//
// One thread.
#pragma once

#include "tool/run_settings.h"

// Fills settings->connectionString; false (the string empty) when neither
// the Database key nor an AppDSN value is there.
bool ReadConnectionSettings(RunSettings* settings);
