// The ADO objects over the scripted driver: the cases no real server gives
// on demand, and the idle cache's rules.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ado/ado.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/idle_cache.h"
#include "platform/ado/scripted_backend.h"
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

  // The next failure replaces the records of the last.
  driver_.PushError("42S02", L"Invalid object name 'X'.");
  EXPECT_EQ(Raised([&] { connection->Execute(_bstr_t(L"SELECT * FROM X"), nullptr); }), DB_E_NOTABLE);
  EXPECT_EQ(connection->GetErrors()->GetCount(), 1);
}

TEST_F(AdoScripted, AConnectionClassErrorKeepsTheConnectionOutOfTheCache) {
  _ConnectionPtr connection = Open();
  connection->Close();
  _ConnectionPtr reused = Open();
  EXPECT_EQ(driver_.Connects(), 1);

  driver_.PushError("08S01", L"Communication link failure");
  EXPECT_EQ(Raised([&] { reused->Execute(_bstr_t(L"SELECT 1"), nullptr); }), E_FAIL);
  reused->Close();
  EXPECT_EQ(driver_.OpenSessions(), 0);
  _ConnectionPtr fresh = Open();
  EXPECT_EQ(driver_.Connects(), 2);
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

TEST(IdleCache, IsBoundedAndDropsConnectionsIdlePastTheLimit) {
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
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(cache.Take(L"b"));
  EXPECT_EQ(cache.Size(), 0u);
  EXPECT_EQ(driver.OpenSessions(), 0);
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
