// Statement building of ODBCRecord: no database involved.
#include "db/odbc_record.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/registry_fixture.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class ODBCRecordStatementTest : public morvale::testing::RegistryTest {
 protected:
  ODBCDatabase sqlServer_{DatabaseKind::SqlServer, nullptr};
  ODBCDatabase db2_{DatabaseKind::DB2, nullptr};
};

TEST_F(ODBCRecordStatementTest, WhereClauses) {
  struct Case {
    const char* name;
    std::function<void(ODBCRecord&)> fill;
    const wchar_t* select;
  };
  const std::vector<Case> cases = {
      {"first conjunction is not written; AND and OR as given",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"a", 1, ODBCRecord::kAnd, ODBCRecord::kEqual);
         r.AddWhereString(L"b", L"x%", ODBCRecord::kOr, ODBCRecord::kLike);
         r.AddWhereIsNull(L"c", ODBCRecord::kAnd);
       },
       L"SELECT Id FROM T WHERE a = ? OR b LIKE ? AND c IS NULL"},
      {"every comparison operator",
       [](ODBCRecord& r) {
         for (int code = ODBCRecord::kEqual; code <= ODBCRecord::kNotLike; ++code) {
           r.AddWhereInt(L"c", code, ODBCRecord::kAnd, code);
         }
       },
       L"SELECT Id FROM T WHERE c = ? AND c != ? AND c > ? AND c < ? AND c >= ? AND c <= ? AND c & ? != 0 AND "
       L"c & ? = 0 AND c LIKE ? AND c NOT LIKE ?"},
      {"IN list of three, then a term",
       [](ODBCRecord& r) {
         for (int id : {1, 2, 3}) r.AddWhereInt(L"Id", id, ODBCRecord::kAnd, ODBCRecord::kIn);
         r.AddWhereInt(L"x", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
       },
       L"SELECT Id FROM T WHERE Id IN (?, ?, ?)  AND x = ?"},
      {"two IN lists on different columns",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"a", 1, ODBCRecord::kAnd, ODBCRecord::kIn);
         r.AddWhereInt(L"a", 2, ODBCRecord::kAnd, ODBCRecord::kIn);
         r.AddWhereInt(L"b", 3, ODBCRecord::kOr, ODBCRecord::kIn);
       },
       L"SELECT Id FROM T WHERE a IN (?, ?)  OR b IN (?) "},
      {"groups",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"a", 1, ODBCRecord::kAnd, ODBCRecord::kEqual);
         r.AddWhereOpenGroup();
         r.AddWhereInt(L"b", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
         r.AddWhereIsNull(L"b", ODBCRecord::kOr);
         r.AddWhereCloseGroup();
       },
       L"SELECT Id FROM T WHERE a = ? AND (b = ? OR b IS NULL)"},
      {"an IN list closed by a group",
       [](ODBCRecord& r) {
         r.AddWhereOpenGroup();
         r.AddWhereInt(L"a", 1, ODBCRecord::kAnd, ODBCRecord::kIn);
         r.AddWhereInt(L"a", 2, ODBCRecord::kAnd, ODBCRecord::kIn);
         r.AddWhereCloseGroup();
       },
       L"SELECT Id FROM T WHERE (a IN (?, ?) )"},
      {"UPPER and LOWER",
       [](ODBCRecord& r) {
         r.AddWhereString(L"Name", L"A", ODBCRecord::kAnd, ODBCRecord::kEqual, ODBCRecord::kCaseUpper);
         r.AddWhereString(L"Mail", L"b", ODBCRecord::kAnd, ODBCRecord::kLike, ODBCRecord::kCaseLower);
       },
       L"SELECT Id FROM T WHERE UPPER(Name) = ? AND LOWER(Mail) LIKE ?"},
      {"bit tests",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"Flags", 4, ODBCRecord::kAnd, ODBCRecord::kBitSet);
         r.AddWhereInt(L"Flags", 8, ODBCRecord::kAnd, ODBCRecord::kBitClear);
       },
       L"SELECT Id FROM T WHERE Flags & ? != 0 AND Flags & ? = 0"},
      {"page keys alone",
       [](ODBCRecord& r) {
         r.AddPageKeyInt(L"a", true, 1);
         r.AddPageKeyInt(L"b", false, 2);
       },
       L"SELECT Id FROM T WHERE  ( a > ? )  OR  ( ( a = ? ) AND ( b < ? )  )"},
      {"page keys after terms, with an order",
       [](ODBCRecord& r) {
         r.AddWhereInt(L"s", 1, ODBCRecord::kAnd, ODBCRecord::kEqual);
         r.AddPageKeyInt(L"a", true, 1);
         r.AddPageKeyInt(L"b", true, 2);
         r.AddOrderBy(L"a", true);
         r.AddOrderBy(L"b", false);
       },
       L"SELECT Id FROM T WHERE s = ? AND ( ( a > ? )  OR  ( ( a = ? ) AND ( b > ? )  ))"
       L" ORDER BY a, b DESC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ODBCRecord record(&sqlServer_);
    std::int32_t id = 0;
    record.SetTableName(L"T");
    record.AddOutputInt(L"Id", &id);
    c.fill(record);
    EXPECT_EQ(Narrow(record.BuildSelect()), Narrow(c.select));
  }
}

