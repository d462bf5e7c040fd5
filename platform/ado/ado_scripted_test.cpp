// The ADO objects over the scripted driver: the cases no real server gives
// on demand, and the idle cache's rules.
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ado/ado.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/idle_cache.h"
#include "testing/scripted_backend.h"
#include "platform/com/apartment.h"

namespace ado {
namespace {

constexpr wchar_t kSqlServer[] = L"Provider=SQLOLEDB.1;Server=db,1433;Database=VEXMgmt;uid=sa;pwd=\"Hidden;Pass\"";

std::wstring Text(const _bstr_t& text) {
  const wchar_t* p = text;
  return p != nullptr ? std::wstring(p) : std::wstring();
}

class AdoScripted : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("MORVALE_ADO_PROVIDERS"); }

  _ConnectionPtr Open(const wchar_t* connectionString = kSqlServer) {
    _ConnectionPtr connection = MakeConnection();
    connection->Open(_bstr_t(connectionString), _bstr_t(L""), _bstr_t(L""));
    return connection;
  }

  // The HRESULT the call raised, or S_OK.
  template <typename Call>
  static HRESULT Raised(Call call) {
    try {
      call();
    } catch (const _com_error& e) {
      return e.Error();
    }
    return S_OK;
  }

  ScriptedDriver driver_;
  ScopedDriver scope_{&driver_};
};

TEST_F(AdoScripted, EveryDiagnosticBecomesAnErrorWithItsNormalisedState) {
  _ConnectionPtr connection = Open();
  ScriptedDriver::Step step;
  step.ok = false;
  step.diagnostics = {{"40P01", 7, L"deadlock detected"}, {"57033", 0, L"lock time-out"}, {"01000", 0, L"note"}};
  driver_.Push(step);
  _com_error raised(S_OK);
  try {
    connection->Execute(_bstr_t(L"UPDATE T SET A = 1"), nullptr);
  } catch (const _com_error& e) {
    raised = e;
  }
  EXPECT_EQ(raised.Error(), E_FAIL);
  EXPECT_NE(Text(raised.Description()).find(L"40P01"), std::wstring::npos);
  EXPECT_EQ(Text(raised.Source()), L"SQLOLEDB.1");

  ErrorsPtr errors = connection->GetErrors();
  ASSERT_EQ(errors->GetCount(), 3);
  struct Expected {
    const wchar_t* state;
    LONG native;
  };
  const Expected expected[] = {{L"40001", 7}, {L"57033", 0}, {L"01000", 0}};
  for (LONG i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ErrorPtr error = errors->GetItem(_variant_t(i));
    EXPECT_EQ(Text(error->GetSQLState()), expected[i].state);
    EXPECT_EQ(error->GetNativeError(), expected[i].native);
    EXPECT_EQ(Text(error->GetSource()), L"SQLOLEDB.1");
  }
  EXPECT_EQ(Raised([&] { errors->GetItem(_variant_t(3)); }), adErrItemNotFound);

  // A warning before the error does not decide what is raised.
  ScriptedDriver::Step warned;
  warned.ok = false;
  warned.diagnostics = {{"01004", 0, L"String data, right truncated"}, {"42S02", 0, L"Invalid object name 'Y'."}};
  driver_.Push(warned);
  EXPECT_EQ(Raised([&] { connection->Execute(_bstr_t(L"SELECT * FROM Y"), nullptr); }), DB_E_NOTABLE);
  EXPECT_EQ(connection->GetErrors()->GetCount(), 2);

  // The next failure replaces the records of the last.
  driver_.PushError("42S02", L"Invalid object name 'X'.");
  EXPECT_EQ(Raised([&] { connection->Execute(_bstr_t(L"SELECT * FROM X"), nullptr); }), DB_E_NOTABLE);
  EXPECT_EQ(connection->GetErrors()->GetCount(), 1);
}

TEST_F(AdoScripted, AConnectionClassErrorKeepsTheConnectionOutOfTheCache) {
  _ConnectionPtr connection = Open();
  connection->Execute(_bstr_t(L"SELECT 1"), nullptr);
  EXPECT_EQ(driver_.Connects(), 1);

  driver_.PushError("08S01", L"Communication link failure");
  EXPECT_EQ(Raised([&] { connection->Execute(_bstr_t(L"SELECT 1"), nullptr); }), E_FAIL);
  connection->Close();
  EXPECT_EQ(driver_.OpenSessions(), 0);
  _ConnectionPtr fresh = Open();
  EXPECT_EQ(driver_.Connects(), 2);
}

