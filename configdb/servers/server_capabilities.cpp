// The server's capabilities: one text per service (ServerCapabilities rows
// of the server), kept under a numeric service id; the service-type map ties
// each service-type name to its id and only grows.
#include <mutex>

#include "configdb/core/column_values.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "configdb/servers/server_sql.h"
#include "diagnostics/log.h"
#include "diagnostics/message_table.h"
#include "foundation/string_conversion.h"
#include "platform/win32/codepage.h"

namespace {

constexpr unsigned kEventCapabilityRefused = 0xAFFF50C5u;  // message 20677

}  // namespace

bool PMDatabaseSQLImp::LoadServerCapabilities() {
  const char* name = "PMDatabaseSQLImp::LoadServerCapabilities";
  try {
    ado::_CommandPtr command;
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    if (!PrepareCommand(name, holder, kSelectServerCapabilities, command)) return false;
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    if (!rows) _com_issue_error(E_POINTER);
    // Read into new maps, put in place only once every row was read.
    std::map<int, CapabilityEntry> capabilities;
    std::map<std::string, int> serviceTypes;
    int lastServiceId;
    {
      std::shared_lock<std::shared_mutex> reader(serverLock_);
      serviceTypes = serviceTypes_;
      lastServiceId = lastServiceId_;
    }
    for (; !rows->GetEndOfFile(); rows->MoveNext()) {
      const ado::FieldsPtr fields = rows->GetFields();
      CapabilityEntry entry;
      const ado::FieldPtr type = fields->GetItem(_variant_t(0));
      if (type->GetActualSize() > 0) entry.serviceType = VariantNarrow(type->GetValue());
      const ado::FieldPtr text = fields->GetItem(_variant_t(1));
      if (text->GetActualSize() > 0) entry.capabilities = VariantWide(text->GetValue());
      const auto known = serviceTypes.find(entry.serviceType);
      if (known != serviceTypes.end()) {
        entry.id = known->second;
      } else {
        entry.id = ++lastServiceId;
        serviceTypes.emplace(entry.serviceType, entry.id);
      }
      capabilities.emplace(entry.id, std::move(entry));
    }
    closeRecordSet(rows);
    std::unique_lock<std::shared_mutex> writer(serverLock_);
    capabilities_.swap(capabilities);
    serviceTypes_.swap(serviceTypes);
    lastServiceId_ = lastServiceId;
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, kSelectServerCapabilities);
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}

bool PMDatabaseSQLImp::SetServerCapabilities(int serviceId, const wchar_t* capabilities) {
  const char* name = "PMDatabaseSQLImp::SetServerCapabilities";
  const std::wstring text = capabilities != nullptr ? capabilities : L"";
  std::string serviceType;
  {
    std::unique_lock<std::shared_mutex> writer(serverLock_);
    for (const auto& [type, id] : serviceTypes_) {
      if (id == serviceId) {
        serviceType = type;
        break;
      }
    }
    if (serviceType.empty()) {
      // A service this object has not met names itself in its text:
      // service="<type>".
      const std::size_t mark = text.find(L"service=\"");
      const std::size_t start = mark == std::wstring::npos ? mark : mark + 9;
      const std::size_t end = start == std::wstring::npos ? start : text.find(L'"', start);
      if (end == std::wstring::npos) return false;
      serviceType = ToNarrowString(text.substr(start, end - start), CP_ACP);
      serviceTypes_.emplace(serviceType, serviceId);
      if (serviceId > lastServiceId_) lastServiceId_ = serviceId;
    }
  }
  try {
    ado::_CommandPtr command;
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    if (!PrepareCommand(name, holder, kServerCapabilitiesSet, command)) return false;
    command->PutCommandType(ado::adCmdStoredProc);
    const std::wstring wideType = ToWideString(serviceType, CP_ACP);
    AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
    AppendParameter(command, ado::adVarWChar, static_cast<LONG>(wideType.size() + 1), _variant_t(wideType.c_str()));
    AppendParameter(command, ado::adVarWChar, static_cast<LONG>(text.size() + 1), _variant_t(text.c_str()));
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    if (!rows || rows->GetState() != ado::adStateOpen || rows->GetEndOfFile()) {
      closeRecordSet(rows);
      return false;
    }
    const ado::FieldPtr answer = rows->GetFields()->GetItem(_variant_t(0));
    const _variant_t value = answer->GetValue();
    const int result = value.vt == VT_NULL || value.vt == VT_EMPTY ? -1 : VariantInt(value);
    closeRecordSet(rows);
    if (result < 0) {
      LogEvent(2, kEventCapabilityRefused, LoadResString(20677), serviceId);
      return false;
    }
    std::unique_lock<std::shared_mutex> writer(serverLock_);
    const auto held = capabilities_.find(serviceId);
    if (held == capabilities_.end()) {
      capabilities_.emplace(serviceId, CapabilityEntry{serviceId, serviceType, text});
    } else if (result == 0 && held->second.capabilities != text) {
      held->second.capabilities = text;
    }
    return true;
  } catch (const _com_error& error) {
    LogOperationComError(name, error, kServerCapabilitiesSet);
  } catch (...) {
    LogOperationException(name);
  }
  return false;
}

bool PMDatabaseSQLImp::HasServerCapability(int serviceType, std::wstring& capabilities) {
  std::shared_lock<std::shared_mutex> reader(serverLock_);
  const auto found = capabilities_.find(serviceType);
  if (found == capabilities_.end()) return false;
  capabilities = found->second.capabilities;
  return true;
}

bool PMDatabaseSQLImp::GetServerCapabilities(std::list<std::wstring>& capabilities) {
  std::shared_lock<std::shared_mutex> reader(serverLock_);
  for (const auto& [id, entry] : capabilities_) capabilities.push_back(entry.capabilities);
  return true;
}
