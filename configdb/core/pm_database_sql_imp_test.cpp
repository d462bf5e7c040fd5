#include "configdb/core/pm_database_sql_imp.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "configdb/core/open_database_for_tests.h"
#include "configdb/core/pm_database_for_tests.h"
#include "configdb/users/fake_pager_for_tests.h"
#include "db/connection_pool.h"
#include "db/test_support_for_tests.h"
#include "db/test_support_vexdb_for_tests.h"
#include "device/pager_imp.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

TEST(PMDatabaseReferenceTest, TheCreatorsReferenceIsReleasedExactlyOnce) {
  EXPECT_EQ(ReleasePMDatabase(nullptr), 0);

  // Never opened (the front end's failed-open path): freed by the release;
  // the leak check of the sanitizer run sees any object left behind.
  EXPECT_EQ(ReleasePMDatabase(CreatePMDatabase()), 0);

  auto* database = static_cast<PMDatabaseSQLImp*>(CreatePMDatabase());
  ASSERT_NE(database, nullptr);
  EXPECT_EQ(database->AddRef(), 2);
  EXPECT_EQ(ReleasePMDatabase(database), 1);
  EXPECT_EQ(database->Release(), 0);
}

TEST(PMDatabaseReferenceTest, QueryInterfaceKnowsOnlyIUnknown) {
  DatabasePtr database = NewDatabase();
  void* object = nullptr;
  ASSERT_EQ(database->QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(object, database.get());
  EXPECT_EQ(database->Release(), 1) << "the interface came with a reference";

  for (const IID& iid : {IID_IDispatch, GUID_NULL}) {
    object = database.get();
    EXPECT_EQ(database->QueryInterface(iid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(database->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

class PMDatabaseCacheTest : public ::testing::Test {
 protected:
  DatabasePtr database_ = NewDatabase();
  int destroyed_ = 0;
};

TEST_F(PMDatabaseCacheTest, DestroyForgetsAUserWhoseRecordWasNotLoaded) {
  FakePager stranger;
  EXPECT_FALSE(database_->Destroy(&stranger));

  auto* pager = new FakePager(&destroyed_);
  Access::AddUser(*database_, pager, 5)->SetDBStatus(0);
  Access::AddUser(*database_, 6);
  ASSERT_TRUE(database_->Destroy(pager));
  EXPECT_EQ(destroyed_, 1);
  EXPECT_EQ(Access::CachedUsers(*database_), 1u);
  EXPECT_EQ(Access::RecordById(*database_, 5), nullptr);
  EXPECT_NE(Access::RecordById(*database_, 6), nullptr);
}

TEST_F(PMDatabaseCacheTest, DestroyKeepsALoadedUser) {
  auto* pager = new FakePager(&destroyed_);
  PagerRecord* record = Access::AddUser(*database_, pager, 5);
  ASSERT_TRUE(database_->Destroy(pager));
  EXPECT_EQ(destroyed_, 0);
  EXPECT_EQ(Access::Record(*database_, pager), record);
  EXPECT_EQ(record->GetPagerImp(), pager);
}

TEST_F(PMDatabaseCacheTest, DestroyOfATrashedDeviceObjectRekeysTheUserUnderAFreshOne) {
  auto* trashed = new FakePager(&destroyed_);
  PagerRecord* record = Access::AddUser(*database_, trashed, 5);
  trashed->SetTrashed(true);
  ASSERT_TRUE(database_->Destroy(trashed));

  auto* fresh = dynamic_cast<PagerImp*>(record->GetPagerImp());
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->GetUserId(), 5);
  EXPECT_EQ(fresh->GetOwner(), database_.get());
  EXPECT_EQ(Access::Record(*database_, fresh), record);
  EXPECT_EQ(Access::Record(*database_, trashed), nullptr);
  EXPECT_EQ(Access::RecordById(*database_, 5), record);
  EXPECT_TRUE(database_->SetCachedValue(fresh, 7, CachedValue(3, 4, "DeviceType")));
  EXPECT_EQ(record->GetDeviceType(), 4);

  // The trashed object belongs to whoever trashed it.
  EXPECT_EQ(destroyed_, 0);
  delete trashed;
}

TEST_F(PMDatabaseCacheTest, CloseDeletesEveryRecordAndTheDeviceObjectsTheyOwn) {
  auto* kept = new FakePager(&destroyed_, true);
  Access::AddUser(*database_, new FakePager(&destroyed_), 1);
  Access::AddUser(*database_, kept, 2);
  Access::AddUser(*database_, 3);
  const LONG poolUses = GetConnectionPool().GetStatistics().references;

  database_->Close();
  EXPECT_EQ(Access::CachedUsers(*database_), 0u);
  EXPECT_EQ(Access::CachedUserIds(*database_), 0u);
  EXPECT_EQ(destroyed_, 1);
  database_->Close();
  EXPECT_EQ(GetConnectionPool().GetStatistics().references, poolUses) << "never opened: the pool is not given back";
  delete kept;
}

class PMDatabaseOpenTest : public OpenDatabaseTest {
 protected:
  // Open as the front end calls it, with the given listener and result
  // flag, users not loaded.
  bool Open(PMDatabaseSQLImp& db, const char* connection, const char* server, ChangeListener* listener = nullptr,
            bool* flag = nullptr) {
    return db.Open(0, 3, connection, 5, listener, server, false, false, 0, flag, false, 0);
  }
};

TEST_F(PMDatabaseOpenTest, MissingArgumentsFailWithoutAMessageOfTheirOwn) {
  const LONG uses = PoolUses();
  LoggedLines log;
  DatabasePtr noConnection = NewDatabase();
  EXPECT_FALSE(Open(*noConnection, nullptr, "S1"));
  EXPECT_FALSE(Access::IsOpened(*noConnection));
  EXPECT_EQ(PoolUses(), uses);

  DatabasePtr noServer = NewDatabase();
  EXPECT_FALSE(Open(*noServer, connectionString_.c_str(), nullptr));
  EXPECT_TRUE(Access::IsOpened(*noServer)) << "the pool was initialised first";
  EXPECT_EQ(PoolUses(), uses + 1);
  noServer->Close();
  noServer->Close();
  EXPECT_EQ(PoolUses(), uses) << "given back once";
  for (const CapturedLine& line : log.Stop()) {
    EXPECT_GT(line.level, 2) << std::string(line.text.begin(), line.text.end());
  }
}

TEST_F(PMDatabaseOpenTest, AServerWithoutARowIsReportedByName) {
  DatabasePtr db = NewDatabase();
  LoggedLines log;
  EXPECT_FALSE(Open(*db, connectionString_.c_str(), "No Such Server"));
  const auto lines = WithCode(log.Stop(), 0xEFFF2818u);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 1);
  EXPECT_NE(lines[0].text.find(L"No Such Server"), std::wstring::npos);
}

TEST_F(PMDatabaseOpenTest, AMinimalServerRowOpensAndCreatesItsStatisticsRow) {
  Sql("INSERT INTO ServerConfig (Id, ServiceName) VALUES (41, 'S41'), (42, 'S42');"
      "INSERT INTO ServerKwyRMap (ServerConfigId, Host, Port, Sequence) VALUES "
      "(42, 'relay-b', 3102, 2), (42, 'relay-a', 3101, 1), (41, 'other', 1, 1);"
      "INSERT INTO ConfigHistory (Id, ChangeType) VALUES (77, 1)");
  const LONG uses = PoolUses();
  RecordingListener listener;
  bool flag = false;
  DatabasePtr db = NewDatabase();
  ASSERT_TRUE(Open(*db, connectionString_.c_str(), "S42", &listener, &flag));
  EXPECT_TRUE(flag);
  EXPECT_EQ(Access::ServerConfigId(*db), 42);
  EXPECT_EQ(Access::ServiceName(*db), "S42");
  EXPECT_EQ(Access::Listener(*db), &listener);
  EXPECT_EQ(Access::AgentId(*db), 3);
  EXPECT_FALSE(Access::RefreshCounters(*db));
  EXPECT_EQ(Access::LastHistoryId(*db), 77);
  EXPECT_EQ(PoolUses(), uses + 2) << "one use for the object, one for its ServerStats row";
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM ServerStats WHERE ServerConfigId = 42"), 1);
  KwyRList relays;
  ASSERT_TRUE(db->Reserved312(relays));
  ASSERT_EQ(relays.size(), 2u);
  EXPECT_EQ(relays[0].host, "relay-a");
  EXPECT_EQ(relays[1].port, "3102");
  EXPECT_TRUE(db->LoadServerConfig(42));

  // A second object finds the row; ReleasePMDatabase closes and frees.
  DatabasePtr again = NewDatabase();
  ASSERT_TRUE(Open(*again, connectionString_.c_str(), "S42"));
  EXPECT_EQ(Scalar(L"SELECT count(*) FROM ServerStats WHERE ServerConfigId = 42"), 1);
  EXPECT_EQ(ReleasePMDatabase(again.release()), 0);
  EXPECT_EQ(ReleasePMDatabase(db.release()), 0);
  EXPECT_EQ(PoolUses(), uses);
}

}  // namespace