// Open, statements and Close still work while a thread's own objects are
// being destroyed, after what it kept for itself is gone (a connection held
// by a thread's or a static object may be closed there).
TEST_F(AdoScripted, ConnectionsStillOpenAndCloseAsAThreadEnds) {
  struct AtThreadEnd {
    const wchar_t* connectionString = nullptr;
    ~AtThreadEnd() {
      if (connectionString == nullptr) return;
      for (int round = 0; round < 2; ++round) {
        _ConnectionPtr connection = MakeConnection();
        connection->Open(_bstr_t(connectionString), _bstr_t(L""), _bstr_t(L""));
        connection->Execute(_bstr_t(L"SELECT 1"), nullptr);
        connection->Close();
      }
    }
  };
  std::thread([] {
    // Made before the thread's own objects, so destroyed after them.
    thread_local AtThreadEnd atEnd;
    atEnd.connectionString = kSqlServer;
    _ConnectionPtr connection = MakeConnection();
    connection->Open(_bstr_t(kSqlServer), _bstr_t(L""), _bstr_t(L""));
    connection->Execute(_bstr_t(L"SELECT 1"), nullptr);
    connection->Close();
  }).join();
  EXPECT_EQ(driver_.Connects(), 1);
  EXPECT_EQ(IdleCache::Shared().Size(), 1u);
}

// A connection taken from the idle cache may have died there without a
// sign. Its first request failing with a connection-class error runs once
// more on a new connection, and the other idle connections of the same
// string, dead as likely, are closed; a later failure is the caller's.
TEST_F(AdoScripted, AReusedConnectionThatDiedIdleIsReplacedAtItsFirstRequest) {
  std::vector<_ConnectionPtr> idle = {Open(), Open(), Open()};
  for (_ConnectionPtr& connection : idle) connection->Close();
  EXPECT_EQ(IdleCache::Shared().Size(), 3u);

  _ConnectionPtr reused = Open();
  driver_.PushError("08S01", L"server closed the connection unexpectedly");
  EXPECT_EQ(Raised([&] { reused->Execute(_bstr_t(L"SELECT 2"), nullptr); }), S_OK);
  EXPECT_EQ(driver_.Connects(), 4);
  EXPECT_EQ(IdleCache::Shared().Size(), 0u);
  EXPECT_EQ(driver_.Executed(), (std::vector<std::wstring>{L"SELECT 2", L"SELECT 2"}));
  driver_.PushError("08S01", L"Communication link failure");
  EXPECT_EQ(Raised([&] { reused->Execute(_bstr_t(L"SELECT 3"), nullptr); }), E_FAIL);
  reused->Close();

  // The first statement of a transaction begun on a reused connection.
  Open()->Close();
  _ConnectionPtr transaction = Open();
  transaction->BeginTrans();
  driver_.PushError("57P01", L"terminating connection due to administrator command");
  EXPECT_EQ(Raised([&] { transaction->Execute(_bstr_t(L"UPDATE t SET a = 1"), nullptr); }), S_OK);
  transaction->CommitTrans();
  transaction->Close();

  // Not after a statement of the transaction has run.
  Open()->Close();
  _ConnectionPtr busy = Open();
  busy->BeginTrans();
  busy->Execute(_bstr_t(L"UPDATE t SET a = 1"), nullptr);
  driver_.PushError("08S01", L"Communication link failure");
  EXPECT_EQ(Raised([&] { busy->Execute(_bstr_t(L"UPDATE t SET a = 2"), nullptr); }), E_FAIL);
  busy->Close();

  // When no new connection can be made, the caller sees why.
  Open()->Close();
  _ConnectionPtr unlucky = Open();
  driver_.PushError("08S01", L"Communication link failure");
  driver_.FailNextConnect({backend::Diagnostic{"08001", 0, L"could not connect to server"}});
  EXPECT_EQ(Raised([&] { unlucky->Execute(_bstr_t(L"SELECT 1"), nullptr); }), E_FAIL);
  EXPECT_EQ(Text(unlucky->GetErrors()->GetItem(_variant_t(0))->GetSQLState()), L"08001");
  EXPECT_EQ(unlucky->GetState(), adStateClosed);
}

