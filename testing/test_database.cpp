#include "testing/test_database.h"

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <vector>

#include "platform/ado/connection_string.h"
#include "testing/postgres.h"

namespace morvale::testing {
namespace {

// One ODBC connection, for the fixture's own statements.
class Session {
 public:
  Session() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  }
  ~Session() {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Connect(const std::string& odbc, std::string* error) {
    const SQLRETURN rc = SQLDriverConnect(
        dbc_, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(odbc.c_str())), SQL_NTS,
        nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    connected_ = SQL_SUCCEEDED(rc);
    if (!connected_ && error) *error = "cannot connect: " + Diagnostics(SQL_HANDLE_DBC, dbc_);
    return connected_;
  }

  bool Execute(const std::string& sql, std::string* error) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) {
      if (error) *error = Diagnostics(SQL_HANDLE_DBC, dbc_);
      return false;
    }
    SQLRETURN rc =
        SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    bool ok = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
    while (ok && SQL_SUCCEEDED(rc = SQLMoreResults(stmt))) {
    }
    if (ok && rc != SQL_NO_DATA) ok = false;
    if (!ok && error) *error = Diagnostics(SQL_HANDLE_STMT, stmt);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return ok;
  }

 private:
  static std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::string text;
    SQLCHAR state[6];
    SQLCHAR message[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT i = 1; SQLGetDiagRec(type, handle, i, state, &native, message,
                                          sizeof message, &length) == SQL_SUCCESS;
         ++i) {
      if (!text.empty()) text += "; ";
      text += std::string(reinterpret_cast<char*>(state)) + " " +
              reinterpret_cast<char*>(message);
    }
    return text.empty() ? "no diagnostics" : text;
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c);  // the server's strings are ASCII
  return out;
}

std::string UniqueName() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  std::ostringstream name;
  name << "morvale_test_" << getpid() << "_" << counter++ << "_" << std::hex << random();
  return name.str();
}

std::optional<std::wstring> Value(const std::vector<ado::ConnectionAttribute>& pairs,
                                  std::wstring_view keyword) {
  std::optional<std::wstring> found;
  for (const ado::ConnectionAttribute& pair : pairs) {
    std::wstring lower = pair.keyword;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
    if (lower == keyword) found = pair.value;
  }
  return found;
}

// The schema files, in name order.
std::vector<std::filesystem::path> SchemaFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(MORVALE_TEST_SCHEMA_DIR)) {
    if (entry.path().extension() == ".sql") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

TestDatabase::TestDatabase(std::string server, std::string name, std::string odbc,
                           std::wstring ado)
    : server_(std::move(server)),
      name_(std::move(name)),
      odbc_(std::move(odbc)),
      ado_(std::move(ado)) {}

std::unique_ptr<TestDatabase> TestDatabase::Create(std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  const std::string server = PostgresConnectionString();
  if (server.empty()) {
    *error = "MORVALE_TEST_ODBC names no PostgreSQL server (README: the tests against PostgreSQL)";
    return nullptr;
  }
  std::vector<ado::ConnectionAttribute> pairs;
  std::wstring parseError;
  if (!ado::ParseOdbcConnectionString(std::wstring(server.begin(), server.end()), &pairs,
                                      &parseError)) {
    *error = "MORVALE_TEST_ODBC does not parse: " + Narrow(parseError);
    return nullptr;
  }
  const std::wstring host = Value(pairs, L"server").value_or(L"127.0.0.1");
  const std::wstring port = Value(pairs, L"port").value_or(L"5432");
  const std::wstring user = Value(pairs, L"uid").value_or(L"postgres");
  const std::wstring password = Value(pairs, L"pwd").value_or(L"");

  const std::string name = UniqueName();
  {
    Session session;
    if (!session.Connect(server, error) ||
        !session.Execute("CREATE DATABASE " + name + " ENCODING 'UTF8' TEMPLATE template0",
                         error)) {
      *error = "cannot create the test database: " + *error;
      return nullptr;
    }
  }
  // Same server and login, the new database; the rest as MORVALE_TEST_ODBC has it.
  std::wstring odbc;
  for (const ado::ConnectionAttribute& pair : pairs) {
    if (!odbc.empty()) odbc += L';';
    std::wstring lower = pair.keyword;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::towlower);
    const bool database = lower == L"database";
    const std::wstring value = database ? std::wstring(name.begin(), name.end()) : pair.value;
    odbc += pair.keyword + L"=" +
            (lower == L"driver" ? L"{" + value + L"}" : ado::QuoteOdbcValue(value));
  }
  std::wstring quotedPassword = L"\"";
  for (wchar_t c : password) quotedPassword += c == L'"' ? std::wstring(L"\"\"") : std::wstring(1, c);
  quotedPassword += L"\"";
  std::wstring adoForm = L"Provider=SQLOLEDB;Server=" + host + L"," + port + L";Database=" +
                         std::wstring(name.begin(), name.end()) + L";uid=" + user +
                         L";pwd=" + quotedPassword;
  std::unique_ptr<TestDatabase> database(
      new TestDatabase(server, name, Narrow(odbc), std::move(adoForm)));

  for (const std::filesystem::path& file : SchemaFiles()) {
    std::ifstream in(file);
    std::stringstream sql;
    sql << in.rdbuf();
    if (!in || !database->Execute(sql.str(), error)) {
      *error = "schema file " + file.filename().string() + " fails: " + *error;
      return nullptr;  // the destructor drops the half-made database
    }
  }
  setenv("MORVALE_ADO_PROVIDERS", kPostgresProviderOverride, 0);
  return database;
}

TestDatabase::~TestDatabase() {
  Session session;
  std::string error;
  if (!session.Connect(server_, &error) ||
      !session.Execute("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)", &error)) {
    ADD_FAILURE() << "cannot drop test database " << name_ << ": " << error;
  }
}

bool TestDatabase::Execute(const std::string& sql, std::string* error) const {
  Session session;
  return session.Connect(odbc_, error) && session.Execute(sql, error);
}

std::unique_ptr<TestDatabase> DatabaseTest::database_;
std::string DatabaseTest::error_;

void DatabaseTest::SetUpTestSuite() {
  error_.clear();
  if (!PostgresConnectionString().empty()) database_ = TestDatabase::Create(&error_);
}

void DatabaseTest::TearDownTestSuite() { database_.reset(); }

void DatabaseTest::SetUp() {
  MORVALE_REQUIRE_POSTGRES(server);
  ASSERT_NE(database_, nullptr) << error_;
}

}  // namespace morvale::testing
