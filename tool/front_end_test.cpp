// The front end in-process, for the failures a real profile cannot be made
// to produce: each MAPI call of the session and of a user's check failing
// in turn, and memory running out. Each prints its line, and every path
// gives back what it took (the sanitizer run checks for leaks).
#include "tool/front_end.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "configdb/core/pm_database_for_tests.h"
#include "platform/mapi/mapi_test_hooks.h"
#include "platform/mapi/profile_fixture_for_tests.h"

class FrontEndTestAccess {
 public:
  // Logs on with `profile` and takes `database` (and its users) over, as
  // OpenDB would have opened it; false when the session failed.
  static bool Open(FrontEnd& run, const char* profile, PMDatabase* database) {
    run.settings_.profileName = profile;
    if (!run.OpenMapiSession()) {
      ReleasePMDatabase(database);
      return false;
    }
    run.database_ = database;
    run.settings_.update = true;
    return true;
  }
  static bool Morvale(FrontEnd& run) { return run.Morvale(); }
  static void CleanUp(FrontEnd& run) { run.CleanUp(); }
};

namespace {

using Access = PMDatabaseSQLImpTestAccess;

constexpr char kOrganisation[] =
    "[container gal]\ndisplay-name = GAL\nglobal = yes\n"
    "[container people]\ndisplay-name = People\n"
    "[user]\ndisplay-name = Ann Able\nemail-address = /o=Q/cn=ann\nsmtp-address = ann@q.example\n"
    "home-mdb = /o=Q/cn=MAIL2\ncontainer = gal\ncontainer = people\n"
    "[user]\ndisplay-name = Twin\nemail-address = twin@q.example\nsmtp-address = twin@q.example\n"
    "home-mdb = /o=Q/cn=MAIL1\n"
    "[user]\ndisplay-name = Twin\nemail-address = /o=Q/cn=twin2\nhome-mdb = /o=Q/cn=MAIL1\n"
    "[store]\ndn = /o=Q/cn=admin\ndisplay-name = Admin\nrole = default\n";

class FrontEndTest : public ::testing::Test {
 protected:
  FrontEndTest() { profiles_.Build("Q", kOrganisation); }
  ~FrontEndTest() override {
    ClearMapiFailuresForTesting();
    if (out_ != nullptr) std::fclose(out_);
  }

  // What the run printed so far.
  std::string Printed() {
    std::fflush(out_);
    std::rewind(out_);
    std::string text;
    char block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, out_)) > 0;) text.append(block, n);
    return text;
  }

  // A database object with Ann and, when asked, the first Twin, stored by
  // an address (so that his name is looked up), both as the address book
  // has them: with no database behind the object, a change could not be
  // written.
  static PMDatabase* Users(bool withTwin) {
    auto* database = static_cast<PMDatabaseSQLImp*>(CreatePMDatabase());
    PagerRecord* ann = Access::AddUser(*database, CreatePagerImp(database), 1);
    ann->SetDisplayName(L"Ann Able");
    ann->SetMailboxDN("/o=Q/cn=ann");
    ann->SetServerDN("/o=Q/cn=MAIL2");
    ann->SetMailboxSMTPAddr("ann@q.example");
    if (withTwin) {
      PagerRecord* twin = Access::AddUser(*database, CreatePagerImp(database), 2);
      twin->SetDisplayName(L"Twin");
      twin->SetMailboxDN("twin@q.example");
      twin->SetServerDN("/o=Q/cn=MAIL1");
      twin->SetMailboxSMTPAddr("twin@q.example");
    }
    return database;
  }

  morvale::testing::ScopedMapiProfileDirectory profiles_;
  std::FILE* out_ = std::tmpfile();
  FrontEnd run_{stdin, out_};
};