// Open remembers what it made of a string (keyed by the string and the
// provider override in effect), and a change of the override, back and
// forth, is still followed for a string opened before: also by OpenKnown,
// which finds it again by the text's name.
TEST_F(AdoScripted, OpenFollowsTheProviderOverrideForAStringOpenedBefore) {
  const wchar_t* ado = L"Provider=SQLNCLI;Server=remembered;pwd=hunter2";
  const _bstr_t adoText(ado);
  const std::uint64_t textId = _Connection::NewTextId();
  const std::function<_ConnectionPtr()> opens[] = {
      [&] { return Open(ado); },
      [&] {
        _ConnectionPtr connection = MakeConnection();
        connection->OpenKnown(adoText, textId);
        return connection;
      }};
  struct Step {
    const char* override;  // null: unset
    const wchar_t* odbc;
    const wchar_t* shown;  // the provider's string as the properties show it
  };
  const Step steps[] = {
      {"SQLNCLI:PostgreSQL Unicode", L"Driver={PostgreSQL Unicode};Server=remembered;PWD=hunter2",
       L"Driver={PostgreSQL Unicode};Server=remembered;PWD=***"},
      {"SQLNCLI:Other Driver:A=1", L"Driver={Other Driver};Server=remembered;PWD=hunter2;A=1",
       L"Driver={Other Driver};Server=remembered;PWD=***;A=1"},
      {"SQLNCLI:PostgreSQL Unicode", L"Driver={PostgreSQL Unicode};Server=remembered;PWD=hunter2",
       L"Driver={PostgreSQL Unicode};Server=remembered;PWD=***"},
      {"", L"Driver={FreeTDS};Server=remembered;PWD=hunter2;ClientCharset=UTF-8",
       L"Driver={FreeTDS};Server=remembered;PWD=***;ClientCharset=UTF-8"},
      {nullptr, L"Driver={FreeTDS};Server=remembered;PWD=hunter2;ClientCharset=UTF-8",
       L"Driver={FreeTDS};Server=remembered;PWD=***;ClientCharset=UTF-8"},
  };
  for (int round = 0; round < 4; ++round) {
    for (const Step& step : steps) {
      SCOPED_TRACE(std::string(step.override ? step.override : "(unset)") + " round " + std::to_string(round));
      if (step.override) {
        setenv("MORVALE_ADO_PROVIDERS", step.override, 1);
      } else {
        unsetenv("MORVALE_ADO_PROVIDERS");
      }
      _ConnectionPtr connection = opens[round % 2]();
      EXPECT_EQ(driver_.ConnectStrings().back(), step.odbc);
      EXPECT_EQ(Text(connection->GetConnectionString()), L"Provider=SQLNCLI;Server=remembered;pwd=***");
      EXPECT_EQ(Text(connection->GetProvider()), L"SQLNCLI");
      EXPECT_EQ(Text(_bstr_t(connection->GetProperties()->GetItem(_variant_t(L"Extended Properties"))->GetValue())),
                step.shown);
      connection->Close();
      IdleCache::Shared().Clear();
    }
  }
  // A malformed override fails even for a string opened before.
  setenv("MORVALE_ADO_PROVIDERS", "SQLNCLI", 1);
  for (const auto& open : opens) EXPECT_EQ(Raised(open), E_FAIL);
  unsetenv("MORVALE_ADO_PROVIDERS");
}

// Texts opened by name on one thread each connect with their own string,
// however their names and the override alternate, and an empty text opens
// the one set on the connection, as Open does.
TEST_F(AdoScripted, KnownTextsKeepTheirOwnTranslations) {
  const _bstr_t texts[] = {_bstr_t(L"Provider=SQLOLEDB;Server=first;uid=sa;pwd=one"),
                           _bstr_t(L"Provider=SQLOLEDB;Server=second;uid=sa;pwd=two")};
  const std::uint64_t ids[] = {_Connection::NewTextId(), _Connection::NewTextId()};
  EXPECT_NE(ids[0], ids[1]);
  const wchar_t* odbc[] = {L"Driver={FreeTDS};Server=first;UID=sa;PWD=one;ClientCharset=UTF-8",
                           L"Driver={FreeTDS};Server=second;UID=sa;PWD=two;ClientCharset=UTF-8"};
  const auto shows = [](const _ConnectionPtr& connection, const wchar_t* server) {
    const std::wstring extended =
        Text(_bstr_t(connection->GetProperties()->GetItem(_variant_t(L"Extended Properties"))->GetValue()));
    return Text(connection->GetConnectionString()).find(server) != std::wstring::npos &&
           extended.find(server) != std::wstring::npos;
  };
  const wchar_t* servers[] = {L"Server=first;", L"Server=second;"};
  // Between them, texts under names of their own, more than a thread
  // remembers, so that the two are also worked out again.
  for (int i = 0; i < 16; ++i) {
    const int which = (i / 3 + i) % 2;
    SCOPED_TRACE("open " + std::to_string(i));
    _ConnectionPtr connection = MakeConnection();
    connection->OpenKnown(texts[which], i % 4 == 3 ? _Connection::NewTextId() : ids[which]);
    EXPECT_EQ(driver_.ConnectStrings().back(), odbc[which]);
    EXPECT_TRUE(shows(connection, servers[which]));
    connection->Close();
    IdleCache::Shared().Clear();
  }
  _ConnectionPtr connection = MakeConnection();
  connection->PutConnectionString(texts[1]);
  connection->OpenKnown(_bstr_t(L""), ids[0]);
  EXPECT_EQ(driver_.ConnectStrings().back(), odbc[1]);
  EXPECT_TRUE(shows(connection, servers[1]));
  connection->Close();
  IdleCache::Shared().Clear();
}

// Strings told apart only by a character beyond ASCII, or only far past
// the start (also past the digest's first buffer of narrow bytes), have
// idle connections and translations of their own: an Open never gets the
// connection of another string's password.
TEST_F(AdoScripted, StringsThatDifferAnywhereDoNotShareIdleConnections) {
  const std::wstring padding(300, L'x');
  const std::wstring longPadding(700, L'y');
  const std::wstring passwords[] = {L"A",
                                    L"\u0141",
                                    L"\U00010041",
                                    L"AA",
                                    padding + L"1",
                                    padding + L"2",
                                    longPadding + L"\u0141",
                                    longPadding + L"\u0142",
                                    longPadding + L"\u0141\u0141" + padding,
                                    longPadding + L"\u0141\u0142" + padding};
  int connects = 0;
  for (int round = 0; round < 2; ++round) {
    for (const std::wstring& password : passwords) {
      SCOPED_TRACE("password of " + std::to_string(password.size()) + " characters, round " + std::to_string(round));
      const std::wstring ado = L"Provider=SQLOLEDB;Server=db;uid=sa;pwd=" + password;
      _ConnectionPtr connection = Open(ado.c_str());
      if (round == 0) {  // each string connects once, then comes from the cache
        ++connects;
        EXPECT_NE(driver_.ConnectStrings().back().find(L"PWD=" + password + L";"), std::wstring::npos);
      }
      EXPECT_EQ(driver_.Connects(), connects);
      connection->Close();
    }
  }
  IdleCache::Shared().Clear();
}

