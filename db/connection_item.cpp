#include "db/connection_item.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>

#include "db/ado_error.h"
#include "db/db_config.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/string_conversion.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"

namespace {

constexpr unsigned kEventConnectFailed = 0xAFFF6231u;  // message 25137

std::wstring Widen(const std::string& text) { return ConvertToWideString(text, CP_ACP); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Logs the failure to create an ADO object, through the error reporting.
void LogCreateFailed(const char* location, const wchar_t* fmt, HRESULT hr) {
  wchar_t text[256] = {};
  crt::snwprintf(text, 255, fmt, ConvertToWideString(location, CP_ACP).c_str(),
                 static_cast<std::int64_t>(static_cast<std::uint32_t>(hr)));
  LogDBError(2, kEventDbComError, hr, location, text);
}

}  // namespace

ConnectionItem::ConnectionItem(const std::string& connectionString, const std::string& userId)
    : connectionString_(connectionString),
      validationQuery_(DbConfig::Instance()->IsDB2() ? "values 0" : "select 0"),
      userId_(userId) {
  ado::RegisterAdoClasses();
}

ConnectionItem::~ConnectionItem() { DisconnectFromDB(); }

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
    if (command_ == nullptr) {
      const HRESULT hr = command_.CreateInstance(ado::CLSID_Command, nullptr, CLSCTX_ALL);
      if (FAILED(hr)) {
        LogCreateFailed(kWhere, L"{%s}: Create command instance failed - %I64x.", hr);
        return false;
      }
    }
    try {
      connection_->PutConnectionTimeout(timeoutSecs);
      connection_->Open(_bstr_t(connectionString_.c_str()), _bstr_t(L""), _bstr_t(L""), -1);
      command_->PutRefActiveConnection(connection_);
      if (DbConfig::Instance()->IsDB2()) SetDb2SchemaOwner();
    } catch (const _com_error& e) {
      const std::string masked = SuppressPassword(connectionString_);
      LogEvent(2, kEventConnectFailed, LoadResString(kEventConnectFailed), kWhere, masked.c_str());
      const int level = ThrottleLogLevel(lastLogged, 2, 6, 0);
      wLogConnectionErrors(connection_, level, kEventDbComError, e, Widen(kWhere).c_str(),
                           Widen(masked).c_str());
      return false;
    }
  } catch (...) {
    wLogDBError(2, kEventDbComError, 0, Widen(kWhere).c_str(), nullptr);
    return false;
  }
  return true;
}

void ConnectionItem::SetDb2SchemaOwner() {
  static const char kWhere[] = "SetDb2SchemaOwner";
  zev::ZEVString configured = DbConfig::Instance()->GetDB2Schema();
  std::string schema = configured.GetNarrow() == nullptr ? "" : configured.GetNarrow();
  schema.resize(std::min<std::size_t>(schema.size(), 126));
  std::string owner = userId_.substr(0, 100);
  for (char& c : owner) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (schema.empty() || schema == owner) return;

  ado::_CommandPtr command;
  const HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, CLSCTX_ALL);
  if (FAILED(hr)) {
    LogMessage(2, "%s: Create command failed - %I64x.", kWhere,
               static_cast<std::int64_t>(static_cast<std::uint32_t>(hr)));
    return;
  }
  std::wstring sql;
  try {
    command->PutRefActiveConnection(connection_);
    command->PutCommandType(ado::adCmdText);
    char text[512] = {};
    crt::snprintf(text, sizeof text - 1, "SET CURRENT SCHEMA '%s'", schema.c_str());
    sql = Widen(text);
    command->PutCommandText(_bstr_t(sql.c_str()));
    command->Execute(nullptr, nullptr, ado::adExecuteNoRecords);
    crt::snprintf(text, sizeof text - 1, "SET CURRENT PATH 'SYSIBM','SYSFUN','SYSPROC','%s'",
                  schema.c_str());
    sql = Widen(text);
    command->PutCommandText(_bstr_t(sql.c_str()));
    command->Execute(nullptr, nullptr, ado::adExecuteNoRecords);
  } catch (const _com_error& e) {
    wLogConnectionErrors(connection_, 2, kEventDbComError, e, Widen(kWhere).c_str(), sql.c_str());
  } catch (...) {
    wLogDBError(2, kEventDbComError, 0, Widen(kWhere).c_str(), nullptr);
  }
}

bool ConnectionItem::DisconnectFromDB() {
  static const wchar_t kWhere[] = L"ConnectionItem::DisconnectFromDB";
  bool result = true;
  try {
    if (connection_ != nullptr && connection_->GetState() != ado::adStateClosed) connection_->Close();
  } catch (const _com_error& e) {
    wLogConnectionErrors(connection_, 2, kEventDbComError, e, kWhere, nullptr);
    result = false;
  } catch (...) {
    wLogDBError(2, kEventDbComError, 0, kWhere, nullptr);
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
    command->PutCommandText(_bstr_t(validationQuery_.c_str()));
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

std::string ConnectionItem::SuppressPassword(const std::string& connectionString) {
  std::string result;
  result.reserve(connectionString.size());
  const std::size_t n = connectionString.size();
  std::size_t pos = 0;
  while (pos < n) {
    // One pair: keyword up to '=', value up to the ';' that ends the pair.
    const std::size_t equals = connectionString.find('=', pos);
    const std::size_t semicolon = connectionString.find(';', pos);
    if (equals == std::string::npos || (semicolon != std::string::npos && semicolon < equals)) {
      const std::size_t end = semicolon == std::string::npos ? n : semicolon + 1;
      result.append(connectionString, pos, end - pos);
      pos = end;
      continue;
    }
    std::size_t first = pos;
    std::size_t last = equals;
    while (first < last && IsBlank(connectionString[first])) ++first;
    while (last > first && IsBlank(connectionString[last - 1])) --last;
    const std::string keyword = Lower(connectionString.substr(first, last - first));
    const bool secret = keyword == "pwd" || keyword == "password";

    // The value's end: a quoted value runs to its closing quote (doubled
    // quotes stand for one) and may hold ';'. A password may also be braced
    // as the ODBC form has it ("{...}", "}}" for '}').
    std::size_t v = equals + 1;
    while (v < n && IsBlank(connectionString[v])) ++v;
    std::size_t end = n;
    const char open = v < n ? connectionString[v] : '\0';
    if (open == '"' || open == '\'' || (secret && open == '{')) {
      const char quote = open == '{' ? '}' : open;
      std::size_t q = v + 1;
      while (q < n) {
        if (connectionString[q] == quote) {
          if (q + 1 < n && connectionString[q + 1] == quote) {
            q += 2;
            continue;
          }
          break;
        }
        ++q;
      }
      // An unterminated quote: a password runs to the end of the string;
      // any other value is read unquoted, so the pairs after it are still
      // looked at.
      const std::size_t from = q < n ? q : (secret ? n : v);
      const std::size_t after = from < n ? connectionString.find(';', from) : std::string::npos;
      end = after == std::string::npos ? n : after;
    } else {
      const std::size_t after = connectionString.find(';', v);
      end = after == std::string::npos ? n : after;
    }
    result.append(connectionString, pos, equals + 1 - pos);
    if (!secret) result.append(connectionString, equals + 1, end - equals - 1);
    if (end < n) result.push_back(';');
    pos = end < n ? end + 1 : n;
  }
  return result;
}
