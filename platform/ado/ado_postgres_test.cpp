// The ADO objects against the real PostgreSQL test server, reached with the
// system's own SQL Server connection string through the provider map.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ado/ado.h"
#include "platform/ado/clock.h"
#include "platform/ado/idle_cache.h"
#include "testing/test_database.h"

namespace ado {
namespace {

using morvale::testing::DatabaseTest;


class AdoPostgres : public DatabaseTest {
 protected:
  static void SetUpTestSuite() {
    setenv("MORVALE_ADO_PROVIDERS", morvale::testing::kPostgresProviderOverride, 1);
    RegisterAdoClasses();
    DatabaseTest::SetUpTestSuite();
  }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    DatabaseTest::SetUp();
    IdleCache::Shared().Clear();
  }
  void TearDown() override { CoUninitialize(); }

  static _ConnectionPtr Open() {
    _ConnectionPtr connection;
    EXPECT_TRUE(SUCCEEDED(connection.CreateInstance(CLSID_Connection)));
    connection->Open(_bstr_t(database().ado_connection_string().c_str()), _bstr_t(L""), _bstr_t(L""));
    return connection;
  }

  static void Run(const std::string& sql) {
    std::string error;
    ASSERT_TRUE(database().Execute(sql, &error)) << error;
  }

  static _variant_t Scalar(_Connection* connection, const wchar_t* sql) {
    _RecordsetPtr rs = connection->Execute(_bstr_t(sql), nullptr);
    return rs->GetFields()->GetItem(_variant_t(0))->GetValue();
  }