TEST_F(AdoScripted, ADeadIdleConnectionIsClosedAndReplaced) {
  Open()->Close();
  driver_.SetAlive(false);
  _ConnectionPtr connection = Open();
  EXPECT_EQ(driver_.Connects(), 2);
  EXPECT_EQ(driver_.OpenSessions(), 1);
}

TEST_F(AdoScripted, TextsAreRewrittenOnlyForOtherServers) {
  const wchar_t* sql = L"SELECT TOP 5 Id FROM dbo.UserConfig WITH (NOLOCK)";
  Open()->Execute(_bstr_t(sql), nullptr);
  driver_.SetDbmsName(L"PostgreSQL");
  IdleCache::Shared().Clear();
  Open()->Execute(_bstr_t(sql), nullptr);
  const std::vector<std::wstring> executed = driver_.Executed();
  ASSERT_EQ(executed.size(), 2u);
  EXPECT_EQ(executed[0], sql);
  EXPECT_EQ(executed[1].find(L"TOP"), std::wstring::npos);
  EXPECT_NE(executed[1].find(L"LIMIT 5"), std::wstring::npos);
}

TEST_F(AdoScripted, EachTextKeepsItsOwnRewriteUnlessAnIdentityLookUpFailed) {
  driver_.SetDbmsName(L"PostgreSQL");
  _ConnectionPtr connection = Open();
  // Texts no other test sends: the rewrites are kept for the process.
  const wchar_t* five = L"SELECT TOP 5 Id FROM dbo.RewriteFive";
  const wchar_t* seven = L"SELECT TOP 7 Id FROM dbo.RewriteSeven";
  for (const wchar_t* sql : {five, seven, five, seven}) connection->Execute(_bstr_t(sql), nullptr);
  std::vector<std::wstring> executed = driver_.Executed();
  ASSERT_EQ(executed.size(), 4u);
  EXPECT_EQ(executed[0], L"SELECT Id FROM RewriteFive LIMIT 5");
  EXPECT_EQ(executed[1], L"SELECT Id FROM RewriteSeven LIMIT 7");
  EXPECT_EQ(executed[2], executed[0]);
  EXPECT_EQ(executed[3], executed[1]);

  // The identity look-up fails once: that rewrite is not kept, and the next
  // run of the text looks again and reads the column back.
  const wchar_t* insert = L"INSERT INTO RewriteIdentity (a) VALUES (1); SELECT SCOPE_IDENTITY()";
  driver_.PushError("42P01", L"catalogue not readable");
  connection->Execute(_bstr_t(insert), nullptr);
  std::vector<backend::ColumnInfo> columns(1);
  columns[0].kind = backend::ValueKind::Text;
  columns[0].sqlType = -9;
  auto column = std::make_shared<backend::RowSet>(columns);
  column->BeginRow();
  column->PutText("\"Key\"");
  driver_.PushRows(column);
  connection->Execute(_bstr_t(insert), nullptr);
  connection->Execute(_bstr_t(insert), nullptr);
  executed = driver_.Executed();
  ASSERT_EQ(executed.size(), 9u);
  EXPECT_EQ(executed[5], L"INSERT INTO RewriteIdentity (a) VALUES (1) RETURNING NULL");
  EXPECT_NE(executed[6].find(L"to_regclass"), std::wstring::npos);  // asked again
  EXPECT_EQ(executed[7], L"INSERT INTO RewriteIdentity (a) VALUES (1) RETURNING \"Key\"");
  EXPECT_EQ(executed[8], executed[7]);  // kept: not asked a third time
}

TEST_F(AdoScripted, FailuresBeforeAnyStatementRaiseAdoErrors) {
  // A command without a connection, a closed connection, commit without a
  // transaction, a second BeginTrans.
  _CommandPtr command = MakeCommand();
  command->PutCommandText(_bstr_t(L"SELECT 1"));
  EXPECT_EQ(Raised([&] { command->Execute(nullptr); }), adErrInvalidConnection);
  _ConnectionPtr connection = MakeConnection();
  EXPECT_EQ(Raised([&] { connection->Close(); }), adErrObjectClosed);
  EXPECT_EQ(Raised([&] { connection->Execute(_bstr_t(L"SELECT 1"), nullptr); }), adErrInvalidConnection);
  connection->Open(_bstr_t(kSqlServer), _bstr_t(L""), _bstr_t(L""));
  EXPECT_EQ(Raised([&] { connection->Open(_bstr_t(kSqlServer), _bstr_t(L""), _bstr_t(L"")); }), adErrObjectOpen);
  EXPECT_EQ(Raised([&] { connection->CommitTrans(); }), kNoTransaction);
  connection->BeginTrans();
  EXPECT_EQ(Raised([&] { connection->BeginTrans(); }), kTransactionExists);
  connection->RollbackTrans();
}

