#include "db/connection_item.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "db/test_support_for_tests.h"

namespace {

TEST(SuppressPassword, MasksEveryPasswordValueAndKeepsTheRest) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"Provider=SQLOLEDB;Server=db;uid=sa;pwd=secret;Database=x",
       "Provider=SQLOLEDB;Server=db;uid=sa;pwd=;Database=x"},
      {"Server=db;uid=sa;PWD=secret", "Server=db;uid=sa;PWD="},
      {"Server=db;Password=secret;Database=x", "Server=db;Password=;Database=x"},
      // First key, blanks around the keyword and '='.
      {"pwd=secret;Server=db", "pwd=;Server=db"},
      {"Server=db; Pwd = secret ;Database=x", "Server=db; Pwd =;Database=x"},
      // Quoted values may hold ';' and doubled quotes.
      {"Server=db;pwd=\"se;cr\"\"et\";Database=x", "Server=db;pwd=;Database=x"},
      {"Server=db;pwd='a;b';Database=x", "Server=db;pwd=;Database=x"},
      {"Server=db;pwd=\"never closed;Database=x", "Server=db;pwd="},
      {"Server=db;app='never closed;pwd=secret;Database=x", "Server=db;app='never closed;pwd=;Database=x"},
      // The ODBC form braces a value; line breaks count as blanks.
      {"Driver={Pg};Server=db;PWD={se;cr}}et};Database=x", "Driver={Pg};Server=db;PWD=;Database=x"},
      {"Server=db;pwd={never closed;Database=x", "Server=db;pwd="},
      {"Server=db;\r\npwd=secret;Database=x", "Server=db;\r\npwd=;Database=x"},
      {"Server=db;pwd=\n'a;b';Database=x", "Server=db;pwd=;Database=x"},
      // Every occurrence.
      {"pwd=one;Server=db;Password=two;PWD=three", "pwd=;Server=db;Password=;PWD="},
      // Not a password keyword.
      {"Server=db;pwdx=keep;xpwd=keep;Database=pwd=", "Server=db;pwdx=keep;xpwd=keep;Database=pwd="},
      {"Server=db;uid=sa", "Server=db;uid=sa"},
      {"", ""},
      {"odd;;pieces;pwd=s;", "odd;;pieces;pwd=;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ConnectionItem::SuppressPassword(c.in), c.out);
  }
}


using ConnectionItemTest = ComDatabaseTest;

TEST_F(ConnectionItemTest, ConnectsValidatesAndDisconnects) {
  ConnectionItem item(AdoString(), "ignored");
  EXPECT_EQ(item.GetConnection(), nullptr);
  std::int64_t lastLogged = 0;
  ASSERT_TRUE(item.ConnectToDB(5, &lastLogged));
  ASSERT_NE(item.GetConnection(), nullptr);
  EXPECT_EQ(item.GetConnection()->GetState(), ado::adStateOpen);
  EXPECT_EQ(item.GetCommand()->GetActiveConnection(), item.GetConnection());
  EXPECT_TRUE(item.ValidateConnection(nullptr));
  // Connecting again closes first.
  ASSERT_TRUE(item.ConnectToDB(5, &lastLogged));
  EXPECT_TRUE(item.DisconnectFromDB());
  EXPECT_EQ(item.GetConnection(), nullptr);
  EXPECT_TRUE(item.DisconnectFromDB());
}

TEST_F(ConnectionItemTest, FailedConnectLogsTheStringWithoutItsPassword) {
  const std::string target = "Provider=SQLOLEDB;Server=127.0.0.1," + std::to_string(ClosedPort()) +
                             ";Database=x;uid=someone;pwd=\"Sh;h-s3cret\"";
  LoggedLines log;
  ConnectionItem item(target, "someone");
  std::int64_t lastLogged = 0;
  EXPECT_FALSE(item.ConnectToDB(2, &lastLogged));
  EXPECT_FALSE(item.ConnectToDB(2, &lastLogged));
  const std::vector<CapturedLine> lines = log.Stop();

  const std::vector<CapturedLine> connect = LinesWith(lines, L"ConnectionItem::ConnectToDB: could not connect with");
  ASSERT_EQ(connect.size(), 2u);
  EXPECT_EQ(connect[0].eventCode, 0xAFFF6231u);
  EXPECT_EQ(connect[0].level, 2);
  EXPECT_NE(connect[0].text.find(L";uid=someone;pwd="), std::wstring::npos) << connect[0].text;

  // The COM error lines: level 2 the first time in the interval, 6 after.
  const std::vector<CapturedLine> com = LinesWith(lines, L"ConnectionItem::ConnectToDB: COM Error");
  ASSERT_GE(com.size(), 2u);
  EXPECT_EQ(com.front().level, 2);
  EXPECT_EQ(com.back().level, 6);
  EXPECT_EQ(com.front().eventCode, 0xAFFF61A8u);

  for (const CapturedLine& line : lines) {
    EXPECT_EQ(line.text.find(L"s3cret"), std::wstring::npos) << line.text;
    EXPECT_EQ(line.text.find(L"Sh;h"), std::wstring::npos) << line.text;
  }
  // The item is left closed; it may be connected again.
  EXPECT_EQ(item.GetConnection()->GetState(), ado::adStateClosed);
}

TEST_F(ConnectionItemTest, ValidationFailsOnceTheServerEndsTheSession) {
  ConnectionItem item(AdoString(), "");
  ASSERT_TRUE(item.ConnectToDB(5, nullptr));
  TerminateSessions();

  LoggedLines log;
  std::int64_t lastLogged = 0;
  EXPECT_FALSE(item.ValidateConnection(&lastLogged));
  EXPECT_FALSE(item.ValidateConnection(&lastLogged));
  EXPECT_FALSE(item.ValidateConnection(nullptr));
  const std::vector<CapturedLine> lines =
      LinesWith(log.Stop(), L"in ConnectionItem::ValidateConnection - ");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].level, 2);
  EXPECT_EQ(lines[1].level, 6);
  EXPECT_EQ(lines[2].level, 2);
  EXPECT_EQ(lines[0].text.rfind(L"COM Error 0x", 0), 0u) << lines[0].text;

  // Connecting again brings it back.
  EXPECT_TRUE(item.ConnectToDB(5, nullptr));
  EXPECT_TRUE(item.ValidateConnection(nullptr));
}

}  // namespace