TEST_F(ODBCRecordStatementTest, SelectListWithFunctionsAndNarrowColumns) {
  ODBCRecord record(&sqlServer_);
  std::int32_t max = 0;
  std::int64_t count = 0;
  std::wstring name;
  record.SetTableName(L"UserConfig");
  record.AddOutputInt(L"Id", &max, L"MAX");
  record.AddOutputInt64("Id", &count, "COUNT");
  record.AddOutputString(L"DisplayName", &name);
  EXPECT_EQ(Narrow(record.BuildSelect()), "SELECT MAX(Id), COUNT(Id), DisplayName FROM UserConfig");
}

TEST_F(ODBCRecordStatementTest, InsertUpdateDeleteForms) {
  ODBCRecord record(&sqlServer_);
  record.SetTableName(L"T");
  record.AddValueString(L"a", L"x");
  record.AddValueInt(L"b", 2);
  record.AddWhereInt(L"Id", 7, ODBCRecord::kAnd, ODBCRecord::kEqual);
  record.AddWhereIsNull(L"Gone", ODBCRecord::kAnd);
  EXPECT_EQ(Narrow(record.BuildInsert()),
            "SET NOCOUNT ON; INSERT INTO T (a, b, Id) VALUES (?, ?, ?) ; SELECT SCOPE_IDENTITY(); SET NOCOUNT OFF");
  EXPECT_EQ(Narrow(record.BuildUpdate()), "UPDATE T SET a = ?, b = ? WHERE Id = ? AND Gone IS NULL");
  EXPECT_EQ(Narrow(record.BuildDelete()), "DELETE FROM T WHERE Id = ? AND Gone IS NULL");

  ODBCRecord db2(&db2_);
  db2.SetTableName(L"T");
  db2.AddValueString(L"a", L"x");
  db2.AddWhereInt(L"Id", 7, ODBCRecord::kAnd, ODBCRecord::kEqual);
  EXPECT_EQ(Narrow(db2.BuildInsert()), "INSERT INTO T (a, Id) VALUES (?, ?) ");

  // Without terms there is no WHERE part at all.
  ODBCRecord bare(&sqlServer_);
  bare.SetTableName(L"T");
  bare.AddValueInt(L"b", 1);
  EXPECT_EQ(Narrow(bare.BuildUpdate()), "UPDATE T SET b = ?");
  EXPECT_EQ(Narrow(bare.BuildDelete()), "DELETE FROM T");
}