  static LONG Pid(_Connection* connection) {
    return static_cast<INT>(Scalar(connection, L"SELECT pg_backend_pid()"));
  }
};

std::wstring Text(const _bstr_t& text) {
  const wchar_t* p = text;
  return p != nullptr ? std::wstring(p) : std::wstring();
}

_variant_t Bytes(std::initializer_list<BYTE> bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  LONG i = 0;
  for (BYTE b : bytes) {
    SafeArrayPutElement(array, &i, &b);
    ++i;
  }
  _variant_t value;
  value.parray = array;
  value.vt = VT_ARRAY | VT_UI1;
  return value;
}

_variant_t Cell(const _variant_t& rows, LONG field, LONG row) {
  LONG index[2] = {field, row};
  _variant_t value;
  EXPECT_EQ(SafeArrayGetElement(rows.parray, index, &value), S_OK);
  return value;
}

TEST_F(AdoPostgres, EveryParameterTypeRoundTripsWithNullAndNonAsciiText) {
  Run("CREATE TABLE AllTypes (Tag integer, I integer, B bigint, F boolean, D double precision, "
      "N numeric(20,4), T timestamp, V varchar(64), W text, Y bytea)");
  const wchar_t* insert = L"INSERT INTO AllTypes VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  DECIMAL decimal{};
  decimal.scale = 4;
  decimal.sign = DECIMAL_NEG;
  decimal.Lo64 = 123456789012345ull;  // -12345678901.2345
  const DATE when = 45271.5 + 1.0 / 86400 * 7;  // 2023-12-10 12:00:07
  struct Row {
    int tag;
    std::vector<_variant_t> values;
  };
  _variant_t null;
  null.vt = VT_NULL;
  const std::vector<Row> rows = {
      {1,
       {_variant_t(INT{-2147483647 - 1}), _variant_t(L"9223372036854775807"), _variant_t(true), _variant_t(-0.125),
        _variant_t(decimal), _variant_t(when, VT_DATE), _variant_t("plain; text"),
        _variant_t(L"Gr\u00fc\u00dfe \u2603 \U0001D11E"), Bytes({0x00, 0xFF, 0x27})}},
      {2, {null, null, null, null, null, null, null, null, null}},
      {3,
       {_variant_t(INT{0}), _variant_t(L"-1"), _variant_t(false), _variant_t(0.0), _variant_t(DECIMAL{}),
        _variant_t(0.0, VT_DATE), _variant_t(""), _variant_t(L""), Bytes({})}},
  };
  const DataTypeEnum types[] = {adInteger, adBigInt,   adBoolean,  adDouble,   adNumeric,
                                adDBTimeStamp, adVarChar, adVarWChar, adVarBinary};
  _ConnectionPtr connection = Open();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tag);
    _CommandPtr command;
    ASSERT_EQ(command.CreateInstance(CLSID_Command), S_OK);
    command->PutRefActiveConnection(connection);
    command->PutCommandText(_bstr_t(insert));
    command->PutCommandType(adCmdText);
    command->GetParameters()->Append(command->CreateParameter(_bstr_t(L""), adInteger, adParamInput, 0, _variant_t(row.tag)));
    for (std::size_t i = 0; i < row.values.size(); ++i) {
      command->GetParameters()->Append(
          command->CreateParameter(_bstr_t(L""), types[i], adParamInput, 0, row.values[i]));
    }
    _variant_t affected;
    command->Execute(&affected, nullptr, adExecuteNoRecords);
    EXPECT_EQ(affected.lVal, 1);
  }

  _RecordsetPtr rs = connection->Execute(_bstr_t(L"SELECT I, B, F, D, N, T, V, W, Y FROM AllTypes ORDER BY Tag"), nullptr);
  EXPECT_EQ(rs->GetFields()->GetItem(_variant_t(L"b"))->GetType(), adBigInt);
  EXPECT_EQ(rs->GetFields()->GetItem(_variant_t(L"T"))->GetType(), adDBTimeStamp);
  EXPECT_EQ(rs->GetFields()->GetItem(_variant_t(L"n"))->GetType(), adNumeric);
  _variant_t all = rs->GetRows();
  ASSERT_EQ(all.vt, VT_ARRAY | VT_VARIANT);

  // Row 0: the values, each with the VARIANT type of its column.
  EXPECT_EQ(Cell(all, 0, 0).vt, VT_I4);
  EXPECT_EQ(Cell(all, 0, 0).lVal, -2147483647 - 1);
  EXPECT_EQ(Cell(all, 1, 0).vt, VT_I8);
  EXPECT_EQ(Cell(all, 1, 0).llVal, 9223372036854775807LL);
  EXPECT_EQ(Cell(all, 2, 0).vt, VT_BOOL);
  EXPECT_EQ(Cell(all, 2, 0).boolVal, VARIANT_TRUE);
  EXPECT_EQ(Cell(all, 3, 0).vt, VT_R8);
  EXPECT_EQ(Cell(all, 3, 0).dblVal, -0.125);
  _variant_t n = Cell(all, 4, 0);
  ASSERT_EQ(n.vt, VT_DECIMAL);
  EXPECT_EQ(n.decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(n.decVal.scale, 4);
  EXPECT_EQ(n.decVal.Lo64, 123456789012345ull);
  EXPECT_EQ(Cell(all, 5, 0).vt, VT_DATE);
  EXPECT_NEAR(Cell(all, 5, 0).date, when, 0.5 / 86400000);
  EXPECT_EQ(Text(_bstr_t(Cell(all, 6, 0))), L"plain; text");
  EXPECT_EQ(Text(_bstr_t(Cell(all, 7, 0))), L"Gr\u00fc\u00dfe \u2603 \U0001D11E");
  _variant_t y = Cell(all, 8, 0);
  ASSERT_EQ(y.vt, VT_ARRAY | VT_UI1);
  LONG upper = -1;
  SafeArrayGetUBound(y.parray, 1, &upper);
  EXPECT_EQ(upper, 2);
  // Row 1: every column NULL.
  for (LONG field = 0; field < 9; ++field) {
    SCOPED_TRACE(field);
    EXPECT_EQ(Cell(all, field, 1).vt, VT_NULL);
  }
  // Row 2: zero and empty values are values, not NULL.
  EXPECT_EQ(Cell(all, 6, 2).vt, VT_BSTR);
  EXPECT_EQ(Cell(all, 7, 2).vt, VT_BSTR);
  _variant_t empty = Cell(all, 8, 2);
  ASSERT_EQ(empty.vt, VT_ARRAY | VT_UI1);
  SafeArrayGetUBound(empty.parray, 1, &upper);
  EXPECT_EQ(upper, -1);
  EXPECT_EQ(Cell(all, 5, 2).date, 0.0);

  // ActualSize: 0 for NULL and for empty values, the bytes otherwise.
  _RecordsetPtr sizes = connection->Execute(_bstr_t(L"SELECT W, Y FROM AllTypes ORDER BY Tag"), nullptr);
  FieldsPtr fields = sizes->GetFields();
  EXPECT_EQ(fields->GetItem(_variant_t(L"Y"))->GetActualSize(), 3);
  sizes->MoveNext();
  EXPECT_EQ(fields->GetItem(_variant_t(L"W"))->GetActualSize(), 0);
  EXPECT_EQ(fields->GetItem(_variant_t(L"Y"))->GetActualSize(), 0);
  sizes->MoveNext();
  EXPECT_EQ(fields->GetItem(_variant_t(L"W"))->GetActualSize(), 0);
  EXPECT_EQ(fields->GetItem(_variant_t(L"Y"))->GetActualSize(), 0);
  EXPECT_EQ(fields->GetItem(_variant_t(L"Y"))->GetValue().vt, VT_ARRAY | VT_UI1);
}

