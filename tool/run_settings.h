// What one run of the utility was asked to do: the settings its command
// line fills (tool/command_line.h) and its connection settings complete
// (tool/connection_settings.h).
//
// The dump file and profile names point into the argument vector, which
// outlives the run. The connection string may hold a password: whoever is
// done with it wipes it (SecureWipe).
//
// Belongs to the one thread of the run.
#pragma once

struct RunSettings {
  // The ADO connection string: at most 1023 characters and a terminator.
  static constexpr int kConnectionStringBytes = 1024;

  char connectionString[kConnectionStringBytes] = {};
  // -c gave the connection string: the registry is not read.
  bool connectionStringGiven = false;
  // -d: dump every user, to dumpFileName or (null) to the screen.
  bool dump = false;
  const char* dumpFileName = nullptr;
  // -u: check every user's mailbox and update the database.
  bool update = false;
  // -p: the MAPI profile; null means the logon without a named profile.
  const char* profileName = nullptr;
};
