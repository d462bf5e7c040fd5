// The server configuration row: ServerConfig joined with the site's
// GlobalSettings row, read into the server members by name (Open) or by Id.
#include <algorithm>

#include "configdb/core/column_values.h"
#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "configdb/servers/server_sql.h"
#include "db/ado_error.h"
#include "diagnostics/log.h"
#include "foundation/string_conversion.h"
#include "platform/win32/codepage.h"

namespace {

constexpr unsigned kEventServerRowFailed = 0xAFFF61A8u;  // message 25000
constexpr int kMaxPrePopulationDays = 30;
constexpr int kMaxPrePopulationMessages = 3000;

// Empties `buffer`, then copies the value's bytes into it.
void AssignBytes(ByteBuffer& buffer, const VARIANT& value) {
  buffer.SetSize(0);
  const std::uint8_t* data = nullptr;
  std::uint32_t count = 0;
  if (VariantBytes(value, &data, &count) && count != 0) {
    buffer.Write(data, static_cast<int>(count));
    buffer.Seek(0, 0);
  }
}

}  // namespace

bool PMDatabaseSQLImp::LoadServerConfig(int serverId) {
  return ReadServerConfigRow("PMDatabaseSQLImp::LoadServerConfig", serverId == 0, serverId);
}

bool PMDatabaseSQLImp::ReloadServerConfig() {
  return ReadServerConfigRow("PMDatabaseSQLImp::ReloadServerConfig", false, serverConfigId_);
}