TEST_F(AdoPostgres, LongTextOfOneRowArrivesWholeWhereverACharacterBeyondThePlaneFalls) {
  // A one-row result is read cell by cell, a long text in pieces of a few
  // thousand UTF-16 units: the two units of a character beyond the first
  // plane may fall on either side of a piece's end.
  _ConnectionPtr connection = Open();
  for (int lead : {4093, 4094, 4095, 8189, 8190}) {
    SCOPED_TRACE(lead);
    const std::wstring sql = L"SELECT repeat('a', " + std::to_wstring(lead) + L") || '\U0001D11E' || 'z'";
    _variant_t value = Scalar(connection, sql.c_str());
    ASSERT_EQ(value.vt, VT_BSTR);
    EXPECT_EQ(Text(_bstr_t(value)), std::wstring(static_cast<std::size_t>(lead), L'a') + L"\U0001D11Ez");
  }
}

TEST_F(AdoPostgres, LongValuesAmongShortOnesArriveWhole) {
  // Rows are fetched in blocks into buffers of a few hundred characters;
  // every seventh row holds values far longer than that. The short texts
  // hold letters beyond ASCII and beyond the first plane.
  Run("CREATE TABLE Mixed AS SELECT g AS Id, "
      "CASE WHEN g % 7 = 0 THEN repeat('\u00e9', 5000 + g) WHEN g % 5 = 0 THEN NULL ELSE 'sh\u00f6rt ' || g || '\U0001D11E' END AS W, "
      "CASE WHEN g % 7 = 0 THEN decode(repeat('ab', 3000 + g), 'hex') ELSE decode('0102', 'hex') END AS Y "
      "FROM generate_series(1, 1000) g");
  _ConnectionPtr connection = Open();
  _RecordsetPtr rs = connection->Execute(_bstr_t(L"SELECT Id, W, Y FROM Mixed ORDER BY Id"), nullptr);
  _variant_t all = rs->GetRows();
  for (LONG row = 0; row < 1000; ++row) {
    const LONG id = row + 1;
    SCOPED_TRACE(id);
    ASSERT_EQ(Cell(all, 0, row).lVal, id);
    _variant_t w = Cell(all, 1, row);
    _variant_t y = Cell(all, 2, row);
    LONG upper = -1;
    SafeArrayGetUBound(y.parray, 1, &upper);
    if (id % 7 == 0) {
      ASSERT_EQ(w.vt, VT_BSTR);
      EXPECT_EQ(Text(_bstr_t(w)), std::wstring(static_cast<std::size_t>(5000 + id), L'\u00e9'));
      EXPECT_EQ(upper + 1, 3000 + id);
      BYTE last = 0;
      SafeArrayGetElement(y.parray, &upper, &last);
      EXPECT_EQ(last, 0xAB);
    } else if (id % 5 == 0) {
      EXPECT_EQ(w.vt, VT_NULL);
      EXPECT_EQ(upper, 1);
    } else {
      EXPECT_EQ(Text(_bstr_t(w)), L"sh\u00f6rt " + std::to_wstring(id) + L"\U0001D11E");
      EXPECT_EQ(upper, 1);
    }
  }
}

TEST_F(AdoPostgres, GetRowsReadsFieldsByRowAndMovesPastThem) {
  _ConnectionPtr connection = Open();
  _RecordsetPtr rs;
  ASSERT_EQ(rs.CreateInstance(CLSID_Recordset), S_OK);
  rs->PutCursorLocation(adUseClient);
  rs->Open(_variant_t(L"SELECT g AS Num, 'r' || g AS Name FROM generate_series(1, 5) g ORDER BY g"),
           _variant_t(static_cast<IDispatch*>(connection.GetInterfacePtr())), adOpenForwardOnly, adLockReadOnly);
  _variant_t first = rs->GetRows(2);
  LONG upper = 0;
  SafeArrayGetUBound(first.parray, 1, &upper);
  EXPECT_EQ(upper, 1);  // two fields
  SafeArrayGetUBound(first.parray, 2, &upper);
  EXPECT_EQ(upper, 1);  // two rows
  EXPECT_EQ(Cell(first, 0, 1).lVal, 2);

  _variant_t names = rs->GetRows(adGetRowsRest, vtMissing, _variant_t(L"NAME"));
  SafeArrayGetUBound(names.parray, 1, &upper);
  EXPECT_EQ(upper, 0);
  SafeArrayGetUBound(names.parray, 2, &upper);
  EXPECT_EQ(upper, 2);
  EXPECT_EQ(Text(_bstr_t(Cell(names, 0, 2))), L"r5");
  EXPECT_TRUE(rs->GetEndOfFile());
  try {
    rs->GetRows();
    ADD_FAILURE() << "GetRows at EOF succeeded";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), adErrNoCurrentRecord);
  }

  // The rows stay readable once the recordset is detached and the
  // connection closed.
  rs->MoveFirst();
  rs->PutRefActiveConnection(nullptr);
  connection->Close();
  EXPECT_EQ(Text(_bstr_t(rs->GetFields()->GetItem(_variant_t(1))->GetValue())), L"r1");
  EXPECT_EQ(rs->GetRecordCount(), 5);
}

