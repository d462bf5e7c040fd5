// A user's identity columns in UserConfig and in the cached record, kept in
// step: SetDNs (what the address book says about the mailbox now), the
// display name, and the device id pair (device type and PIN).
//
// The user lock guards each look-up and cache change and is never held
// while a statement runs; the cache changes only after the statement's
// runner returned.
#include <strings.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "device/pager.h"
#include "diagnostics/log.h"
#include "foundation/device_pin.h"
#include "foundation/string_conversion.h"
#include "platform/win32/codepage.h"

namespace {

// The bits of the SetDNs change mask.
constexpr std::uint8_t kMailboxDNChanged = 1;
constexpr std::uint8_t kServerDNChanged = 2;
constexpr std::uint8_t kDisplayNameChanged = 4;
constexpr std::uint8_t kHomeMDBChanged = 8;
constexpr std::uint8_t kSmtpAddressChanged = 16;

constexpr char kNoPin[] = "FFFFFFFF";

const wchar_t* OrEmpty(const wchar_t* text) { return text != nullptr ? text : L""; }
const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// A narrow text parameter (ADO type 200); a null text is bound as NULL.
void AppendText(ado::_CommandPtr& command, const char* text) {
  if (text == nullptr) {
    _variant_t null;
    null.vt = VT_NULL;
    AppendParameter(command, ado::adVarChar, 1, null);
    return;
  }
  AppendParameter(command, ado::adVarChar, static_cast<LONG>(std::strlen(text) + 1), _variant_t(text));
}

// A wide text parameter (ADO type 202); a null text is bound as NULL.
void AppendText(ado::_CommandPtr& command, const wchar_t* text) {
  if (text == nullptr) {
    _variant_t null;
    null.vt = VT_NULL;
    AppendParameter(command, ado::adVarWChar, 1, null);
    return;
  }
  AppendParameter(command, ado::adVarWChar, static_cast<LONG>(std::wcslen(text) + 1), _variant_t(text));
}

void AppendInteger(ado::_CommandPtr& command, int value) {
  AppendParameter(command, ado::adInteger, 4, _variant_t(static_cast<INT>(value)));
}

// The change mask of SetDNs against the cached record.
std::uint8_t ChangeMask(const PagerRecord& record, const char* mailboxDN, const char* serverDN,
                        const wchar_t* displayName, const char* homeMDB, const char* smtpAddress) {
  std::uint8_t mask = 0;
  if (!record.CheckMailboxDN(mailboxDN)) mask |= kMailboxDNChanged;
  if (!record.CheckServerDN(serverDN)) mask |= kServerDNChanged;
  if (!record.CheckDisplayName(displayName)) mask |= kDisplayNameChanged;
  if (homeMDB != nullptr && !record.CheckHomeMDB(homeMDB)) mask |= kHomeMDBChanged;
  // A user whose override address equals the stored mailbox address keeps
  // the stored address; without an override address a new one is taken.
  char* override = nullptr;
  char* stored = nullptr;
  record.GetOverrideSMTPAddr(&override);
  record.GetMailboxSMTPAddr(&stored);
  const bool keepsStored = override != nullptr && *override != '\0' && record.CheckOverrideSMTPAddr(stored);
  if (!record.CheckMailboxSMTPAddr(smtpAddress) && !keepsStored) mask |= kSmtpAddressChanged;
  return mask;
}

}  // namespace