TEST_F(AdoScripted, PasswordsNeverReachErrorTexts) {
  // Unknown keyword after a hostile password: the translation fails, and
  // neither the text raised nor the Errors collection shows the password.
  const wchar_t* bad = L"Provider=SQLOLEDB;Server=db;pwd=\"Hidden;Pass}\";Bogus=1";
  _ConnectionPtr connection = MakeConnection();
  std::wstring description;
  try {
    connection->Open(_bstr_t(bad), _bstr_t(L""), _bstr_t(L""));
  } catch (const _com_error& e) {
    description = Text(e.Description());
  }
  EXPECT_FALSE(description.empty());
  EXPECT_EQ(description.find(L"Hidden"), std::wstring::npos);
  EXPECT_EQ(Text(connection->GetErrors()->GetItem(_variant_t(0))->GetDescription()).find(L"Hidden"),
            std::wstring::npos);

  // A password with ';' and '}' cannot add a keyword to the driver's string.
  _ConnectionPtr open = MakeConnection();
  open->Open(_bstr_t(L"Provider=SQLOLEDB;Server=db;Database=D;uid=sa"), _bstr_t(L""),
             _bstr_t(L"x};Driver={Evil};Server=evil"));
  std::vector<ConnectionAttribute> pairs;
  ASSERT_TRUE(ParseOdbcConnectionString(driver_.ConnectStrings().back(), &pairs, nullptr));
  int drivers = 0;
  for (const ConnectionAttribute& pair : pairs) {
    if (pair.keyword == L"Driver" || pair.keyword == L"DRIVER") ++drivers;
    if (pair.keyword == L"PWD") {
      EXPECT_EQ(pair.value, L"x};Driver={Evil};Server=evil");
    }
    EXPECT_NE(pair.value, L"evil");
  }
  EXPECT_EQ(drivers, 1);
  const std::wstring extended = Text(_bstr_t(open->GetProperties()->GetItem(_variant_t(L"Extended Properties"))->GetValue()));
  EXPECT_EQ(extended.find(L"Evil"), std::wstring::npos);
}

TEST_F(AdoScripted, RecordsetsWalkResultsAndFindFieldsByName) {
  std::vector<backend::ColumnInfo> columns(2);
  columns[0].name = L"Id";
  columns[0].kind = backend::ValueKind::Int32;
  columns[0].sqlType = 4;
  columns[1].name = L"DisplayName";
  columns[1].kind = backend::ValueKind::Text;
  columns[1].sqlType = -9;
  auto rows = std::make_shared<backend::RowSet>(columns);
  for (int i = 1; i <= 2; ++i) {
    rows->BeginRow();
    rows->PutInteger(i);
    rows->PutText(i == 1 ? "Gr\xC3\xBC\xC3\x9F" "e" : "");
  }
  ScriptedDriver::Step step;
  step.response.results.push_back(backend::Result{nullptr, 4});
  step.response.results.push_back(backend::Result{rows, -1});
  driver_.Push(step);

  _ConnectionPtr connection = Open();
  _variant_t affected;
  _RecordsetPtr first = connection->Execute(_bstr_t(L"SET NOCOUNT ON; UPDATE ...; SELECT ..."), &affected);
  EXPECT_EQ(affected.lVal, 4);
  EXPECT_EQ(first->GetState(), adStateClosed);
  EXPECT_EQ(Raised([&] { first->GetEndOfFile(); }), adErrObjectClosed);
  _RecordsetPtr rs = first->NextRecordset(&affected);
  ASSERT_TRUE(rs);
  EXPECT_EQ(affected.lVal, -1);
  FieldsPtr fields = rs->GetFields();
  EXPECT_EQ(fields->GetCount(), 2);
  EXPECT_EQ(Text(fields->GetItem(_variant_t(L"displayname"))->GetName()), L"DisplayName");
  EXPECT_EQ(Raised([&] { fields->GetItem(_variant_t(L"Nope")); }), adErrItemNotFound);
  EXPECT_EQ(Raised([&] { fields->GetItem(_variant_t(2)); }), adErrItemNotFound);
  {
    // A position of any integer type, or of a type that converts to one;
    // -1 where none of the two fields is named.
    _variant_t byReference;
    _variant_t one(INT{1});
    byReference.vt = VT_BYREF | VT_VARIANT;
    byReference.pvarVal = &one;
    const std::vector<std::pair<_variant_t, int>> indexes = {
        {_variant_t(std::int16_t{1}), 1}, {_variant_t(INT{1}, VT_INT), 1}, {_variant_t(LONGLONG{1}), 1},
        {_variant_t(1.0), 1},            {_variant_t(L"1"), -1},           {_variant_t(INT{-1}), -1},
        {_variant_t(LONGLONG{1} << 32), -1}, {_variant_t(std::int16_t{2}), -1}, {byReference, 1},
    };
    for (const auto& entry : indexes) {
      const _variant_t& index = entry.first;
      SCOPED_TRACE(index.vt);
      if (entry.second < 0) {
        EXPECT_EQ(Raised([&] { fields->GetItem(index); }), adErrItemNotFound);
      } else {
        EXPECT_EQ(Text(fields->GetItem(index)->GetName()), L"DisplayName");
      }
    }
  }
  EXPECT_EQ(fields->GetItem(_variant_t(L"DisplayName"))->GetActualSize(), 10);  // 5 wide characters
  EXPECT_EQ(fields->GetItem(_variant_t(0))->GetValue().lVal, 1);
  rs->MoveNext();
  EXPECT_EQ(fields->GetItem(_variant_t(1))->GetActualSize(), 0);
  EXPECT_FALSE(rs->GetEndOfFile());
  rs->MoveNext();
  EXPECT_TRUE(rs->GetEndOfFile());
  EXPECT_EQ(Raised([&] { fields->GetItem(_variant_t(0))->GetValue(); }), adErrNoCurrentRecord);
  EXPECT_EQ(Raised([&] { rs->MoveNext(); }), adErrNoCurrentRecord);

  // A GetRows with a list of fields, by name and by position.
  rs->MoveFirst();
  SAFEARRAY* list = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  LONG i = 0;
  _variant_t byName(L"DISPLAYNAME");
  SafeArrayPutElement(list, &i, &byName);
  i = 1;
  _variant_t byPosition(INT{0});
  SafeArrayPutElement(list, &i, &byPosition);
  _variant_t fieldList;
  fieldList.parray = list;
  fieldList.vt = VT_ARRAY | VT_VARIANT;
  _variant_t got = rs->GetRows(adGetRowsRest, _variant_t(INT{adBookmarkFirst}), fieldList);
  LONG index[2] = {1, 1};
  _variant_t cell;
  SafeArrayGetElement(got.parray, index, &cell);
  EXPECT_EQ(cell.lVal, 2);
  EXPECT_TRUE(rs->GetEndOfFile());
}