TEST_F(AdoPostgres, MaxRecordsLimitsTheRowsRead) {
  _ConnectionPtr connection = Open();
  _CommandPtr command;
  ASSERT_EQ(command.CreateInstance(CLSID_Command), S_OK);
  command->PutRefActiveConnection(connection);
  command->PutCommandText(_bstr_t(L"SELECT TOP 10 g FROM generate_series(1, 100) g"));
  _RecordsetPtr rs;
  ASSERT_EQ(rs.CreateInstance(CLSID_Recordset), S_OK);
  rs->PutMaxRecords(3);
  rs->Open(_variant_t(static_cast<IDispatch*>(command.GetInterfacePtr())), vtMissing, adOpenForwardOnly,
           adLockReadOnly, adCmdText);
  EXPECT_EQ(rs->GetRecordCount(), 3);
  // The limit was for that statement only: the next one on the same
  // physical connection reads every row.
  _RecordsetPtr all = connection->Execute(_bstr_t(L"SELECT g FROM generate_series(1, 10) g"), nullptr);
  EXPECT_EQ(all->GetRecordCount(), 10);
}

TEST_F(AdoPostgres, BatchesGiveOneRecordsetPerResultAndCountAffectedRows) {
  Run("CREATE TABLE Counted (Id integer); INSERT INTO Counted SELECT generate_series(1, 3)");
  _ConnectionPtr connection = Open();
  _variant_t affected;
  connection->Execute(_bstr_t(L"UPDATE Counted SET Id = Id + 10"), &affected, adExecuteNoRecords);
  EXPECT_EQ(affected.lVal, 3);
  connection->Execute(_bstr_t(L"DELETE FROM Counted WHERE Id > 100"), &affected, adExecuteNoRecords);
  EXPECT_EQ(affected.lVal, 0);

  _RecordsetPtr rs = connection->Execute(
      _bstr_t(L"SELECT count(*) AS c FROM Counted; UPDATE Counted SET Id = Id WHERE Id > 11; SELECT 'x' AS b"), nullptr);
  ASSERT_EQ(rs->GetState(), adStateOpen);
  EXPECT_EQ(static_cast<LONGLONG>(rs->GetFields()->GetItem(_variant_t(L"C"))->GetValue()), 3);
  _RecordsetPtr update = rs->NextRecordset(&affected);
  ASSERT_TRUE(update);
  EXPECT_EQ(update->GetState(), adStateClosed);
  EXPECT_EQ(affected.lVal, 2);
  _RecordsetPtr last = update->NextRecordset(&affected);
  ASSERT_TRUE(last);
  EXPECT_EQ(Text(_bstr_t(last->GetFields()->GetItem(_variant_t(0))->GetValue())), L"x");
  EXPECT_FALSE(last->NextRecordset(&affected));
}

TEST_F(AdoPostgres, TransactionIsSeenFromASecondConnectionOnlyAfterCommit) {
  Run("CREATE TABLE Seen (Id integer)");
  _ConnectionPtr writer = Open();
  _ConnectionPtr reader = Open();
  EXPECT_EQ(writer->BeginTrans(), 1);
  writer->Execute(_bstr_t(L"INSERT INTO Seen VALUES (1)"), nullptr);
  EXPECT_EQ(static_cast<LONGLONG>(Scalar(reader, L"SELECT count(*) FROM Seen")), 0);
  writer->RollbackTrans();
  EXPECT_EQ(static_cast<LONGLONG>(Scalar(reader, L"SELECT count(*) FROM Seen")), 0);

  writer->BeginTrans();
  writer->Execute(_bstr_t(L"INSERT INTO Seen VALUES (2)"), nullptr);
  writer->CommitTrans();
  EXPECT_EQ(static_cast<LONGLONG>(Scalar(reader, L"SELECT count(*) FROM Seen")), 1);
  try {
    writer->CommitTrans();
    ADD_FAILURE() << "commit without a transaction succeeded";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), kNoTransaction);
  }
}

TEST_F(AdoPostgres, FailuresRaiseTheOleDbHresultAndFillErrors) {
  _ConnectionPtr connection = Open();
  try {
    connection->Execute(_bstr_t(L"SELECT * FROM NoSuchTable"), nullptr);
    ADD_FAILURE() << "a missing table was not reported";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DB_E_NOTABLE);
    EXPECT_NE(Text(e.Description()).find(L"nosuchtable"), std::wstring::npos);
  }
  ErrorsPtr errors = connection->GetErrors();
  ASSERT_GE(errors->GetCount(), 1);
  EXPECT_EQ(Text(errors->GetItem(_variant_t(0))->GetSQLState()), L"42P01");
  EXPECT_EQ(errors->GetItem(_variant_t(0))->GetNumber(), DB_E_NOTABLE);

  _CommandPtr command;
  ASSERT_EQ(command.CreateInstance(CLSID_Command), S_OK);
  command->PutRefActiveConnection(connection);
  command->PutCommandText(_bstr_t(L"SELECT pg_sleep(5)"));
  command->PutCommandTimeout(1);
  try {
    command->Execute(nullptr);
    ADD_FAILURE() << "the statement did not time out";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DB_E_ABORTLIMITREACHED);
    EXPECT_NE(Text(e.Description()).find(L"57014"), std::wstring::npos);  // the raw state stays visible
  }
  EXPECT_EQ(Text(connection->GetErrors()->GetItem(_variant_t(0))->GetSQLState()), L"HYT00");
  // The connection is still usable after a time-out.
  EXPECT_EQ(static_cast<INT>(Scalar(connection, L"SELECT 7")), 7);
}

