#include "configdb/servers/sql_db_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "configdb/core/open_database_for_tests.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

TEST(SQLDBValueTest, EachValueAnswersOnlyForItsOwnType) {
  SQLDBValue value("Column", SQLDBValue::kBlob);
  const std::uint8_t bytes[] = {1, 2, 3};
  value.SetBlob(bytes, 3);
  std::vector<std::uint8_t> blob;
  EXPECT_TRUE(value.GetBlob(&blob));
  EXPECT_EQ(blob, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(value.GetBlobLength(), 3u);
  int integer = 99;
  EXPECT_FALSE(value.GetInt(&integer));
  EXPECT_EQ(integer, 99) << "another type leaves the output alone";
  EXPECT_EQ(value.Increment(), 0);

  const SQLDBValue copy(value);
  EXPECT_EQ(copy.GetName(), "Column");
  EXPECT_TRUE(copy.GetBlob(&blob));
  EXPECT_EQ(blob.size(), 3u);

  value.SetInt(0);
  EXPECT_EQ(value.GetBlobLength(), 0u) << "a setter releases the blob";
  EXPECT_EQ(value.Decrement(), 0) << "stops at 0";
  EXPECT_EQ(value.Increment(), 1);
  EXPECT_TRUE(value.GetInt(&integer));
  EXPECT_EQ(integer, 1);
  value.ReleaseBlob();
  EXPECT_EQ(value.GetType(), SQLDBValue::kInteger) << "only a blob is released";

  value.SetBlob(nullptr, 5);
  EXPECT_EQ(value.GetType(), SQLDBValue::kBlob);
  EXPECT_EQ(value.GetBlobLength(), 0u);
  value.ReleaseBlob();
  EXPECT_EQ(value.GetType(), SQLDBValue::kNone);

  value.SetString("text");
  std::string text;
  EXPECT_TRUE(value.GetString(&text));
  EXPECT_EQ(text, "text");
  FILETIME time{7, 8};
  value.SetFileTime(time);
  FILETIME out{};
  EXPECT_TRUE(value.GetFileTime(&out));
  EXPECT_EQ(out.dwLowDateTime, 7u);
  EXPECT_FALSE(value.GetString(&text));
}

TEST(SQLDBObjectTest, AnObjectWithoutColumnsRefusesEveryAccessor) {
  SQLDBObject row;
  int value = 5;
  EXPECT_EQ(row.GetIntColumn("MsgsSent", &value), E_FAIL);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(row.SetIntColumn("MsgsSent", 1), E_FAIL);
  EXPECT_EQ(row.IncrementIntColumn("MsgsSent", &value), E_FAIL);
  EXPECT_EQ(row.DecrementIntColumn("MsgsSent", nullptr), E_FAIL);
  EXPECT_EQ(row.Reload(), E_FAIL);
  EXPECT_TRUE(row.Clear());
}

// A table of the test's own: a text key and a byte key, and one column of
// each kind.
class SQLDBObjectDatabaseTest : public OpenDatabaseTest {
 protected:
  static void SetUpTestSuite() {
    OpenDatabaseTest::SetUpTestSuite();
    if (morvale::testing::PostgresConnectionString().empty()) return;
    Sql("CREATE TABLE RowObjectTest (Name varchar(64), KeyBytes bytea, Counter integer DEFAULT 3, "
        "Label varchar(64), Data bytea, At timestamp)");
  }

  std::vector<SQLDBValue> Columns() {
    return {SQLDBValue("Label", SQLDBValue::kString), SQLDBValue("Counter", SQLDBValue::kInteger),
            SQLDBValue("Data", SQLDBValue::kBlob), SQLDBValue("At", SQLDBValue::kTime)};
  }
  std::vector<SQLDBValue> Keys(const char* name, const std::vector<std::uint8_t>& bytes) {
    std::vector<SQLDBValue> keys = {SQLDBValue("Name", SQLDBValue::kString), SQLDBValue("KeyBytes", SQLDBValue::kBlob)};
    keys[0].SetString(name);
    keys[1].SetBlob(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return keys;
  }

  DatabasePtr owner_ = NewDatabase();
};

TEST_F(SQLDBObjectDatabaseTest, CreatesItsRowWhenAbsentAndReadsItsColumnsAfterwards) {
  SQLDBObject row;
  row.SetDatabase(owner_.get());
  const std::vector<SQLDBValue> columns = Columns();
  const std::vector<SQLDBValue> keys = Keys("a", {0x01, 0xFF});
  const LONG uses = PoolUses();
  ASSERT_TRUE(row.Initialize("RowObjectTest", &columns, &keys, connectionString_, 5));
  EXPECT_EQ(PoolUses(), uses + 1);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM RowObjectTest WHERE Name = 'a' AND KeyBytes = '\\x01ff'"), 1);
  int value = -1;
  EXPECT_EQ(row.GetIntColumn("Counter", &value), S_OK);
  EXPECT_EQ(value, 0) << "a new row's defaults are not read back";

  Sql("UPDATE RowObjectTest SET Counter = 7, Label = 'seven', Data = '\\x0707', At = '2020-01-02 03:04:05' "
      "WHERE Name = 'a'");
  ASSERT_EQ(row.Reload(), S_OK);
  EXPECT_EQ(row.GetIntColumn("Counter", &value), S_OK);
  EXPECT_EQ(value, 7);
  Sql("UPDATE RowObjectTest SET Counter = NULL WHERE Name = 'a'");
  ASSERT_EQ(row.Reload(), S_OK);
  EXPECT_EQ(row.GetIntColumn("Counter", &value), S_OK);
  EXPECT_EQ(value, 7) << "NULL keeps the value in memory";
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM RowObjectTest"), 1) << "found again, not inserted again";

  EXPECT_EQ(row.SetIntColumn("Missing", 1), E_INVALIDARG);
  EXPECT_EQ(row.GetIntColumn("Missing", &value), E_FAIL);
  EXPECT_EQ(row.IncrementIntColumn("Label", &value), S_OK);
  EXPECT_EQ(value, 0) << "a text column is not counted";
  EXPECT_EQ(row.IncrementIntColumn("Counter", &value), S_OK);
  EXPECT_EQ(value, 8);
  EXPECT_EQ(row.SetIntColumn("Counter", 0), S_OK);
  EXPECT_EQ(row.DecrementIntColumn("Counter", &value), S_OK);
  EXPECT_EQ(value, 0);
  Sql("UPDATE RowObjectTest SET Counter = 2 WHERE Name = 'a'");
  ASSERT_EQ(row.Reload(), S_OK);
  EXPECT_EQ(row.GetIntColumn("Counter", &value), S_OK);
  EXPECT_EQ(value, 2) << "changes in memory are not written: the row's value comes back";

  EXPECT_TRUE(row.Clear());
  EXPECT_EQ(PoolUses(), uses);
  EXPECT_EQ(row.GetIntColumn("Counter", &value), E_FAIL);
}

TEST_F(SQLDBObjectDatabaseTest, AnEmptyByteKeyFindsTheRowItMade) {
  SQLDBObject row;
  row.SetDatabase(owner_.get());
  const std::vector<SQLDBValue> columns = Columns();
  const std::vector<SQLDBValue> keys = Keys("empty", {});
  ASSERT_TRUE(row.Initialize("RowObjectTest", &columns, &keys, connectionString_, 5));
  ASSERT_EQ(row.Reload(), S_OK);
  ASSERT_EQ(row.Reload(), S_OK);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM RowObjectTest WHERE Name = 'empty'"), 1);
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM RowObjectTest WHERE Name = 'empty' AND KeyBytes IS NULL"), 1);
  row.Clear();
}

TEST_F(SQLDBObjectDatabaseTest, AReloadThatReadNothingFails) {
  const std::vector<SQLDBValue> columns = Columns();
  const std::vector<SQLDBValue> keys = Keys("b", {1});
  const LONG uses = PoolUses();
  {
    SQLDBObject noOwner;
    EXPECT_FALSE(noOwner.Initialize("RowObjectTest", &columns, &keys, connectionString_, 5));
    EXPECT_EQ(noOwner.Reload(), E_FAIL);
  }
  EXPECT_EQ(PoolUses(), uses) << "the pool use goes back with the object";

  SQLDBObject row;
  row.SetDatabase(owner_.get());
  LoggedLines log;
  EXPECT_FALSE(row.Initialize("NoSuchTable", &columns, &keys, connectionString_, 5));
  const std::vector<SQLDBValue> none;
  EXPECT_FALSE(row.Initialize("RowObjectTest", &none, &keys, connectionString_, 5));
  EXPECT_EQ(PoolUses(), uses + 1) << "a second set-up keeps the one pool use";
  const auto lines = WithCode(log.Stop(), 0xAFFF50A0u);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].text.find(L"SQLDBObject::ReloadPropertiesFromDB"), std::wstring::npos);
  EXPECT_NE(lines[0].text.find(L" select At,Counter,Data,Label from NoSuchTable where KeyBytes = ? and Name = ?"),
            std::wstring::npos);
  row.Clear();
  EXPECT_EQ(PoolUses(), uses);
}

}  // namespace
