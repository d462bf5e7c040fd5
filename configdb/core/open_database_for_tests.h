// The PostgreSQL fixture of the configuration database object's tests: the
// command runner's fixture (db/test_support_vexdb_for_tests.h: a fresh database
// per suite, the pool up on it, sleeps recorded) with the site's
// GlobalSettings row in place, the ADO connection string at hand, and Open
// as the tests call it.
//
//   class MyTest : public OpenDatabaseTest {};
//   TEST_F(MyTest, X) {
//     Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (5, 'S5')");
//     DatabasePtr db = NewDatabase();
//     ASSERT_TRUE(OpenServer(*db, "S5"));
//   }
//
// One test thread; suites run one after another.
#pragma once

#include <string>

#include "configdb/core/pm_database_for_tests.h"
#include "db/test_support_for_tests.h"
#include "db/test_support_vexdb_for_tests.h"
#include "testing/postgres.h"

class OpenDatabaseTest : public VexdbDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    VexdbDatabaseTest::SetUpTestSuite();
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("INSERT INTO GlobalSettings (Container, PeerToPeerKeyData) VALUES ('Site', '\\x0a0b0c')");
  }
  void SetUp() override {
    VexdbDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const std::wstring& ado = database().ado_connection_string();
    connectionString_.assign(ado.begin(), ado.end());
  }

  // Open as the front end calls it, but with the users loaded only when
  // asked, the given agent, listener and result flag, and the counters'
  // refresh off unless asked.
  bool OpenServer(PMDatabaseSQLImp& db, const char* server, bool loadUsers = false, int agent = 0,
                  ChangeListener* listener = nullptr, bool* flag = nullptr, bool refreshCounters = false) {
    return db.Open(0, agent, connectionString_.c_str(), 5, listener, server, false, refreshCounters, 0, flag, loadUsers,
                   0);
  }
  static LONG PoolUses() { return GetConnectionPool().GetStatistics().references; }
  // The lines of `lines` with event code `code`.
  static std::vector<CapturedLine> WithCode(const std::vector<CapturedLine>& lines, unsigned code) {
    std::vector<CapturedLine> found;
    for (const CapturedLine& line : lines) {
      if (line.eventCode == code) found.push_back(line);
    }
    return found;
  }

  std::string connectionString_;
};