TEST_F(AdoPostgres, ClosedConnectionsAreReusedAndAKilledOneNeverComesBack) {
  _ConnectionPtr first = Open();
  const LONG pid = Pid(first);
  first->Close();
  _ConnectionPtr again = Open();
  EXPECT_EQ(Pid(again), pid);  // taken from the idle cache

  _ConnectionPtr killer = Open();
  Scalar(killer, (L"SELECT pg_terminate_backend(" + std::to_wstring(pid) + L")").c_str());
  try {
    again->Execute(_bstr_t(L"SELECT 1"), nullptr);
    ADD_FAILURE() << "a terminated session still answered";
  } catch (const _com_error&) {
    ErrorsPtr errors = again->GetErrors();
    bool connectionClass = false;
    for (LONG i = 0; i < errors->GetCount(); ++i) {
      const std::wstring state = Text(errors->GetItem(_variant_t(i))->GetSQLState());
      connectionClass = connectionClass || state.rfind(L"08", 0) == 0 || state.rfind(L"57P0", 0) == 0;
    }
    EXPECT_TRUE(connectionClass);
  }
  again->Close();
  _ConnectionPtr fresh = Open();
  EXPECT_NE(Pid(fresh), pid);
}

Clock::time_point laterNow{};
Clock::time_point LaterNow() { return laterNow; }

TEST_F(AdoPostgres, AnIdleConnectionKilledInTheCacheIsNotHandedOut) {
  laterNow = Clock::now();
  const NowFunction previous = SetNowForTesting(LaterNow);
  _ConnectionPtr connection = Open();
  _ConnectionPtr killer = Open();
  const LONG pid = Pid(connection);
  connection->Close();
  Scalar(killer, (L"SELECT pg_terminate_backend(" + std::to_wstring(pid) + L", 5000)").c_str());
  // Past the idle time after which the cache pings before handing out: the
  // ping finds the session dead, and Open connects anew.
  laterNow += std::chrono::milliseconds(2001);
  _ConnectionPtr next = Open();
  EXPECT_EQ(IdleCache::Shared().Size(), 0u);
  EXPECT_NE(Pid(next), pid);
  SetNowForTesting(previous);
}

// Sessions killed together while idle in the cache: each borrow made at
// once, within the idle time after which the cache pings, still gets a
// connection that answers, never one of the dead sessions.
TEST_F(AdoPostgres, IdleSessionsKilledTogetherAreNeverLentDead) {
  _ConnectionPtr killer = Open();
  std::vector<_ConnectionPtr> open;
  std::vector<LONG> killed;
  for (int i = 0; i < 3; ++i) {
    open.push_back(Open());
    killed.push_back(Pid(open.back()));
  }
  for (_ConnectionPtr& connection : open) connection->Close();
  ASSERT_EQ(IdleCache::Shared().Size(), 3u);
  for (LONG pid : killed) {
    // Waits until the session has really ended.
    EXPECT_TRUE(static_cast<bool>(
        Scalar(killer, (L"SELECT pg_terminate_backend(" + std::to_wstring(pid) + L", 5000)").c_str())));
  }
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    _ConnectionPtr next = Open();
    LONG pid = 0;
    try {
      pid = Pid(next);
    } catch (const _com_error& e) {
      ADD_FAILURE() << "a dead session was lent: 0x" << std::hex << e.Error();
    }
    EXPECT_EQ(std::count(killed.begin(), killed.end(), pid), 0);
  }
}

// A password given to Open replaces the one the string holds.
TEST_F(AdoPostgres, OpenArgumentsReplaceTheLoginOfTheString) {
  const std::wstring ado = database().ado_connection_string();
  const std::size_t at = ado.find(L";pwd=");
  ASSERT_NE(at, std::wstring::npos);
  std::wstring password = ado.substr(at + 5);
  if (password.size() >= 2 && password.front() == L'"') {
    std::wstring unquoted;
    for (std::size_t i = 1; i + 1 < password.size(); ++i) {
      unquoted += password[i];
      if (password[i] == L'"') ++i;  // doubled inside the quotes
    }
    password = unquoted;
  }
  const std::wstring wrong = ado.substr(0, at) + L";pwd=wrong";
  _ConnectionPtr connection = MakeConnection();
  connection->Open(_bstr_t(wrong.c_str()), _bstr_t(L""), _bstr_t(password.c_str()));
  EXPECT_EQ(static_cast<INT>(Scalar(connection, L"SELECT 7")), 7);
  connection->Close();
}

