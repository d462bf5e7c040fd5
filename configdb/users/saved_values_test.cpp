#include <string>

#include <gtest/gtest.h>

#include "configdb/users/user_rows_for_tests.h"

namespace {

class SaveCachedValuesTest : public UserRowsTest {
 protected:
  std::string Column(const char* column, int id = 1) {
    return Text(std::string("SELECT ") + column + " FROM UserConfig WHERE Id = " + std::to_string(id));
  }
};

TEST_F(SaveCachedValuesTest, EveryKindOfValueLandsInItsColumnInOneUpdate) {
  Pager* pager = AddUser(1, "RoutingInfo, OverrideSMTPAddr, DataSourceId, ServiceBookName",
                         "'old', 'old@quillon.example', '\\x01', 'old'");
  const unsigned char capabilities[] = {0x00, 0x7F, 0x80, 0xFF};
  CachedValueItemVector items = {
      {7, CachedValue(3, 4, "DeviceType")},
      {2, CachedValue(11, true, "RedirectionState")},
      {3, CachedValue(11, false, "ExtServicesState")},
      {14, CachedValue(200, "relay-7", true, "RoutingInfo")},
      {16, CachedValue(202, L"Bo\u00EEte \u4E2D", true, "ServiceBookName")},
      {10, CachedValue(200, "", false, "OverrideSMTPAddr")},
      {35, CachedValue(202, L"", true, "MailStoreDisplayName")},
      {8, CachedValue(204, sizeof capabilities, capabilities, "DeviceCapabilities")},
      {15, CachedValue(204, 0u, nullptr, "DataSourceId")},
      {13, CachedValue(205, std::int64_t{1700000000}, "ActivationTime")},
  };
  ASSERT_TRUE(database_->SaveCachedValues(&items, 1));

  EXPECT_EQ(Column("DeviceType"), "4");
  EXPECT_EQ(Column("RedirectionState"), "1");
  EXPECT_EQ(Column("ExtServicesState"), "0");
  EXPECT_EQ(Column("RoutingInfo"), "relay-7");
  EXPECT_EQ(Column("(ServiceBookName = U&'Bo\\00EEte \\4E2D')::int"), "1");
  EXPECT_EQ(Column("OverrideSMTPAddr"), "") << "an empty text that is not NULL";
  EXPECT_EQ(Column("MailStoreDisplayName"), "NULL");
  EXPECT_EQ(Column("encode(DeviceCapabilities, 'hex')"), "007f80ff");
  EXPECT_EQ(Column("DataSourceId"), "NULL") << "no bytes: NULL";
  EXPECT_EQ(Column("extract(epoch FROM ActivationTime)::bigint"), "1700000000");

  // The cache is the caller's business.
  EXPECT_EQ(database_->CheckRoutingInfo(pager, "relay-7"), 0);
}

TEST_F(SaveCachedValuesTest, AUserOfAnotherServerIsNotChanged) {
  AddUser(5, "DeviceType", "1", 2);
  CachedValueItemVector items = {{7, CachedValue(3, 4, "DeviceType")}};
  EXPECT_TRUE(database_->SaveCachedValues(&items, 5));
  EXPECT_EQ(Column("DeviceType", 5), "1");
}

TEST_F(SaveCachedValuesTest, NothingIsWrittenForAnEmptyListOrAValueOfAnUnknownType) {
  AddUser(1, "DeviceType", "1");
  CachedValueItemVector items;
  EXPECT_FALSE(database_->SaveCachedValues(&items, 1));
  EXPECT_FALSE(database_->SaveCachedValues(nullptr, 1));

  // A value nothing can write would move every later parameter up by one.
  items = {{25, CachedValue(0, 0, "Reserved")}, {7, CachedValue(3, 4, "DeviceType")}};
  EXPECT_FALSE(database_->SaveCachedValues(&items, 1));
  EXPECT_EQ(Column("DeviceType"), "1");
}

TEST_F(SaveCachedValuesTest, AStatementTheServerRefusesIsAFailure) {
  AddUser(1);
  CachedValueItemVector items = {{7, CachedValue(3, 4, "NoSuchColumn")}};
  EXPECT_FALSE(database_->SaveCachedValues(&items, 1));
}

TEST_F(SaveCachedValuesTest, RemovePagerDeletesTheRowAndLeavesTheCache) {
  Pager* pager = AddUser(1);
  AddUser(2);
  ASSERT_TRUE(database_->RemovePager(pager));
  EXPECT_EQ(Text("SELECT count(*) FROM UserConfig"), "1");
  EXPECT_EQ(Column("Id", 2), "2");
  int id = 0;
  EXPECT_TRUE(database_->GetUserId(pager, &id));
  EXPECT_EQ(id, 1);
  EXPECT_FALSE(database_->RemovePager(nullptr));
}

}  // namespace
