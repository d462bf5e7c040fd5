#include <string>

#include "platform/ado/connection_string.h"
#include "platform/ado/idle_cache.h"
#include "platform/ado/objects.h"
#include "platform/ado/sql_state.h"

namespace ado {
namespace {

std::wstring Text(const _bstr_t& text) {
  const wchar_t* p = text;
  return p != nullptr ? std::wstring(p, text.length()) : std::wstring();
}

// A value as it may stand after "keyword=" in an ADO connection string.
std::wstring QuoteAdoValue(const std::wstring& value) {
  const bool plain = value.find_first_of(L";\"'=") == std::wstring::npos &&
                     (value.empty() || (value.front() != L' ' && value.back() != L' '));
  if (plain) return value;
  std::wstring quoted = L"\"";
  for (wchar_t c : value) {
    if (c == L'"') quoted += L'"';
    quoted += c;
  }
  return quoted + L"\"";
}

std::wstring InfoValue(const backend::Session& session, std::wstring_view name) {
  for (const auto& [key, value] : session.Info()) {
    if (key == name) return value;
  }
  return {};
}

// "host,port" or the DSN, as the providers report their data source.
std::wstring DataSourceOf(const std::wstring& odbc) {
  std::vector<ConnectionAttribute> pairs;
  if (!ParseOdbcConnectionString(odbc, &pairs, nullptr)) return {};
  std::wstring server, port, dsn;
  for (const auto& pair : pairs) {
    if (SameName(pair.keyword, L"Server") || SameName(pair.keyword, L"Servername")) server = pair.value;
    if (SameName(pair.keyword, L"Port")) port = pair.value;
    if (SameName(pair.keyword, L"DSN")) dsn = pair.value;
  }
  if (server.empty()) return dsn;
  return port.empty() ? server : server + L"," + port;
}

std::wstring FailoverPartnerOf(const std::wstring& adoString) {
  std::vector<ConnectionAttribute> pairs;
  std::wstring partner;
  if (ParseConnectionString(adoString, &pairs, nullptr)) {
    for (const auto& pair : pairs) {
      if (SameName(pair.keyword, L"Failover Partner")) partner = pair.value;
    }
  }
  return partner;
}

// The key of the idle cache: the driver object and the ODBC string.
std::wstring CacheKey(const backend::Driver& driver, const std::wstring& odbc) {
  return std::to_wstring(reinterpret_cast<std::uintptr_t>(&driver)) + L"|" + odbc;
}

}  // namespace

_Connection::_Connection() : errors_(ErrorList::Make()) {}

_Connection::~_Connection() {
  if (session_) GiveBack(!broken_);
}

void _Connection::FailWith(HRESULT hr, const std::wstring& description) {
  errors_->Clear();
  const std::wstring source = Text(provider_).empty() ? L"ADO" : Text(provider_);
  ErrorList::Add(errors_, hr, source, description, std::string(), 0);
  throw _com_error(hr, _bstr_t(source.c_str()), _bstr_t(description.c_str()));
}

void _Connection::Fail(const backend::Diagnostics& diagnostics, HRESULT fallback) {
  errors_->Clear();
  const std::wstring source = Text(provider_).empty() ? L"ADO" : Text(provider_);
  HRESULT raised = fallback;
  std::wstring description;
  bool decided = false;
  for (const backend::Diagnostic& d : diagnostics) {
    const SqlStateInfo info = ClassifySqlState(d.sqlState);
    if (info.connectionClass) broken_ = true;
    std::wstring text = d.message;
    if (info.state != d.sqlState) text += L" (SQLSTATE " + backend::WideFromUtf8(d.sqlState) + L")";
    ErrorList::Add(errors_, info.hr, source, text, info.state, d.nativeError);
    // The first error decides what is raised; a warning ("01...") only
    // when there is nothing else.
    const bool warning = d.sqlState.rfind("01", 0) == 0;
    if (!decided && (!warning || description.empty())) {
      raised = info.hr;
      description = text;
      decided = !warning;
    }
  }
  if (diagnostics.empty()) {
    description = L"The driver failed without a diagnostic record.";
    ErrorList::Add(errors_, raised, source, description, std::string(), 0);
  }
  throw _com_error(raised, _bstr_t(source.c_str()), _bstr_t(description.c_str()));
}

void _Connection::Open(const _bstr_t& connectionString, const _bstr_t& userId, const _bstr_t& password, LONG) {
  if (session_) Raise(adErrObjectOpen, L"Operation is not allowed when the object is open.");
  std::wstring adoString = Text(connectionString).empty() ? Text(connectionString_) : Text(connectionString);
  const std::wstring user = Text(userId);
  const std::wstring secret = Text(password);
  std::wstring login = adoString;
  if (!user.empty()) login += L";User ID=" + QuoteAdoValue(user);
  if (!secret.empty()) login += L";Password=" + QuoteAdoValue(secret);

  OdbcTarget target;
  std::wstring error;
  if (!TranslateConnectionString(login, &target, &error)) {
    provider_ = _bstr_t();
    FailWith(E_FAIL, L"The connection string cannot be used: " + error);
  }
  connectionString_ = adoString.c_str();
  provider_ = target.provider.c_str();
  broken_ = false;
  inTransaction_ = false;

  backend::Driver& driver = CurrentDriver();
  std::wstring key = CacheKey(driver, target.odbc);
  std::unique_ptr<backend::Session> session = IdleCache::Shared().Take(key);
  if (!session) {
    backend::Diagnostics diagnostics;
    session = driver.Connect(target.odbc, connectionTimeout_, &diagnostics);
    if (!session) Fail(diagnostics, E_FAIL);
  }
  if (target.provider.empty()) provider_ = InfoValue(*session, L"Driver Name").c_str();
  dialect_ = DialectOfDbms(InfoValue(*session, L"DBMS Name"));
  redacted_ = std::move(target.redacted);
  odbc_ = std::move(target.odbc);
  openedString_ = std::move(adoString);
  cacheKey_ = std::move(key);
  driver_ = &driver;
  session_ = std::move(session);
}

void _Connection::GiveBack(bool keep) {
  std::unique_ptr<backend::Session> session = std::move(session_);
  if (inTransaction_) {
    backend::Diagnostics ignored;
    if (!session->EndTransaction(false, &ignored)) keep = false;
    inTransaction_ = false;
  }
  if (keep) IdleCache::Shared().Put(cacheKey_, std::move(session));
}

void _Connection::Close() {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  GiveBack(!broken_);
}

void _Connection::Run(backend::Request& request, backend::Response* response) {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  request.text = RewriteSql(request.text, dialect_);
  backend::Diagnostics diagnostics;
  // The PostgreSQL driver returns a procedure's result cursors only inside
  // a transaction.
  const bool ownTransaction = request.procedure && dialect_ == Dialect::PostgreSql && !inTransaction_;
  if (ownTransaction && !session_->BeginTransaction(&diagnostics)) Fail(diagnostics, E_FAIL);
  bool ok = session_->Execute(request, response, &diagnostics);
  if (ownTransaction) ok = session_->EndTransaction(ok, &diagnostics) && ok;
  if (!ok) Fail(diagnostics, E_FAIL);
}

_RecordsetPtr _Connection::Execute(const _bstr_t& commandText, VARIANT* recordsAffected, LONG options) {
  _CommandPtr command = MakeCommand();
  command->PutRefActiveConnection(this);
  command->PutCommandText(commandText);
  command->PutCommandType(adCmdText);
  command->PutCommandTimeout(commandTimeout_);
  return command->Execute(recordsAffected, nullptr, options);
}

LONG _Connection::BeginTrans() {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  if (inTransaction_) FailWith(kTransactionExists, L"A transaction is already active on this connection.");
  backend::Diagnostics diagnostics;
  if (!session_->BeginTransaction(&diagnostics)) Fail(diagnostics, E_FAIL);
  inTransaction_ = true;
  return 1;
}

void _Connection::CommitTrans() {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  if (!inTransaction_) FailWith(kNoTransaction, L"No transaction is active.");
  inTransaction_ = false;
  backend::Diagnostics diagnostics;
  if (!session_->EndTransaction(true, &diagnostics)) Fail(diagnostics, E_FAIL);
}

void _Connection::RollbackTrans() {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  if (!inTransaction_) FailWith(kNoTransaction, L"No transaction is active.");
  inTransaction_ = false;
  backend::Diagnostics diagnostics;
  if (!session_->EndTransaction(false, &diagnostics)) Fail(diagnostics, E_FAIL);
}

_bstr_t _Connection::GetConnectionString() const { return connectionString_; }

PropertiesPtr _Connection::GetProperties() const {
  std::vector<std::pair<std::wstring, _variant_t>> items;
  auto add = [&items](const wchar_t* name, const std::wstring& value) {
    items.emplace_back(name, _variant_t(value.c_str()));
  };
  const std::wstring provider = Text(provider_);
  add(L"Provider Name", provider);
  add(L"Provider Friendly Name", provider);
  add(L"OLE DB Version", L"02.70");
  if (session_) {
    add(L"Provider Version", InfoValue(*session_, L"Driver Version"));
    add(L"DBMS Name", InfoValue(*session_, L"DBMS Name"));
    add(L"DBMS Version", InfoValue(*session_, L"DBMS Version"));
    add(L"Current Catalog", InfoValue(*session_, L"Current Catalog"));
    add(L"User Name", InfoValue(*session_, L"User Name"));
    add(L"Data Source Name", DataSourceOf(odbc_));
    // The provider's connection string, with every password masked.
    add(L"Extended Properties", redacted_);
    const std::wstring failoverPartner = FailoverPartnerOf(openedString_);
    if (!failoverPartner.empty()) add(L"Failover Partner", failoverPartner);
  }
  return PropertyList::Make(items);
}

}  // namespace ado
