#include "configdb/users/cached_value.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "configdb/core/pm_database_for_tests.h"
#include "configdb/users/fake_pager_for_tests.h"
#include "configdb/users/pager_record.h"

namespace {

std::vector<std::uint8_t> Bytes(const CachedValue& value) {
  return std::vector<std::uint8_t>(value.bytes(), value.bytes() + value.length());
}

TEST(CachedValueTest, ConstructorsStoreTheirValue) {
  const std::uint8_t data[] = {1, 2, 3};
  const CachedValue none;
  EXPECT_EQ(none.type, 0);
  EXPECT_TRUE(none.emptyIsNull);
  EXPECT_EQ(CachedValue(11, true, "RedirectionState").AsByte(), 1);
  EXPECT_EQ(CachedValue(3, -5, "DeviceType").AsInt(), -5);
  EXPECT_EQ(CachedValue(205, std::int64_t{0x123456789}, "KeyDate").value, 0x123456789);
  const CachedValue narrow(200, "ann@x.example", false, "OverrideSMTPAddr");
  EXPECT_STREQ(narrow.text.GetWide(), L"ann@x.example");
  EXPECT_FALSE(narrow.emptyIsNull);
  EXPECT_EQ(narrow.column, "OverrideSMTPAddr");
  EXPECT_EQ(CachedValue(202, static_cast<const wchar_t*>(nullptr), true, nullptr).text.GetWide(), nullptr);
  EXPECT_EQ(CachedValue(202, L"x", true, nullptr).column, "");

  const CachedValue bytes(204, 3u, data, "AckData");
  EXPECT_EQ(Bytes(bytes), std::vector<std::uint8_t>(data, data + 3));
  for (const CachedValue& empty : {CachedValue(204, 0u, data, "AckData"),
                                   CachedValue(204, 3u, static_cast<const void*>(nullptr), "AckData")}) {
    EXPECT_EQ(empty.bytes(), nullptr);
    EXPECT_EQ(empty.length(), 0u);
  }
}

TEST(CachedValueTest, CopiesAreDeepAndCopyValueKeepsTypeAndColumn) {
  const std::uint8_t data[] = {9, 8, 7, 6};
  CachedValue original(204, 4u, data, "DeviceCapabilities");
  original.keyKind = 2;
  CachedValue copy(original);
  EXPECT_NE(copy.bytes(), original.bytes());
  EXPECT_EQ(Bytes(copy), Bytes(original));
  EXPECT_EQ(copy.keyKind, 2);
  EXPECT_EQ(copy.column, "DeviceCapabilities");

  CachedValue target(3, 1, "DeviceType");
  target.CopyValue(original);
  EXPECT_EQ(target.type, 3);
  EXPECT_EQ(target.column, "DeviceType");
  EXPECT_EQ(Bytes(target), Bytes(original));

  // A value without bytes copied onto one with bytes leaves none.
  target.CopyValue(CachedValue(3, 5, "DeviceType"));
  EXPECT_EQ(target.bytes(), nullptr);
  EXPECT_EQ(target.length(), 0u);
  EXPECT_EQ(target.AsInt(), 5);

  CachedValueItemVector items;
  items.emplace_back(8, original);
  items.push_back(items.front());
  EXPECT_NE(items[0].value.bytes(), items[1].value.bytes());
}

// The cached record of one user, reached through the database object.
class CachedValueIdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pager_ = PMDatabaseSQLImpTestAccess::AddUser(*database_, 42);
    record_ = PMDatabaseSQLImpTestAccess::Record(*database_, pager_);
  }

  DatabasePtr database_ = NewDatabase();
  Pager* pager_ = nullptr;
  PagerRecord* record_ = nullptr;
};