TEST_F(AdoPostgres, StoredProcedureReturnsRowsAndSetsItsOutputParameter) {
  Run("INSERT INTO ServerConfig (Id, ServiceName) VALUES (7, 'S7'), (8, 'S8');"
      "INSERT INTO UserConfig (DisplayName, ServerConfigId) VALUES ('A', 7), ('B', 7), ('C', 8);"
      "INSERT INTO ConfigHistory (ChangeType) VALUES (1), (2), (3)");
  _ConnectionPtr connection = Open();
  _CommandPtr command;
  ASSERT_EQ(command.CreateInstance(CLSID_Command), S_OK);
  command->PutRefActiveConnection(connection);
  command->PutCommandText(_bstr_t(L"GetAgentUserListWithMaxHistId"));
  command->PutCommandType(adCmdStoredProc);
  ParametersPtr parameters = command->GetParameters();
  parameters->Append(command->CreateParameter(_bstr_t(L""), adBigInt, adParamInput, 2, _variant_t("0")));
  parameters->Append(command->CreateParameter(_bstr_t(L""), adInteger, adParamInput, 0, _variant_t(7)));
  parameters->Append(command->CreateParameter(_bstr_t(L""), adInteger, adParamInput, 0, _variant_t(0)));
  parameters->Append(command->CreateParameter(_bstr_t(L"MaxHistoryId"), adBigInt, adParamOutput, 8));
  _RecordsetPtr rs = command->Execute(nullptr);
  ASSERT_EQ(rs->GetState(), adStateOpen);
  EXPECT_EQ(rs->GetFields()->GetCount(), 64);
  _variant_t rows = rs->GetRows();
  LONG upper = 0;
  SafeArrayGetUBound(rows.parray, 2, &upper);
  EXPECT_EQ(upper, 1);
  EXPECT_EQ(Text(_bstr_t(Cell(rows, 0, 0))), L"A");
  _variant_t maxId = parameters->GetItem(_variant_t(L"MaxHistoryId"))->GetValue();
  EXPECT_EQ(maxId.vt, VT_I8);
  EXPECT_EQ(maxId.llVal, 3);

  // A procedure whose one result carries its value as a column.
  _CommandPtr history;
  ASSERT_EQ(history.CreateInstance(CLSID_Command), S_OK);
  history->PutRefActiveConnection(connection);
  history->PutCommandText(_bstr_t(L"HistoryGetMaxId"));
  history->PutCommandType(adCmdStoredProc);
  _RecordsetPtr maxIds = history->Execute(nullptr);
  EXPECT_EQ(static_cast<LONGLONG>(maxIds->GetFields()->GetItem(_variant_t(L"MaxId"))->GetValue()), 3);
}

TEST_F(AdoPostgres, ConnectionPropertiesNameTheServerWithoutThePassword) {
  _ConnectionPtr connection = Open();
  PropertiesPtr properties = connection->GetProperties();
  EXPECT_EQ(Text(_bstr_t(properties->GetItem(_variant_t(L"DBMS Name"))->GetValue())), L"PostgreSQL");
  EXPECT_EQ(Text(_bstr_t(properties->GetItem(_variant_t(L"data source name"))->GetValue())).rfind(L"127.0.0.1,", 0), 0u);
  const std::wstring extended = Text(_bstr_t(properties->GetItem(_variant_t(L"Extended Properties"))->GetValue()));
  const std::wstring ado = database().ado_connection_string();
  const std::wstring password = ado.substr(ado.find(L"pwd=") + 4);
  EXPECT_EQ(extended.find(password), std::wstring::npos);
  EXPECT_EQ(connection->GetDialect(), Dialect::PostgreSql);
}

