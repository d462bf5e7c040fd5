#include "db/connection_item.h"

#include <algorithm>
#include <cinttypes>
#include <cwctype>

#include "db/ado_error.h"
#include "db/db_config.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/string_conversion.h"
#include "foundation/string_util.h"
#include "platform/ado/connection_string.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"

namespace {

constexpr unsigned kEventConnectFailed = 0xAFFF6231u;  // message 25137

// Logs the failure to create an ADO object, through the error reporting.
void LogCreateFailed(const char* location, const wchar_t* fmt, HRESULT hr) {
  wchar_t text[256] = {};
  crt::snwprintf(text, 255, fmt, ConvertToWideString(location, CP_ACP).c_str(),
                 static_cast<std::int64_t>(static_cast<std::uint32_t>(hr)));
  LogDBError(2, kEventDbComError, hr, location, text);
}

}  // namespace

ConnectionTarget::ConnectionTarget(std::wstring connectionString, std::wstring userId)
    : connectionString(std::move(connectionString)),
      userId(std::move(userId)),
      openText(this->connectionString.c_str()),
      openTextId(ado::_Connection::NewTextId()) {}

ConnectionTarget::~ConnectionTarget() { ado::WipeText(connectionString); }

ConnectionItem::ConnectionItem(const std::wstring& connectionString, const std::wstring& userId)
    : ConnectionItem(connectionString, userId, DbConfig::Instance()->GetKind()) {}

ConnectionItem::ConnectionItem(const std::wstring& connectionString, const std::wstring& userId, DatabaseKind kind)
    : ConnectionItem(std::make_shared<const ConnectionTarget>(connectionString, userId), kind) {}

ConnectionItem::ConnectionItem(std::shared_ptr<const ConnectionTarget> target, DatabaseKind kind)
    : target_(std::move(target)), kind_(kind), validationQuery_(kind == DatabaseKind::DB2 ? L"values 0" : L"select 0") {
  ado::RegisterAdoClasses();
}

ConnectionItem::~ConnectionItem() { DisconnectFromDB(); }

ado::_CommandPtr ConnectionItem::GetCommand() const {
  static const char kWhere[] = "ConnectionItem::GetCommand";
  if (command_ != nullptr || connection_ == nullptr) return command_;
  try {
    if (connection_->GetState() == ado::adStateClosed) return command_;
    ado::_CommandPtr command;
    const HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, CLSCTX_ALL);
    if (FAILED(hr)) {
      LogCreateFailed(kWhere, L"{%s}: Create command instance failed - %I64x.", hr);
      return nullptr;
    }
    command->PutRefActiveConnection(connection_);
    command_ = command;
  } catch (const _com_error& e) {
    LogConnectionErrors(connection_, 2, kEventDbComError, e, kWhere, nullptr, DefaultDBLogSink);
  } catch (...) {
    LogDBError(2, kEventDbComError, 0, kWhere, nullptr);
  }
  return command_;
}

bool ConnectionItem::ConnectToDB(LONG timeoutSecs, std::int64_t* lastLogged) {
  static const char kWhere[] = "ConnectionItem::ConnectToDB";
  DisconnectFromDB();
  try {
    if (connection_ == nullptr) {
      const HRESULT hr = connection_.CreateInstance(ado::CLSID_Connection, nullptr, CLSCTX_ALL);
      if (FAILED(hr)) {
        LogCreateFailed(kWhere, L"{%s}: Create connection instance failed - %I64x. ", hr);
        return false;
      }
    }
    try {
      connection_->PutConnectionTimeout(timeoutSecs);
      // No login of its own: the one in the connection string is used.
      connection_->OpenKnown(target_->openText, target_->openTextId);
      // A command made before follows the item to its new connection.
      if (command_ != nullptr) command_->PutRefActiveConnection(connection_);
      if (kind_ == DatabaseKind::DB2) SetDb2SchemaOwner();
    } catch (const _com_error& e) {
      const std::wstring masked = SuppressPassword(target_->connectionString);
      LogEventW(2, kEventConnectFailed, LoadResStringW(kEventConnectFailed).c_str(), L"ConnectionItem::ConnectToDB",
                masked.c_str());
      const int level = ThrottleLogLevel(lastLogged, 2, 6, 0);
      LogConnectionErrors(connection_, level, kEventDbComError, e, kWhere, masked.c_str(), DefaultDBLogSink);
      return false;
    }
  } catch (...) {
    LogDBError(2, kEventDbComError, 0, kWhere, nullptr);
    return false;
  }
  return true;
}