// Fields and Field objects are parts of their recordset: a reference to one
// keeps the recordset alive, and one taken before the recordset opened
// another result reads that result, or raises when the result has no such
// column.
TEST_F(AdoScripted, FieldsOutliveTheirRecordsetPointerAndFollowItsNextResult) {
  auto rowsOf = [](std::initializer_list<const wchar_t*> names, int first) {
    std::vector<backend::ColumnInfo> columns;
    for (const wchar_t* name : names) {
      backend::ColumnInfo& column = columns.emplace_back();
      column.name = name;
      column.kind = backend::ValueKind::Int32;
      column.sqlType = 4;
    }
    auto rows = std::make_shared<backend::RowSet>(columns);
    rows->BeginRow();
    for (std::size_t c = 0; c < names.size(); ++c) rows->PutInteger(first + static_cast<int>(c));
    return rows;
  };
  driver_.PushRows(rowsOf({L"A", L"B"}, 10));
  driver_.PushRows(rowsOf({L"X"}, 20));
  driver_.PushRows(rowsOf({L"X", L"Y", L"Z"}, 30));
  _ConnectionPtr connection = Open();
  const _variant_t on(static_cast<IDispatch*>(connection.GetInterfacePtr()));

  _RecordsetPtr rs = MakeRecordset();
  rs->Open(_variant_t(L"SELECT A, B"), on);
  FieldsPtr fields = rs->GetFields();
  FieldPtr first = fields->GetItem(_variant_t(0));
  FieldPtr second = fields->GetItem(_variant_t(L"b"));
  EXPECT_EQ(second->GetValue().lVal, 11);
  rs->Close();
  EXPECT_EQ(Raised([&] { first->GetValue(); }), adErrObjectClosed);

  rs->Open(_variant_t(L"SELECT X"), on);
  EXPECT_EQ(first->GetValue().lVal, 20);
  for (const auto& read : std::vector<std::function<void()>>{
           [&] { second->GetName(); }, [&] { second->GetType(); }, [&] { second->GetDefinedSize(); },
           [&] { second->GetPrecision(); }, [&] { second->GetNumericScale(); }, [&] { second->GetValue(); },
           [&] { second->GetActualSize(); }}) {
    EXPECT_EQ(Raised(read), adErrItemNotFound);
  }
  rs->Close();

  rs->Open(_variant_t(L"SELECT X, Y, Z"), on);
  FieldPtr last = rs->GetFields()->GetItem(_variant_t(L"z"));
  rs = nullptr;
  EXPECT_EQ(fields->GetCount(), 3);
  EXPECT_EQ(last->GetValue().lVal, 32);
  EXPECT_EQ(Text(second->GetName()), L"Y");
  EXPECT_EQ(second->GetValue().lVal, 31);
  EXPECT_EQ(fields->GetItem(_variant_t(0))->GetValue().lVal, 30);
}