bool PMDatabaseSQLImp::SetDNs(Pager* pager, const char* mailboxDN, const char* serverDN, const wchar_t* displayName,
                              const char* homeMDB, const char* smtpAddress, std::uint8_t* changeMask, HRESULT* result,
                              bool sanityCheck, bool* sanityFailed) {
  std::wstring sql = L"update UserConfig set";
  try {
    if (changeMask != nullptr) *changeMask = 0;
    if (result != nullptr) *result = 0;
    if (sanityFailed != nullptr) *sanityFailed = false;
    std::uint8_t mask = 0;
    {
      ScopedLock users(&userLock_);
      const auto found = pagers_.find(pager);
      if (found == pagers_.end() || found->second == nullptr) {
        LogMessageW(4,
                    found == pagers_.end() ? L"PMDatabase::SetDNs(%s) - pager was not found"
                                           : L"PMDatabase::SetDNs(%s) - server pager data was not found",
                    OrEmpty(displayName));
        return false;
      }
      mask = ChangeMask(*found->second, mailboxDN, serverDN, displayName, homeMDB, smtpAddress);
    }
    if (changeMask != nullptr) *changeMask = mask;
    if (sanityCheck && !SanityCheckDNChanges(mask)) {
      LogMessageW(4, L"%s(%s) - Sanity Check failed due to excessive changes being detected",
                  L"PMDatabaseSQLImp::SetDNs", OrEmpty(displayName));
      if (sanityFailed != nullptr) *sanityFailed = true;
      return false;
    }
    if (mask == 0) return true;

    if (mask != kHomeMDBChanged) {
      const char* separator = "";
      const auto clause = [&](const wchar_t* text) {
        sql += *separator != '\0' ? L"," : L"";
        sql += text;
        separator = ",";
      };
      if (mask & kMailboxDNChanged) clause(L" MailboxDN = ?");
      if (mask & kServerDNChanged) clause(L" ServerDN = ?");
      if (mask & kDisplayNameChanged) clause(L" DisplayName = ?");
      if (mask & kSmtpAddressChanged) clause(L" MailboxSMTPAddr = ?");
      sql += L" where Id = ?";

      ConnectionHolder holder;
      if (holder.get() == nullptr) return false;
      ado::_CommandPtr command;
      if (!PrepareCommand("PMDatabaseSQLImp::SetDNs", holder, sql.c_str(), command)) {
        if (result != nullptr) *result = E_FAIL;
        return false;
      }
      if (mask & kMailboxDNChanged) AppendText(command, mailboxDN);
      if (mask & kServerDNChanged) AppendText(command, serverDN);
      if (mask & kDisplayNameChanged) AppendText(command, displayName);
      if (mask & kSmtpAddressChanged) AppendText(command, smtpAddress);
      AppendInteger(command, pager->GetUserId());
      const bool ran = executeStatement("PMDatabaseSQLImp::SetDNs", command, nullptr);
      if (result != nullptr) *result = ran ? 1 : 0;
    }

    ScopedLock users(&userLock_);
    const auto found = pagers_.find(pager);
    if (found == pagers_.end() || found->second == nullptr) {
      LogMessageW(4,
                  found == pagers_.end() ? L"PMDatabase::SetDNs(%s) - could not get pager after update"
                                         : L"PMDatabase::SetDNs(%s) - could not get server pager data after update",
                  OrEmpty(displayName));
      return false;
    }
    PagerRecord& record = *found->second;
    const wchar_t* name = OrEmpty(displayName);
    char* old = nullptr;
    if (mask & kMailboxDNChanged) {
      record.GetMailboxDN(&old);
      LogMessageW(3, L"PMDatabase::SetDNs(%s) - changing MailboxDN from \"%S\" to \"%S\"", name, OrEmpty(old),
                  OrEmpty(mailboxDN));
      record.SetMailboxDN(mailboxDN);
    }
    if (mask & kServerDNChanged) {
      record.GetServerDN(&old);
      LogMessageW(3, L"PMDatabase::SetDNs(%s) - changing ServerDN from \"%S\" to \"%S\"", name, OrEmpty(old),
                  OrEmpty(serverDN));
      record.SetServerDN(serverDN);
    }
    if (mask & kDisplayNameChanged) {
      wchar_t* oldName = nullptr;
      record.GetDisplayName(&oldName);
      LogMessageW(3, L"PMDatabase::SetDNs(%s) - changing display name from \"%s\" to \"%s\"", name,
                  OrEmpty(oldName), name);
      record.SetDisplayName(displayName);
    }
    if (mask & kSmtpAddressChanged) {
      record.GetMailboxSMTPAddr(&old);
      LogMessageW(3, L"PMDatabase::SetDNs(%s) - changing SMTP address from \"%S\" to \"%S\"", name, OrEmpty(old),
                  OrEmpty(smtpAddress));
      record.SetMailboxSMTPAddr(smtpAddress);
    }
    if (mask & kHomeMDBChanged) {
      record.GetHomeMDB(&old);
      LogMessageW(3, L"PMDatabase::SetDNs(%s) - changing HomeMDB from \"%S\" to \"%S\"", name, OrEmpty(old),
                  OrEmpty(homeMDB));
      record.SetHomeMDB(homeMDB);
    }
    return true;
  } catch (const _com_error& error) {
    LogOperationComError("PMDatabaseSQLImp::SetDNs", error, sql.c_str());
    return false;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::SetDNs");
    return false;
  }
}

bool PMDatabaseSQLImp::SetDisplayNameW(Pager* pager, const wchar_t* displayName) {
  const bool named = displayName != nullptr && *displayName != L'\0';
  const wchar_t* sql = named ? L" UPDATE UserConfig SET DisplayName = ? WHERE Id = ? "
                             : L" UPDATE UserConfig SET DisplayName = NULL WHERE Id = ? ";
  try {
    if (pager == nullptr) return false;
    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand("PMDatabaseSQLImp::SetDisplayNameW", holder, sql, command)) return false;
    if (named) AppendText(command, displayName);
    AppendInteger(command, pager->GetUserId());
    executeStatement("PMDatabaseSQLImp::SetDisplayNameW", command, nullptr);
    ScopedLock users(&userLock_);
    if (PagerRecord* record = FindRecord(pager)) record->SetDisplayName(displayName);
    return true;
  } catch (const _com_error& error) {
    LogOperationComError("PMDatabaseSQLImp::SetDisplayNameW", error, sql);
    return false;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::SetDisplayNameW");
    return false;
  }
}