// A session reads results one after another whose columns differ from the
// last in one fact only (name, type, nullability, size) or not at all: each
// result keeps the description of its own columns, the same as when it
// follows a result of other columns.
TEST_F(AdoPostgres, EachResultKeepsTheDescriptionOfItsOwnColumns) {
  Run("CREATE TABLE Described (Id integer NOT NULL, Note varchar(20), Wide varchar(30), Amount numeric(9,2));"
      "INSERT INTO Described VALUES (1, 'n', 'w', 2.5)");
  const std::vector<const wchar_t*> statements = {
      L"SELECT Id, Note FROM Described",
      L"SELECT Id, Note FROM Described",
      L"SELECT Id, Note AS Other FROM Described",
      L"SELECT Id, Amount AS Other FROM Described",
      L"SELECT Id + 0 AS Id, Amount AS Other FROM Described",
      L"SELECT Id, Wide AS Note FROM Described",
      L"SELECT Id, Note FROM Described",
  };
  auto describe = [](_Connection* connection, const wchar_t* sql) {
    _RecordsetPtr rs = connection->Execute(_bstr_t(sql), nullptr);
    return rs->GetRowSet();
  };
  auto same = [](const backend::ColumnInfo& a, const backend::ColumnInfo& b) {
    return a.name == b.name && a.sqlType == b.sqlType && a.columnSize == b.columnSize &&
           a.decimalDigits == b.decimalDigits && a.nullable == b.nullable && a.kind == b.kind;
  };
  _ConnectionPtr inTurn = Open();
  std::vector<std::shared_ptr<const backend::RowSet>> read;
  for (const wchar_t* sql : statements) read.push_back(describe(inTurn, sql));
  // Each alone: after a result of three columns, so that nothing is shared.
  _ConnectionPtr alone = Open();
  for (std::size_t i = 0; i < statements.size(); ++i) {
    SCOPED_TRACE(i);
    describe(alone, L"SELECT 1 AS a, 2 AS b, 3 AS c");
    const std::shared_ptr<const backend::RowSet> expected = describe(alone, statements[i]);
    ASSERT_EQ(read[i]->ColumnCount(), 2u);
    for (std::size_t c = 0; c < 2; ++c) EXPECT_TRUE(same(read[i]->Columns()[c], expected->Columns()[c])) << c;
  }
  // The facts the statements differ in do reach the row sets.
  EXPECT_EQ(read[1]->Columns()[1].name, L"note");
  EXPECT_EQ(read[2]->Columns()[1].name, L"other");
  EXPECT_EQ(read[3]->Columns()[1].kind, backend::ValueKind::Decimal);
  EXPECT_NE(read[3]->Columns()[0].nullable, read[4]->Columns()[0].nullable);
  EXPECT_NE(read[5]->Columns()[1].columnSize, read[6]->Columns()[1].columnSize);
  EXPECT_EQ(read[6]->Columns()[1].columnSize, 20u);
}

// Every result of a batch, row by row, each value as text ("NULL" for
// NULL, "n bytes" for a binary): "a|b;c|d" for two rows of two fields,
// results apart by " / ".
std::wstring Rendered(_RecordsetPtr rs) {
  std::wstring out;
  while (rs) {
    if (!out.empty()) out += L" / ";
    if (rs->GetState() == adStateOpen) {
      const FieldsPtr fields = rs->GetFields();
      for (bool first = true; !rs->GetEndOfFile(); rs->MoveNext(), first = false) {
        if (!first) out += L';';
        for (LONG f = 0; f < fields->GetCount(); ++f) {
          if (f > 0) out += L'|';
          const _variant_t value = fields->GetItem(_variant_t(static_cast<INT>(f)))->GetValue();
          if (value.vt == VT_NULL) {
            out += L"NULL";
          } else if (value.vt == (VT_ARRAY | VT_UI1)) {
            LONG upper = -1;
            SafeArrayGetUBound(value.parray, 1, &upper);
            out += std::to_wstring(upper + 1) + L" bytes";
          } else {
            out += Text(_bstr_t(value));
          }
        }
      }
    }
    _variant_t affected;
    rs = rs->NextRecordset(&affected);
  }
  return out;
}

std::wstring Rendered(_Connection* connection, const wchar_t* sql) {
  return Rendered(connection->Execute(_bstr_t(sql), nullptr));
}

// One session runs results of a few rows and of many, of other columns in
// turn, a batch of two shapes, and a long text where a short one was:
// each reads its own values, whatever the session read before.
TEST_F(AdoPostgres, ResultsInTurnOnOneSessionReadTheirOwnValues) {
  const std::wstring longText(600, L'\u00e9');
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"SELECT 1 AS a, 'x' AS b, 2.5::float8 AS c", L"1|x|2.5"},
      {L"SELECT 'y' AS a, 7 AS b", L"y|7"},
      {L"SELECT 3 AS a, 'z' AS b, 4.5::float8 AS c", L"3|z|4.5"},
      {L"SELECT 3 AS a, NULL::text AS b, NULL::float8 AS c", L"3|NULL|NULL"},
      {L"SELECT g AS a FROM generate_series(1, 6) g", L"1;2;3;4;5;6"},
      {L"SELECT 3 AS a, 'w' AS b, 0.5::float8 AS c", L"3|w|0.5"},
      {L"SELECT 5 AS n; SELECT 'p' AS t, 6 AS n UNION ALL SELECT 'q', 8", L"5 / p|6;q|8"},
      {L"SELECT 5 AS n; SELECT 6 AS n; SELECT 7 AS n", L"5 / 6 / 7"},
      {L"SELECT 'short'::varchar AS t", L"short"},
      {L"SELECT repeat('\u00e9', 600)::varchar AS t", longText},
      {L"SELECT 'short'::varchar AS t", L"short"},
      {L"SELECT decode('0102', 'hex') AS y, 9 AS n", L"2 bytes|9"},
  };
  _ConnectionPtr connection = Open();
  for (int round = 0; round < 2; ++round) {
    for (const auto& [sql, expected] : cases) {
      SCOPED_TRACE(sql);
      EXPECT_EQ(Rendered(connection, sql.c_str()), expected);
    }
  }
}