bool PMDatabaseSQLImp::ReadServerConfigRow(const char* name, bool byName, int serverId) {
  // ReloadServerConfig is the interface's re-read: it logs as the object's
  // other operations do and never raises the filter event.
  const bool reload = std::string_view(name) == "PMDatabaseSQLImp::ReloadServerConfig";
  const wchar_t* sql = byName ? kServerConfigByName : kServerConfigById;
  const std::wstring wideName = ToWideString(name, CP_ACP);
  ado::_CommandPtr command;
  int field = 0;
  bool result = false;
  bool filterChanged = false;
  try {
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    if (!PrepareCommand(name, holder, sql, command)) return false;
    if (byName) {
      std::wstring serviceName;
      {
        std::shared_lock<std::shared_mutex> reader(serverLock_);
        serviceName = ToWideString(server_.ServiceName, CP_ACP);
      }
      AppendParameter(command, ado::adVarWChar, static_cast<LONG>(serviceName.size() + 1),
                      _variant_t(serviceName.c_str()));
    } else {
      AppendParameter(command, ado::adInteger, 0, _variant_t(static_cast<INT>(serverConfigId_)));
    }
    ado::_RecordsetPtr rows;
    executeQuery(name, rows, command);
    if (!rows) _com_issue_error(E_POINTER);
    if (!rows->GetEndOfFile()) {
      const ado::FieldsPtr fields = rows->GetFields();
      std::unique_lock<std::shared_mutex> writer(serverLock_);
      ServerConfigValues& s = server_;
      // Reads column `number` when its field holds a value.
      _variant_t value;
      ado::FieldPtr current;
      auto has = [&](int number) {
        field = number;
        current = fields->GetItem(_variant_t(static_cast<INT>(number)));
        if (current->GetActualSize() <= 0) return false;
        value = current->GetValue();
        return true;
      };
      if (has(0) && byName) serverConfigId_ = VariantInt(value);
      if (has(1)) s.ServiceName = VariantNarrow(value);
      if (has(2)) s.ServerDN = VariantNarrow(value);
      if (has(3)) s.MachineName = VariantNarrow(value);
      if (has(4)) s.MailServerName = VariantNarrow(value);
      if (has(5)) s.LinkStatus = VariantInt(value);
      if (has(6)) s.SRPHostName = VariantNarrow(value);
      if (has(7)) s.SRPID = VariantNarrow(value);
      if (has(8)) {
        const ado::DataTypeEnum type = current->GetType();
        if (type == ado::adBinary || type == ado::adVarBinary || type == ado::adLongVarBinary) {
          AssignBytes(s.SRPKey, value);
        }
      }
      if (has(9)) s.ExternalServicesPort = VariantInt(value);
      if (has(10)) s.AdminAcctName = VariantNarrow(value);
      if (has(11)) s.ExternalServices = VariantInt(value);
      field = 12;  // the repeated ExternalServicesPort: not used
      if (has(13)) {
        const zev::ZEVString filter(VariantWide(value).c_str());
        if (filter.Compare(s.GlobalFilter) != 0) {
          s.GlobalFilter = filter;
          filterChanged = true;
        }
      }
      if (has(14)) s.RPCEndPoint = VariantNarrow(value);
      s.HRT.clear();
      if (has(15)) s.HRT = VariantNarrow(value);
      if (has(16)) {
        s.DisclaimerText = VariantNarrow(value);
        s.DisclaimerTextW = VariantWide(value);
      } else {
        s.DisclaimerText.clear();
        s.DisclaimerTextW.clear();
      }
      s.AutoBCCName.clear();
      if (has(17)) s.AutoBCCName = VariantNarrow(value);
      s.AutoBCCAddr.clear();
      if (has(18)) s.AutoBCCAddr = VariantNarrow(value);
      if (has(19)) s.VEXVersion = VariantNarrow(value);
      if (has(20)) s.EnableSMIME = VariantInt(value);
      if (has(21)) AssignBytes(s.PeerToPeerKeyData, value);
      if (has(22)) s.OTAFMSupport = VariantInt(value);
      if (has(23)) s.OTAFMEnable = VariantInt(value);
      if (has(24)) AssignBytes(s.ServerLTKeyPair, value);
      if (has(25)) s.SendHeadersOnly = VariantInt(value);
      int days = 0;
      if (has(26)) days = VariantInt(value);
      s.PrePopulationDays = std::min(days, kMaxPrePopulationDays);
      int messages = 0;
      if (has(27)) messages = VariantInt(value);
      s.PrePopulationMessage = std::min(messages, kMaxPrePopulationMessages);
      if (has(28)) s.MigrationComplete = VariantInt(value) != 0;
      if (has(29)) s.InternalQIPPPort = VariantInt(value);
      if (has(30)) s.PolicyResendTimeout = VariantInt(value);
      if (has(31)) s.EnabledEncryptionAlgs = static_cast<std::uint8_t>(VariantInt(value) & 0xFF);
      if (has(32)) s.OTAFMHardDeleteEnabled = VariantInt(value) != 0;
      if (has(33)) s.MessageStateDbSize = VariantInt(value);
      if (has(34)) s.MaxAttachUploadSize = VariantInt(value);
      if (has(35)) s.MaxAttachTotalUploadSize = VariantInt(value);
      if (has(36)) {
        s.DisclaimerTextPrepended = VariantNarrow(value);
        s.DisclaimerTextPrependedW = VariantWide(value);
      } else {
        s.DisclaimerTextPrepended.clear();
        s.DisclaimerTextPrependedW.clear();
      }
      if (has(37)) {
        const int rule = VariantInt(value);
        s.DisclaimerTextRuleLow = rule & 0xFF;
        s.DisclaimerTextRuleHigh = (rule >> 8) & 0xFF;
      } else {
        s.DisclaimerTextRuleLow = 0;
        s.DisclaimerTextRuleHigh = 0;
      }
      if (has(38)) s.MaxAttachDownloadSize = VariantInt(value);
      if (has(39)) AssignBytes(s.GlobalFilterBin, value);
      if (has(40)) s.RichContentEnabled = VariantInt(value) != 0;
      if (has(41)) s.RichContentInlineEnabled = VariantInt(value) != 0;
      if (has(42)) s.RemoteSearchEnabled = VariantInt(value) != 0;
      if (has(43)) s.FreeBusyEnabled = VariantInt(value) != 0;
      if (has(44)) s.RemoteSearchMaxNumOfResults = VariantInt(value);
      result = true;
    }
    closeRecordSet(rows);
  } catch (const _com_error& error) {
    if (reload) {
      LogOperationComError(name, error, sql);
    } else {
      wLogRecordsetComError(2, kEventServerRowFailed, error, wideName.c_str(), sql, command);
    }
    result = false;
  } catch (...) {
    if (reload) {
      wLogDBError(2, kEventUnexpectedException, 0, wideName.c_str(), nullptr);
    } else {
      wLogDBError(2, kEventServerRowFailed, 0, wideName.c_str(), sql);
      LogMessage(2, "Failed server Id: %d, at the field #%d", serverId, field);
    }
    result = false;
  }
  // The listener hears of a new global filter after the load, with no lock
  // held; the re-read of the interface never tells it.
  if (filterChanged && !reload && changeListener_ != nullptr) changeListener_->OnServerSettingChanged(8);
  return result;
}
