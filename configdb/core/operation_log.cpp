#include "configdb/core/operation_log.h"

#include <string>

#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/string_conversion.h"
#include "platform/win32/codepage.h"

namespace {

const wchar_t* OrEmpty(const wchar_t* text) { return text != nullptr ? text : L""; }

}  // namespace

void LogOperationComError(const char* name, const _com_error& error, const wchar_t* sql) {
  const std::wstring wideName = ToWideString(name != nullptr ? name : "", CP_ACP);
  const _bstr_t source = error.Source();
  const _bstr_t description = error.Description();
  LogEventW(2, kEventOperationComError, LoadResStringW(20640), wideName.c_str(), static_cast<unsigned>(error.Error()),
            OrEmpty(error.ErrorMessage()), OrEmpty(source), OrEmpty(description), OrEmpty(sql));
}

void LogOperationException(const char* name) {
  LogEvent(2, kEventUnexpectedException, LoadResString(20061), name != nullptr ? name : "");
}

bool PrepareCommand(const char* name, ConnectionHolder& holder, const wchar_t* sql, ado::_CommandPtr& command) {
  ado::RegisterAdoClasses();
  const HRESULT hr = command.CreateInstance(ado::CLSID_Command, nullptr, 0x17);
  if (FAILED(hr)) {
    LogEvent(2, kEventCommandNotCreated, LoadResString(20656), name, static_cast<unsigned>(hr));
    return false;
  }
  command->PutRefActiveConnection(holder->GetConnection());
  command->PutCommandText(_bstr_t(sql));
  command->PutCommandType(ado::adCmdText);
  return true;
}

void AppendParameter(ado::_CommandPtr& command, ado::DataTypeEnum type, LONG size, const _variant_t& value) {
  command->GetParameters()->Append(command->CreateParameter(_bstr_t(L""), type, ado::adParamInput, size, value));
}