// One session runs statements whose parameters differ from the last ones
// in number, type, length or nullness, or not at all: each statement sees
// its own values.
TEST_F(AdoPostgres, StatementsInTurnOnOneSessionBindTheirOwnParameters) {
  struct Case {
    const wchar_t* sql;
    std::vector<std::pair<DataTypeEnum, _variant_t>> params;
    std::wstring expected;
  };
  _variant_t null;
  null.vt = VT_NULL;
  const std::wstring longText(300, L'\u00e9');
  const std::vector<Case> cases = {
      {L"SELECT ?::int + 1 AS a", {{adInteger, _variant_t(4)}}, L"5"},
      {L"SELECT ?::int + 1 AS a", {{adInteger, _variant_t(9)}}, L"10"},
      {L"SELECT ?::int + 1 AS a", {{adInteger, null}}, L"NULL"},
      {L"SELECT ?::int AS a, ?::varchar AS b, ?::int AS c",
       {{adInteger, _variant_t(1)}, {adVarWChar, _variant_t(L"two")}, {adInteger, _variant_t(3)}},
       L"1|two|3"},
      {L"SELECT ?::varchar AS b", {{adVarWChar, _variant_t(L"alone")}}, L"alone"},
      {L"SELECT ?::varchar AS b", {{adVarWChar, _variant_t(longText.c_str())}}, longText},
      {L"SELECT ?::varchar AS b", {{adVarWChar, _variant_t(longText.c_str())}}, longText},
      {L"SELECT ?::varchar AS b", {{adVarWChar, _variant_t(L"short")}}, L"short"},
      {L"SELECT 'none' AS n", {}, L"none"},
      {L"SELECT ?::float8 AS d, ?::int AS a", {{adDouble, _variant_t(0.25)}, {adInteger, _variant_t(6)}}, L"0.25|6"},
      {L"SELECT ?::int AS a, ?::int AS c", {{adInteger, _variant_t(7)}, {adInteger, _variant_t(8)}}, L"7|8"},
  };
  _ConnectionPtr connection = Open();
  for (int round = 0; round < 2; ++round) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.sql);
      _CommandPtr command;
      ASSERT_EQ(command.CreateInstance(CLSID_Command), S_OK);
      command->PutRefActiveConnection(connection);
      command->PutCommandText(_bstr_t(c.sql));
      command->PutCommandType(adCmdText);
      for (const auto& [type, value] : c.params) {
        command->GetParameters()->Append(command->CreateParameter(_bstr_t(L""), type, adParamInput, 0, value));
      }
      EXPECT_EQ(Rendered(command->Execute(nullptr)), c.expected);
    }
  }
}

// The SQL Server driver is really loaded and fails on a closed local port
// with a connection-class SQLSTATE, and the password stays out of the error.
TEST(AdoFreeTds, ConnectingToAClosedPortFailsWithAConnectionError) {
  unsetenv("MORVALE_ADO_PROVIDERS");
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(probe, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  const int port = ntohs(address.sin_port);
  close(probe);  // nothing listens there now

  _ConnectionPtr connection = MakeConnection();
  connection->PutConnectionTimeout(3);
  const std::wstring secret = L"S3cr;et}Pw";
  try {
    connection->Open(_bstr_t((L"Provider=SQLOLEDB.1;Server=127.0.0.1," + std::to_wstring(port) +
                              L";Database=VEXMgmt;uid=sa;pwd=\"" + secret + L"\"")
                                 .c_str()),
                     _bstr_t(L""), _bstr_t(L""));
    ADD_FAILURE() << "connected to a closed port";
  } catch (const _com_error& e) {
    EXPECT_EQ(Text(e.Description()).find(L"S3cr"), std::wstring::npos);
  }
  ErrorsPtr errors = connection->GetErrors();
  ASSERT_GE(errors->GetCount(), 1);
  EXPECT_EQ(Text(errors->GetItem(_variant_t(0))->GetSQLState()).substr(0, 2), L"08");
  for (LONG i = 0; i < errors->GetCount(); ++i) {
    EXPECT_EQ(Text(errors->GetItem(_variant_t(i))->GetDescription()).find(L"S3cr"), std::wstring::npos);
  }
  EXPECT_EQ(connection->GetState(), adStateClosed);
}

}  // namespace
}  // namespace ado