TEST_F(ODBCRecordStatementTest, InsertLeavesGroupTermsOut) {
  ODBCRecord record(&sqlServer_);
  record.SetTableName(L"T");
  record.AddValueInt(L"a", 1);
  record.AddWhereOpenGroup();
  record.AddWhereInt(L"b", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
  record.AddWhereCloseGroup();
  EXPECT_EQ(Narrow(record.BuildInsert()),
            "SET NOCOUNT ON; INSERT INTO T (a, b) VALUES (?, ?) ; SELECT SCOPE_IDENTITY(); SET NOCOUNT OFF");
}

TEST_F(ODBCRecordStatementTest, DataText) {
  ODBCRecord record(&sqlServer_);
  record.SetTableName(L"T");
  const std::wstring longText(40, L'z');
  record.AddValueString(L"short", L"50%");
  record.AddValueString(L"long", longText.c_str());
  record.AddValueString(L"none", nullptr);
  record.AddValueInt(L"n", -3);
  record.AddWhereIsNull(L"x", ODBCRecord::kAnd);
  record.AddWhereInt(L"Id", 9, ODBCRecord::kAnd, ODBCRecord::kEqual);
  EXPECT_EQ(Narrow(record.BuildDataText()),
            "short[50%%] long(first 32 bytes)[" + std::string(32, 'z') + "] none[NULL] n[-3] Id[9] ");
}

TEST_F(ODBCRecordStatementTest, ResetKeepsTableAndEmptiesTheRest) {
  ODBCRecord record(&sqlServer_);
  std::int32_t id = 0;
  record.SetTableName(L"T");
  record.AddOutputInt(L"Id", &id);
  record.AddValueInt(L"a", 1);
  record.AddWhereInt(L"b", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
  record.AddOrderBy(L"a", true);
  record.Reset();
  record.AddOutputInt(L"c", &id);
  EXPECT_EQ(Narrow(record.BuildSelect()), "SELECT c FROM T");
  EXPECT_EQ(Narrow(record.BuildDataText()), "");
  zev::ZEVString identifier;
  EXPECT_FALSE(record.GetIdentifier(identifier));
}

// The table may be named, and named again, after the columns are added.
TEST_F(ODBCRecordStatementTest, TableRenamedAfterColumnsKeepsTheColumns) {
  ODBCRecord record(&sqlServer_);
  std::int32_t id = 0;
  record.AddOutputInt(L"Id", &id, L"MAX");
  record.AddValueInt(L"a", 1);
  record.AddWhereInt(L"b", 2, ODBCRecord::kAnd, ODBCRecord::kEqual);
  record.AddOrderBy(L"a", false);
  for (const wchar_t* table : {L"AMuchLongerTableName", L"T", static_cast<const wchar_t*>(nullptr), L"Users"}) {
    record.SetTableName(table);
    const std::string name = table != nullptr ? Narrow(table) : "";
    EXPECT_EQ(Narrow(record.BuildSelect()), "SELECT MAX(Id) FROM " + name + " WHERE b = ? ORDER BY a DESC");
    EXPECT_EQ(Narrow(record.BuildUpdate()), "UPDATE " + name + " SET a = ? WHERE b = ?");
    EXPECT_EQ(Narrow(record.BuildDataText()), "a[1] b[2] ");
  }
  record.Reset();
  record.AddOutputString(L"Name", nullptr);
  EXPECT_EQ(Narrow(record.BuildSelect()), "SELECT Name FROM Users");
}

TEST_F(ODBCRecordStatementTest, NullDatabaseIsRefused) {
  try {
    ODBCRecord record(nullptr);
    FAIL() << "constructed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "ODBCRecord::ODBCRecord:  Invalid ODBCDatabase object");
  }
}

TEST_F(ODBCRecordStatementTest, TransactionMisuseThrows) {
  ODBCRecord record(&sqlServer_);
  EXPECT_THROW(record.Commit(), std::runtime_error);
  EXPECT_THROW(record.Rollback(), std::runtime_error);
  try {
    record.Commit();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Exception:  Trying to commit a transaction before a begin transaction");
  }
}

}  // namespace