TEST_F(CachedValueIdTest, EachIdIsAppliedAndReadBack) {
  const std::uint8_t data[] = {0x10, 0x20, 0x30};
  std::uint8_t key[80];
  for (int i = 0; i < 80; ++i) key[i] = static_cast<std::uint8_t>(0x80 + i);
  const auto integer = [](int value) { return CachedValue(3, value, nullptr); };

  struct Row {
    int id;
    CachedValue value;
    int getType;
  };
  std::vector<Row> rows = {
      {1, CachedValue(200, "2A3B4C5D", true, "PIN"), 200},
      {4, integer(3), 3},
      {5, integer(0x1234), 3},
      {6, integer(7), 3},
      {7, integer(-2), 3},
      {8, CachedValue(204, 3u, data, "DeviceCapabilities"), 204},
      {9, CachedValue(204, 2u, data, "AckData"), 204},
      {10, CachedValue(200, "ann@x.example", false, "OverrideSMTPAddr"), 200},
      {12, CachedValue(205, std::int64_t{1700000000}, "KeyDate"), 205},
      {13, CachedValue(205, std::int64_t{1700000001}, "ActivationTime"), 205},
      {14, CachedValue(200, "relay-7", true, "RoutingInfo"), 200},
      {15, CachedValue(204, 1u, data, "DataSourceId"), 204},
      {16, CachedValue(202, L"Book ÿ", false, "ServiceBookName"), 202},
      {19, CachedValue(202, L"Sent from my handheld", false, "AutoSignature"), 130},
      {22, CachedValue(202, L"  rule one  ", false, "Filters"), 130},
      {24, integer(77), 3},
      {30, integer(4), 3},
      {31, integer(600), 3},
      {32, CachedValue(204, 3u, data, "UserCertificates"), 204},
      {33, CachedValue(204, 2u, data, "UserPeerToPeerKey"), 204},
      {34, integer(2), 3},
      {35, CachedValue(202, L"Mailbox - Ann", false, "MailStoreDisplayName"), 202},
      {39, integer(1234), 3},
  };
  for (int id : {2, 3, 17, 18, 20, 21, 23, 29, 36, 37, 38}) rows.push_back({id, CachedValue(11, true, nullptr), 11});

  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    ASSERT_TRUE(database_->SetCachedValue(pager_, row.id, row.value));
    CachedValue out;
    ASSERT_TRUE(database_->GetCachedValue(pager_, row.id, &out));
    EXPECT_EQ(out.type, row.getType);
    switch (row.getType) {
      case 3:
      case 11:
      case 205:
        EXPECT_EQ(out.value, row.value.value);
        break;
      case 204:
        EXPECT_EQ(Bytes(out), Bytes(row.value));
        break;
      default:
        if (row.id == 22) {
          EXPECT_STREQ(out.text.GetWide(), L"rule one");
        } else {
          EXPECT_STREQ(out.text.GetWide(), row.value.text.GetWide());
        }
    }
  }

  // Id 11 by key kind.
  for (std::uint16_t kind = 1; kind <= 3; ++kind) {
    SCOPED_TRACE(kind);
    CachedValue value(204, 72u, key + kind, "CurrentKey");
    value.keyKind = kind;
    ASSERT_TRUE(database_->SetCachedValue(pager_, 11, value));
    CachedValue out;
    out.keyKind = kind;
    ASSERT_TRUE(database_->GetCachedValue(pager_, 11, &out));
    EXPECT_EQ(out.type, 204);
    EXPECT_EQ(Bytes(out), Bytes(value));
  }
  CachedValue noKind;
  EXPECT_FALSE(database_->GetCachedValue(pager_, 11, &noKind));
  EXPECT_EQ(noKind.type, 0);
}

TEST_F(CachedValueIdTest, IdsThatAreNotAppliedOrReadLeaveTheRecord) {
  record_->SetRichContentTrainingFileId(5);
  record_->SetServiceBookName(L"Keep");
  const std::uint8_t data[] = {1};
  for (int id : {0, 25, 28, 40, 41, -1}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(database_->SetCachedValue(pager_, id, CachedValue(204, 1u, data, "x")));
  }
  EXPECT_EQ(record_->GetRichContentTrainingFileId(), 5);
  const std::wstring tooLong(64, L'n');
  EXPECT_FALSE(database_->SetCachedValue(pager_, 16, CachedValue(202, tooLong.c_str(), false, "ServiceBookName")));
  EXPECT_STREQ(record_->GetServiceBookName(), L"Keep");

  for (int id : {0, 26, 27, 28, 40, 41}) {
    SCOPED_TRACE(id);
    CachedValue out(3, 9, "x");
    EXPECT_FALSE(database_->GetCachedValue(pager_, id, &out));
    EXPECT_EQ(out.type, 0);
  }
  // 26 and 27 are applied although they cannot be read back.
  EXPECT_TRUE(database_->SetCachedValue(pager_, 26, CachedValue(3, 1, "RichContentEnabled")));
  EXPECT_TRUE(database_->SetCachedValue(pager_, 27, CachedValue(3, 1, "RichContentInlineEnabled")));
  EXPECT_EQ(record_->GetRichContentEnabled(), 1);
  EXPECT_EQ(record_->GetRichContentInlineEnabled(), 1);
}

TEST_F(CachedValueIdTest, EmptyByteFieldsReadAsNoValueOrAsEmptyBytes) {
  for (int id : {8, 9, 15}) {
    SCOPED_TRACE(id);
    CachedValue out;
    EXPECT_TRUE(database_->GetCachedValue(pager_, id, &out));
    EXPECT_EQ(out.type, 0);
  }
  for (int id : {25, 32, 33}) {
    SCOPED_TRACE(id);
    CachedValue out;
    EXPECT_TRUE(database_->GetCachedValue(pager_, id, &out));
    EXPECT_EQ(out.type, 204);
    EXPECT_EQ(out.length(), 0u);
  }
  // A value read into a holder that had bytes keeps none of them.
  const std::uint8_t data[] = {5, 5};
  CachedValue out(204, 2u, data, "AckData");
  ASSERT_TRUE(database_->GetCachedValue(pager_, 7, &out));
  EXPECT_EQ(out.bytes(), nullptr);
}

TEST_F(CachedValueIdTest, AUserThatIsNotCachedIsRefused) {
  FakePager stranger;
  CachedValue out;
  EXPECT_FALSE(database_->SetCachedValue(&stranger, 7, CachedValue(3, 1, "DeviceType")));
  EXPECT_FALSE(database_->GetCachedValue(&stranger, 7, &out));
  EXPECT_FALSE(database_->SetCachedValue(nullptr, 7, CachedValue(3, 1, "DeviceType")));
  EXPECT_FALSE(database_->GetCachedValue(pager_, 7, nullptr));
}

}  // namespace