bool PMDatabaseSQLImp::SetDeviceIDCache(Pager* pager, const DeviceIDRecord* ids, int /*unused*/, bool guardUniquePin,
                                        bool* pinTaken) {
  std::wstring sql = L"UPDATE UserConfig SET DeviceType = ?, PIN = ? WHERE Id = ?";
  try {
    if (pager == nullptr || ids == nullptr) return false;
    char pinText[32];
    FormatPIN(ids->PIN, pinText, sizeof pinText);
    DeviceIDRecord cached;
    {
      ScopedLock users(&userLock_);
      if (const PagerRecord* record = FindRecord(pager)) record->GetDeviceIDCache(&cached);
    }
    if ((cached.DeviceType == ids->DeviceType && cached.PIN == ids->PIN) || ids->PIN == 0xFFFFFFFFu ||
        strcasecmp(pinText, kNoPin) == 0) {
      return true;
    }
    // The guard looks for the PIN among the other users: the user's own row
    // may hold it already (a new device type with the same PIN).
    const bool guarded = guardUniquePin && ids->PIN != 0;
    if (guarded) sql += L" AND NOT EXISTS(SELECT * FROM UserConfig WHERE PIN = ? AND Id <> ?)";
    const int userId = pager->GetUserId();
    const std::string narrowSql = ConvertToNarrowString(sql, CP_ACP);
    LogMessage(6, "[%s] %s; DeviceType= %d, PIN=%s, Id=%d", "PMDatabaseSQLImp::SetDeviceIDCache", narrowSql.c_str(),
               ids->DeviceType, pinText, userId);

    ConnectionHolder holder;
    if (holder.get() == nullptr) return false;
    ado::_CommandPtr command;
    if (!PrepareCommand("PMDatabaseSQLImp::SetDeviceIDCache", holder, sql.c_str(), command)) return false;
    AppendInteger(command, ids->DeviceType);
    AppendText(command, pinText);
    AppendInteger(command, userId);
    if (guarded) {
      AppendText(command, pinText);
      AppendInteger(command, userId);
    }
    _variant_t affected;
    executeStatement("PMDatabaseSQLImp::SetDeviceIDCache", command, &affected);
    if (affected.vt == VT_I4 && affected.lVal > 0) {
      const bool pinSet = SetCachedValue(pager, 1, CachedValue(200, pinText, true, "PIN"));
      const bool typeSet = SetCachedValue(pager, 7, CachedValue(3, static_cast<int>(ids->DeviceType), "DeviceType"));
      return pinSet && typeSet;
    }
    if (guardUniquePin && pinTaken != nullptr) {
      // No row changed: when the user's row exists, another user holds the PIN.
      sql = L"SELECT COUNT(*) FROM UserConfig WHERE Id = ?";
      ado::_CommandPtr count;
      if (!PrepareCommand("PMDatabaseSQLImp::SetDeviceIDCache", holder, sql.c_str(), count)) return false;
      AppendInteger(count, userId);
      ado::_RecordsetPtr rows;
      executeQuery("PMDatabaseSQLImp::SetDeviceIDCache", rows, count);
      std::int64_t users = 0;
      if (ReadFirstColumnAsInt64(rows, true, &users) && users > 0) *pinTaken = true;
      closeRecordSet(rows);
    }
    return false;
  } catch (const _com_error& error) {
    LogOperationComError("PMDatabaseSQLImp::SetDeviceIDCache", error, sql.c_str());
    return false;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::SetDeviceIDCache");
    return false;
  }
}

bool PMDatabaseSQLImp::GetDeviceIDCache(Pager* pager, DeviceIDRecord* out, std::uint32_t* size) {
  try {
    if (out == nullptr || size == nullptr || *size < sizeof(DeviceIDRecord)) return false;
    ScopedLock users(&userLock_);
    const PagerRecord* record = FindRecord(pager);
    if (record == nullptr) return false;
    DeviceIDRecord ids;
    record->GetDeviceIDCache(&ids);
    std::memcpy(out, &ids, sizeof ids);
    *size = sizeof(DeviceIDRecord);
    return true;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::GetDeviceIDCache");
    return false;
  }
}

bool PMDatabaseSQLImp::GetDeviceIDCache(Pager* pager, const DeviceIDRecord* ids, bool* changed, char* pinText,
                                        int pinTextSize) {
  try {
    if (ids == nullptr || changed == nullptr) return false;
    *changed = false;
    FormatPIN(ids->PIN, pinText, pinTextSize);
    DeviceIDRecord cached;
    {
      ScopedLock users(&userLock_);
      if (const PagerRecord* record = FindRecord(pager)) record->GetDeviceIDCache(&cached);
    }
    *changed = cached.DeviceType != ids->DeviceType || cached.PIN != ids->PIN;
    return true;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::GetDeviceIDCache");
    return false;
  }
}