// A command's Parameters is a part of it: held alone, it keeps the command
// and its parameters alive and readable.
TEST_F(AdoScripted, ParametersHeldAloneKeepTheirCommand) {
  ScriptedDriver::Step step;
  driver_.Push(step);
  _ConnectionPtr connection = Open();
  _CommandPtr command = MakeCommand();
  command->PutRefActiveConnection(connection);
  command->PutCommandText(_bstr_t(L"UPDATE T SET A = ? WHERE B = ?"));
  ParametersPtr parameters = command->GetParameters();
  parameters->Append(command->CreateParameter(_bstr_t(L"a"), adInteger, adParamInput, 0, _variant_t(INT{7})));
  parameters->Append(command->CreateParameter(_bstr_t(L"b"), adVarWChar, adParamInput, 4, _variant_t(L"key")));
  command->Execute(nullptr, nullptr, adExecuteNoRecords);
  command = nullptr;
  ASSERT_EQ(parameters->GetCount(), 2);
  EXPECT_EQ(parameters->GetItem(_variant_t(L"A"))->GetValue().lVal, 7);
  parameters->Delete(_variant_t(INT{0}));
  EXPECT_EQ(Text(_bstr_t(parameters->GetItem(_variant_t(INT{0}))->GetValue())), L"key");
}

// GetRows fills its array field by field in tiles of rows; every cell must
// still be what the field gives for its row, for each kind, with NULLs,
// across tile edges and from a row inside the first tile.
TEST_F(AdoScripted, GetRowsGivesEveryCellAsItsFieldDoes) {
  const struct {
    const wchar_t* name;
    backend::ValueKind kind;
    std::int16_t sqlType;
  } kinds[] = {{L"B", backend::ValueKind::Bool, -7},       {L"S", backend::ValueKind::Int16, 5},
               {L"I", backend::ValueKind::Int32, 4},       {L"L", backend::ValueKind::Int64, -5},
               {L"F", backend::ValueKind::Single, 7},      {L"D", backend::ValueKind::Double, 8},
               {L"N", backend::ValueKind::Decimal, 2},     {L"T", backend::ValueKind::Timestamp, 93},
               {L"W", backend::ValueKind::Text, -9},       {L"Y", backend::ValueKind::Bytes, -3}};
  std::vector<backend::ColumnInfo> columns;
  for (const auto& k : kinds) {
    backend::ColumnInfo column;
    column.name = k.name;
    column.kind = k.kind;
    column.sqlType = k.sqlType;
    columns.push_back(column);
  }
  auto rows = std::make_shared<backend::RowSet>(columns);
  constexpr int kRows = 700;  // more than two tiles
  for (int r = 0; r < kRows; ++r) {
    rows->BeginRow();
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if ((r + static_cast<int>(c)) % 7 == 0) {
        rows->PutNull();
        continue;
      }
      switch (columns[c].kind) {
        case backend::ValueKind::Single:
        case backend::ValueKind::Double: rows->PutReal(r / 4.0); break;
        case backend::ValueKind::Decimal: rows->PutDecimal(backend::Decimal{static_cast<std::uint64_t>(r), 0, 2, r % 2 == 1}); break;
        case backend::ValueKind::Timestamp:
          rows->PutTime(backend::Timestamp{2020, 1, static_cast<std::uint16_t>(r % 28 + 1), 0, 0, static_cast<std::uint16_t>(r % 60), 0});
          break;
        case backend::ValueKind::Text: rows->PutText("row \xC3\xBC " + std::to_string(r)); break;
        case backend::ValueKind::Bytes: {
          const std::vector<std::uint8_t> bytes(static_cast<std::size_t>(r % 5), static_cast<std::uint8_t>(r));
          rows->PutBytes(bytes);
          break;
        }
        default: rows->PutInteger(r); break;
      }
    }
  }
  driver_.PushRows(rows);
  _ConnectionPtr connection = Open();
  _RecordsetPtr rs = connection->Execute(_bstr_t(L"SELECT ..."), nullptr);
  constexpr int kFirst = 3;
  for (int r = 0; r < kFirst; ++r) rs->MoveNext();
  _variant_t all = rs->GetRows();
  LONG upper = -1;
  ASSERT_EQ(SafeArrayGetUBound(all.parray, 2, &upper), S_OK);
  ASSERT_EQ(upper, kRows - kFirst - 1);
  rs->MoveFirst();
  for (int r = 0; r < kFirst; ++r) rs->MoveNext();
  FieldsPtr fields = rs->GetFields();
  for (LONG r = 0; r <= upper; ++r, rs->MoveNext()) {
    for (LONG c = 0; c < static_cast<LONG>(columns.size()); ++c) {
      SCOPED_TRACE(testing::Message() << "row " << r + kFirst << ", field " << c);
      const LONG index[2] = {c, r};
      _variant_t cell;
      ASSERT_EQ(SafeArrayGetElement(all.parray, index, &cell), S_OK);
      _variant_t expected = fields->GetItem(_variant_t(static_cast<INT>(c)))->GetValue();
      ASSERT_EQ(cell.vt, expected.vt);
      if (cell.vt == VT_BSTR) {
        EXPECT_EQ(Text(_bstr_t(cell)), Text(_bstr_t(expected)));
      } else if (cell.vt == (VT_ARRAY | VT_UI1)) {
        LONG got = -1, want = -1;
        SafeArrayGetUBound(cell.parray, 1, &got);
        SafeArrayGetUBound(expected.parray, 1, &want);
        EXPECT_EQ(got, want);
        EXPECT_EQ(got, (r + kFirst) % 5 - 1);
      } else if (cell.vt == VT_DECIMAL) {
        EXPECT_EQ(std::memcmp(&cell.decVal, &expected.decVal, sizeof cell.decVal), 0);
      } else {
        EXPECT_EQ(cell.llVal, expected.llVal);
      }
    }
  }
}

