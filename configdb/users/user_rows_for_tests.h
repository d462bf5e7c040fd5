// The PostgreSQL fixture of the tests of the per-user writes: a fresh
// database per suite (configdb/core/open_database_for_tests.h) with two
// servers, S1 (Id 1) and S2 (Id 2), and the database object opened on S1
// without its users. Each test starts with an empty UserConfig table; AddUser inserts a
// user's row and caches the same user, as a load would, so that the test
// can call the object and then read the row back column by column.
//
//   class MyTest : public UserRowsTest {};
//   TEST_F(MyTest, X) {
//     Pager* pager = AddUser(7, "MailboxDN, ServerDN", "'/o=x/cn=a', '/o=x/cn=s'");
//     Record(pager)->SetMailboxDN("/o=x/cn=a");
//     ... database_->SetDNs(pager, ...) ...
//     EXPECT_EQ(Text("SELECT MailboxDN FROM UserConfig WHERE Id = 7"), "/o=x/cn=b");
//   }
//
// One test thread; suites run one after another.
#pragma once

#include <string>

#include "configdb/core/open_database_for_tests.h"

class UserRowsTest : public OpenDatabaseTest {
 protected:
  void SetUp() override {
    OpenDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Sql("DELETE FROM UserConfig;"
        "INSERT INTO ServerConfig (Id, ServiceName) VALUES (1, 'S1'), (2, 'S2') ON CONFLICT DO NOTHING");
    database_ = NewDatabase();
    ASSERT_TRUE(OpenServer(*database_, "S1"));
  }

  // Inserts user `id` of server `server` with the given columns and values
  // (SQL lists, may be empty) and caches the user with an empty record
  // under a new device object, which it returns.
  Pager* AddUser(int id, const std::string& columns = "", const std::string& values = "", int server = 1) {
    Sql("INSERT INTO UserConfig (Id, ServerConfigId" + (columns.empty() ? "" : ", " + columns) + ") VALUES (" +
        std::to_string(id) + ", " + std::to_string(server) + (values.empty() ? "" : ", " + values) + ")");
    return PMDatabaseSQLImpTestAccess::AddUser(*database_, id);
  }

  PagerRecord* Record(Pager* pager) { return PMDatabaseSQLImpTestAccess::Record(*database_, pager); }

  // The first column of the first row of `sql` as text, "NULL" for a NULL
  // value and "no row" when there is none.
  static std::string Text(const std::string& sql) {
    ado::_ConnectionPtr connection = ado::MakeConnection();
    connection->Open(_bstr_t(database().ado_connection_string().c_str()), _bstr_t(L""), _bstr_t(L""), -1);
    ado::_RecordsetPtr rows = connection->Execute(_bstr_t(sql.c_str()), nullptr, -1);
    std::string text = "no row";
    if (!rows->GetEndOfFile()) {
      const _variant_t value = rows->GetFields()->GetItem(_variant_t(0))->GetValue();
      text = value.vt == VT_NULL ? "NULL" : static_cast<const char*>(_bstr_t(value));
    }
    connection->Close();
    return text;
  }

  DatabasePtr database_;
};