void ConnectionItem::SetDb2SchemaOwner() {
  static const char kWhere[] = "SetDb2SchemaOwner";
  zev::ZEVString configured = DbConfig::Instance()->GetDB2Schema();
  std::wstring schema = configured.GetWide() == nullptr ? L"" : configured.GetWide();
  schema.resize(std::min<std::size_t>(schema.size(), 126));
  std::wstring owner = target_->userId.substr(0, 100);
  for (wchar_t& c : owner) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  if (schema.empty() || schema == owner) return;

  ado::_CommandPtr command;
  const HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, CLSCTX_ALL);
  if (FAILED(hr)) {
    LogMessage(2, "%s: Create command failed - %I64x.", kWhere,
               static_cast<std::int64_t>(static_cast<std::uint32_t>(hr)));
    return;
  }
  // The schema as the text of an SQL literal, so that a quote in it cannot
  // end the literal and add SQL of its own.
  const std::wstring literal = DoubleSingleQuotes(schema);
  std::wstring sql;
  try {
    command->PutRefActiveConnection(connection_);
    command->PutCommandType(ado::adCmdText);
    sql = L"SET CURRENT SCHEMA '" + literal + L"'";
    command->PutCommandText(_bstr_t(sql.c_str()));
    command->Execute(nullptr, nullptr, ado::adExecuteNoRecords);
    sql = L"SET CURRENT PATH 'SYSIBM','SYSFUN','SYSPROC','" + literal + L"'";
    command->PutCommandText(_bstr_t(sql.c_str()));
    command->Execute(nullptr, nullptr, ado::adExecuteNoRecords);
  } catch (const _com_error& e) {
    LogConnectionErrors(connection_, 2, kEventDbComError, e, kWhere, sql.c_str(), DefaultDBLogSink);
  } catch (...) {
    LogDBError(2, kEventDbComError, 0, kWhere, nullptr);
  }
}

bool ConnectionItem::DisconnectFromDB() {
  static const char kWhere[] = "ConnectionItem::DisconnectFromDB";
  bool result = true;
  try {
    if (connection_ != nullptr && connection_->GetState() != ado::adStateClosed) connection_->Close();
  } catch (const _com_error& e) {
    LogConnectionErrors(connection_, 2, kEventDbComError, e, kWhere, nullptr, DefaultDBLogSink);
    result = false;
  } catch (...) {
    LogDBError(2, kEventDbComError, 0, kWhere, nullptr);
    result = false;
  }
  connection_ = nullptr;
  return result;
}

bool ConnectionItem::ValidateConnection(std::int64_t* lastLogged) {
  static const char kWhere[] = "ConnectionItem::ValidateConnection";
  ado::_CommandPtr command;
  const HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, CLSCTX_ALL);
  if (FAILED(hr)) {
    LogMessage(2, "%s: Create command failed - %I64x.", kWhere,
               static_cast<std::int64_t>(static_cast<std::uint32_t>(hr)));
    return false;
  }
  try {
    command->PutRefActiveConnection(connection_);
    command->PutCommandText(_bstr_t(validationQuery_));
    command->PutCommandType(ado::adCmdText);
    command->Execute(nullptr, nullptr, 0);
  } catch (const _com_error& e) {
    const _bstr_t description = e.Description();
    const char* text = description;
    LogMessage(ThrottleLogLevel(lastLogged, 2, 6, 0), "COM Error 0x%0X in %s - %s - %S", e.Error(),
               kWhere, text == nullptr ? "" : text, e.ErrorMessage());
    return false;
  } catch (...) {
    LogMessage(2, "Exception caught for %s", kWhere);
    return false;
  }
  return true;
}

std::wstring ConnectionItem::SuppressPassword(const std::wstring& connectionString) {
  return ado::MaskPasswords(connectionString, L"");
}
