// The utility's run, from its banner to its "finished" line: the options,
// the connection settings, the dump file, the MAPI session (logon, default
// message store, address book), the configuration database opened for the
// server named at the prompt, the walk over that server's users (Morvale:
// check and update each mailbox with -u, dump each user with -d) and the
// clean-up.
//
//   FrontEnd run(stdin, stdout);
//   return run.Main(argc, argv);
//
// Exit codes: 1 for a refused command line and for a dump file that cannot
// be opened, 0 for every other end (failures are reported as text).
//
// Everything runs on the calling thread, which must be in a COM apartment
// (the database's ADO objects need one). A FrontEnd serves one run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "configdb/pm_database.h"
#include "platform/mapi/mapi.h"
#include "tool/run_settings.h"

class FrontEnd {
 public:
  // `in` answers the server-name prompt; `out` is the console.
  FrontEnd(std::FILE* in, std::FILE* out);
  ~FrontEnd();
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // The whole run; the exit code.
  int Main(int argc, char** argv);

 private:
  friend class FrontEndTestAccess;

  // The user texts of one turn of the walk, each 512 characters with its
  // terminator; every one is cleared between users.
  static constexpr int kTextChars = 512;
  struct UserTexts {
    wchar_t storedDisplayName[kTextChars];
    char storedServerDN[kTextChars];
    char storedMailboxDN[kTextChars];
    char storedEmailAddress[kTextChars];
    char nameToResolve[kTextChars];
    char currentServerDN[kTextChars];
    char currentMailboxDN[kTextChars];
    wchar_t currentDisplayName[kTextChars];
    char currentSmtpAddress[kTextChars];
  };

  // Logs on and opens the default store, the database (with -d or -u) and
  // the address book; false after cleaning up what it opened.
  bool OpenMapiSession();
  // The steps of OpenMapiSession, each failure printing its line; the
  // stores table, its rows and the administration interface are handed
  // back for OpenMapiSession to free whatever the outcome.
  bool OpenMapiObjects(IMAPITable** storesTable, SRowSet** rows, IExchangeManageStore** manageStore);
  // Asks for the server's name and opens the database for it; false after
  // releasing the database object.
  bool OpenDB();
  // The walk over the server's users; false when a user or Seek failed.
  bool Morvale();
  // The mailbox check of one user; false when it failed (its line printed).
  bool CheckUser(Pager* pager);
  // After an ambiguous name: finds the user's entry among the address
  // book's containers by the stored mailbox DN; *result is the last
  // HRESULT of the search.
  bool SearchContainers(HRESULT* result);
  // Takes the four properties of the resolved mail user into the current
  // texts; false after printing the line of the first one missing or longer
  // than its text takes (never written cut).
  bool ReadMailUser(const SPropValue* values, ULONG count);
  void DumpUser(Pager* pager);
  // The end of a user's turn: the address list emptied, the texts cleared.
  void EndUserTurn();
  // Releases the database object (Close, then Release).
  void ReleaseDatabase();
  // Frees and releases the MAPI objects, closes the dump file and ends
  // MAPI, in that order.
  void CleanUp();

  std::FILE* in_;
  std::FILE* out_;
  RunSettings settings_;
  std::FILE* dumpFile_ = nullptr;
  bool mapiInitialized_ = false;
  IMAPISession* session_ = nullptr;
  IMsgStore* store_ = nullptr;
  IAddrBook* addressBook_ = nullptr;
  ADRLIST* addressList_ = nullptr;
  PMDatabase* database_ = nullptr;
  std::string serverName_;
  UserTexts texts_;
};