TEST(AdoFactory, CreatesTheThreeClassesAndCanBeMadeToFail) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  RegisterAdoClasses();
  _CommandPtr command;
  EXPECT_EQ(command.CreateInstance(CLSID_Command), S_OK);
  {
    ScopedCreationFailure failure(CLSID_Command, E_OUTOFMEMORY);
    _CommandPtr refused;
    EXPECT_EQ(refused.CreateInstance(CLSID_Command), E_OUTOFMEMORY);
    EXPECT_FALSE(refused);
    _RecordsetPtr recordset;
    EXPECT_EQ(recordset.CreateInstance(CLSID_Recordset), S_OK);
  }
  _CommandPtr again;
  EXPECT_EQ(again.CreateInstance(CLSID_Command), S_OK);
  _ConnectionPtr connection;
  EXPECT_EQ(connection.CreateInstance(CLSID_Connection), S_OK);
  EXPECT_EQ(connection->GetState(), adStateClosed);
  CoUninitialize();
}

// This layer's clock, moved by the test alone.
Clock::time_point fakeNow{};
Clock::time_point FakeNow() { return fakeNow; }

class FakeClock {
 public:
  FakeClock() : previous_(SetNowForTesting(FakeNow)) {}
  ~FakeClock() { SetNowForTesting(previous_); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;
  void Advance(Clock::duration by) { fakeNow += by; }

 private:
  NowFunction previous_;
};

TEST(IdleCache, IsBoundedAndDropsConnectionsIdlePastTheLimit) {
  FakeClock clock;
  ScriptedDriver driver;
  backend::Diagnostics none;
  IdleCache cache(2, std::chrono::milliseconds(200));
  cache.Put(L"a", driver.Connect(L"a", 0, &none));
  cache.Put(L"b", driver.Connect(L"b", 0, &none));
  cache.Put(L"c", driver.Connect(L"c", 0, &none));
  EXPECT_EQ(cache.Size(), 2u);
  EXPECT_EQ(driver.OpenSessions(), 2);  // the one idle longest was closed
  EXPECT_FALSE(cache.Take(L"a"));
  EXPECT_TRUE(cache.Take(L"c"));
  clock.Advance(std::chrono::milliseconds(200));
  EXPECT_EQ(cache.Size(), 1u);  // at the limit, not past it
  clock.Advance(std::chrono::milliseconds(1));
  EXPECT_FALSE(cache.Take(L"b"));
  EXPECT_EQ(cache.Size(), 0u);
  EXPECT_EQ(driver.OpenSessions(), 0);

  // Drop closes every idle connection of one key.
  cache.Put(L"a", driver.Connect(L"a", 0, &none));
  cache.Put(L"b", driver.Connect(L"b", 0, &none));
  cache.Put(L"a", driver.Connect(L"a", 0, &none));
  cache.Drop(L"a");
  EXPECT_EQ(cache.Size(), 1u);
  EXPECT_EQ(driver.OpenSessions(), 1);
}

TEST(IdleCache, GivesAThreadBackTheConnectionItPutLast) {
  ScriptedDriver driver;
  backend::Diagnostics none;
  IdleCache cache(8, std::chrono::seconds(60));
  std::unique_ptr<backend::Session> mine = driver.Connect(L"a", 0, &none);
  const backend::Session* const minePointer = mine.get();
  cache.Put(L"a", std::move(mine));
  const backend::Session* theirsPointer = nullptr;
  std::thread([&] {
    std::unique_ptr<backend::Session> theirs = driver.Connect(L"a", 0, &none);
    theirsPointer = theirs.get();
    cache.Put(L"a", std::move(theirs));  // put last
  }).join();
  EXPECT_EQ(cache.Take(L"a").get(), minePointer);
  // None of its own left: the one put last by any thread.
  EXPECT_EQ(cache.Take(L"a").get(), theirsPointer);
}

TEST(IdleCache, ServesManyThreadsWithoutLosingConnections) {
  ScriptedDriver driver;
  IdleCache cache(64, std::chrono::seconds(60));
  std::atomic<int> made{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      const std::wstring key = t % 2 == 0 ? L"even" : L"odd";
      for (int i = 0; i < 200; ++i) {
        std::unique_ptr<backend::Session> session = cache.Take(key);
        if (!session) {
          backend::Diagnostics none;
          session = driver.Connect(key, 0, &none);
          ++made;
        }
        cache.Put(key, std::move(session));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_LE(made.load(), 8);
  EXPECT_EQ(static_cast<int>(cache.Size()), made.load());
  cache.Clear();
  EXPECT_EQ(driver.OpenSessions(), 0);
}

}  // namespace
}  // namespace ado