TEST_F(FrontEndTest, EachFailingStepOfTheSessionSaysWhichAndCleansUp) {
  struct Case {
    const char* call;
    const char* line;
  } cases[] = {
      {"MAPIInitialize", "MAPIInitialize() failed (80004005)\n"},
      {"IMAPISession::GetMsgStoresTable", "GetMsgStoresTable() failed (80004005)\n"},
      {"HrQueryAllRows", "HrQueryAllRows() failed (80004005)\n"},
      {"IMAPISession::OpenMsgStore", "OpenMsgStore() for this profile failed (80004005)\n"},
      {"IMsgStore::QueryInterface", "QueryInterface() failed (80004005)\n"},
      {"IMAPISession::OpenAddressBook", "OpenAddressBook() failed (80004005)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    FailMapiCallForTesting(c.call, E_FAIL);
    std::FILE* out = std::tmpfile();
    {
      FrontEnd run(stdin, out);
      std::string program = "morvale", p = "-p", profile = "Q", dash = "-c", connection = "x";
      char* argv[] = {program.data(), p.data(), profile.data(), dash.data(), connection.data()};
      EXPECT_EQ(run.Main(5, argv), 0);
    }
    ClearMapiFailuresForTesting();
    std::rewind(out);
    char text[1024] = {};
    std::fread(text, 1, sizeof text - 1, out);
    std::fclose(out);
    const std::string printed = text;
    EXPECT_NE(printed.find(c.line), std::string::npos) << printed;
    EXPECT_EQ(printed.find("finished"), std::string::npos) << printed;
  }
}

TEST_F(FrontEndTest, AUserWhoseEntryOrPropertiesCannotBeReadFailsAlone) {
  struct Case {
    const char* call;
    HRESULT result;
    const char* line;
  } cases[] = {
      {"IAddrBook::OpenEntry", MAPI_E_NO_ACCESS, "Could not open the recipient. User:Ann Able hResult: <80070005>\n"},
      {"IMAPIProp::GetProps", MAPI_E_CALL_FAILED,
       "Could not get properties for the mailbox selected. User:Ann Able hResult: <80004005>\n"},
      {"IAddrBook::ResolveName", MAPI_E_CALL_FAILED,
       "Failed to Resolve Name in Morvale. User:Ann Able hResult: <80004005>\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    std::FILE* out = std::tmpfile();
    FrontEnd run(stdin, out);
    ASSERT_TRUE(FrontEndTestAccess::Open(run, "Q", Users(false)));
    FailMapiCallForTesting(c.call, c.result, 0, 1);
    EXPECT_FALSE(FrontEndTestAccess::Morvale(run));
    ClearMapiFailuresForTesting();
    FrontEndTestAccess::CleanUp(run);
    std::rewind(out);
    char text[1024] = {};
    std::fread(text, 1, sizeof text - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(text),
              std::string("Attempting MAPILogon....\nMAPILogon Success.\nOpening Default Message Store Admin.\n"
                          "Scanning handhelds....this may take a while...\n") +
                  c.line);
  }
}

TEST_F(FrontEndTest, RunningOutOfMemoryForTheAddressListFailsTheUser) {
  ASSERT_TRUE(FrontEndTestAccess::Open(run_, "Q", Users(false)));
  FailMapiAllocationsForTesting(0, 1);
  EXPECT_FALSE(FrontEndTestAccess::Morvale(run_));
  ClearMapiFailuresForTesting();
  FrontEndTestAccess::CleanUp(run_);
  EXPECT_NE(Printed().find("Failed to MAPIAllocateBuffer in Morvale. User:Ann Able hResult: <8007000e>\n"),
            std::string::npos)
      << Printed();
}

TEST_F(FrontEndTest, TheContainerSearchSettlesAnAmbiguousNameAndStopsAtAFailure) {
  // The first Twin is found among the containers by his address: no
  // line, and nothing to change.
  ASSERT_TRUE(FrontEndTestAccess::Open(run_, "Q", Users(true)));
  EXPECT_TRUE(FrontEndTestAccess::Morvale(run_));
  FrontEndTestAccess::CleanUp(run_);
  EXPECT_EQ(Printed(),
            "Attempting MAPILogon....\nMAPILogon Success.\nOpening Default Message Store Admin.\n"
            "Scanning handhelds....this may take a while...\n");

  // A failing restriction ends the search with its result.
  std::FILE* out = std::tmpfile();
  FrontEnd run(stdin, out);
  ASSERT_TRUE(FrontEndTestAccess::Open(run, "Q", Users(true)));
  FailMapiCallForTesting("IMAPITable::Restrict", MAPI_E_TOO_COMPLEX);
  EXPECT_FALSE(FrontEndTestAccess::Morvale(run));
  ClearMapiFailuresForTesting();
  FrontEndTestAccess::CleanUp(run);
  std::rewind(out);
  char text[2048] = {};
  std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  EXPECT_NE(std::string(text).find("Failed to Resolve Name in Morvale. User:Twin hResult: <80040117>\n"),
            std::string::npos)
      << text;
}

}  // namespace
