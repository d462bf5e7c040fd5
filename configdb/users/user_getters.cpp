// The read side of a cached user: the getters and Check operations that
// answer from the user's cached record, the few operations that change only
// the cache, the per-user event flags, InitiateUserDelete, Seek (the walk
// over the cached users, in the order of their user ids) and PagerDump.
//
// Every operation takes the user lock around its look-up and copy and
// releases it before it calls the change listener or the database.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "configdb/core/operation_log.h"
#include "configdb/core/pm_database_sql_imp.h"
#include "db/vexdb_user.h"
#include "device/pager.h"
#include "foundation/device_pin.h"
#include "foundation/string_conversion.h"
#include "foundation/string_util.h"
#include "platform/win32/codepage.h"

namespace {

// The first size of a dump text; it grows when the user's lines need more.
constexpr std::size_t kDumpBufferBytes = 1024;

// Runs `read` on the record that `find` gives, under `lock`: false when
// there is none, or when `read` throws (logged under `name`).
template <typename Find, typename Read>
bool WithRecord(const char* name, CriticalSection& lock, Find find, Read read) {
  try {
    ScopedLock users(&lock);
    PagerRecord* record = find();
    return record != nullptr && read(*record);
  } catch (...) {
    LogOperationException(name);
    return false;
  }
}

// The same for a Check operation: -1 when there is no record or on an
// exception, else what `check` says (1 equal, 0 different).
template <typename Find, typename Check>
int CheckRecord(const char* name, CriticalSection& lock, Find find, Check check) {
  try {
    ScopedLock users(&lock);
    PagerRecord* record = find();
    return record != nullptr ? (check(*record) ? 1 : 0) : -1;
  } catch (...) {
    LogOperationException(name);
    return -1;
  }
}

// The record of the pager's user id, found in the user-id map.
PagerRecord* RecordOfUser(const std::map<int, PagerRecord*>& records, Pager* pager) {
  if (pager == nullptr) return nullptr;
  const auto found = records.find(pager->GetUserId());
  return found != records.end() ? found->second : nullptr;
}

// Copies at most size - 1 characters of `value` into `buffer` and ends it;
// a null value leaves the buffer as it was. False for a null buffer or a
// size below 1.
template <typename Char>
bool CopyText(const Char* value, Char* buffer, int size) {
  if (buffer == nullptr || size < 1) return false;
  if (value == nullptr) return true;
  std::size_t length = 0;
  while (value[length] != Char() && length + 1 < static_cast<std::size_t>(size)) ++length;
  std::copy(value, value + length, buffer);
  buffer[length] = Char();
  return true;
}

// The reader of a narrow or wide text field of the record, copying it out.
template <typename Char>
auto TextReader(void (PagerRecord::*get)(Char**) const, Char* buffer, int size) {
  return [=](PagerRecord& record) {
    Char* value = nullptr;
    (record.*get)(&value);
    return CopyText<Char>(value, buffer, size);
  };
}

template <typename T>
bool CopyValue(T value, T* out) {
  if (out == nullptr) return false;
  *out = value;
  return true;
}

// A blob size: the byte count when there are bytes; an empty blob leaves
// the output as it was.
bool CopySize(unsigned size, int* out) {
  if (out == nullptr) return false;
  if (size != 0) *out = static_cast<int>(size);
  return true;
}

// The readers of the policy and peer-to-peer blobs.
using BlobGetter = void (PagerRecord::*)(const std::uint8_t**, unsigned*) const;

// The blob's byte count, as CopySize gives it.
auto BlobSizeReader(BlobGetter get, int* size) {
  return [=](PagerRecord& record) {
    const std::uint8_t* bytes = nullptr;
    unsigned count = 0;
    (record.*get)(&bytes, &count);
    return CopySize(count, size);
  };
}

// The rule of the policy and peer-to-peer blobs: as many bytes as fit.
bool CopyBlobPart(const std::uint8_t* bytes, unsigned size, void* buffer, std::uint32_t* length) {
  if (buffer == nullptr || length == nullptr || *length == 0) return false;
  const unsigned count = std::min<unsigned>(size, *length);
  if (count != 0) std::memcpy(buffer, bytes, count);
  *length = count;
  return true;
}

auto BlobPartReader(BlobGetter get, void* buffer, std::uint32_t* length) {
  return [=](PagerRecord& record) {
    const std::uint8_t* bytes = nullptr;
    unsigned count = 0;
    (record.*get)(&bytes, &count);
    return CopyBlobPart(bytes, count, buffer, length);
  };
}

// The rule of the capabilities and acknowledgement blobs: all or nothing.
bool CopyBlobWhole(const std::uint8_t* bytes, unsigned size, void* buffer, std::uint32_t* length) {
  if (buffer == nullptr || length == nullptr || *length == 0 || *length < size) return false;
  if (size != 0) std::memcpy(buffer, bytes, size);
  *length = size;
  return true;
}

bool IsActive(const PagerRecord* record) { return record != nullptr && record->GetDBStatus() != 0; }

const char* NetworkName(int deviceType) {
  switch (deviceType) {
    case 1:
      return "Mobitex";
    case 2:
      return "DataTAC";
    case 3:
      return "GPRS";
    case 4:
      return "CDMA";
    case 5:
      return "iDEN";
    case 6:
      return "WiFi";
    case 7:
      return "3G";
    default:
      return "Unknown";
  }
}

// The dump lines of one user.
std::string DumpLines(PagerRecord& record) {
  std::string text;
  wchar_t* displayName = nullptr;
  record.GetDisplayName(&displayName);
  if (displayName != nullptr) {
    // A name the console's code page cannot show is dumped with '?' in
    // place of the characters it lacks, rather than not at all.
    const std::wstring shown = ShowableInCodePage(displayName, CP_ACP);
    AppendFormat(text, "\tUserName: %S\n", shown.c_str());
  }
  char* value = nullptr;
  record.GetMailboxDN(&value);
  if (value != nullptr) AppendFormat(text, "\tMailboxDN: %s\n", value);
  record.GetServerDN(&value);
  if (value != nullptr) AppendFormat(text, "\tServerDN: %s\n", value);
  const unsigned pin = record.GetPINNumber();
  if (pin != 0) {
    char pinText[20];
    FormatPIN(pin, pinText, sizeof pinText);
    AppendFormat(text, "\tDevice Type:%s <%s>\n", NetworkName(record.GetDeviceType()), pinText);
  }
  text += record.GetRedirectionState() == 1 ? "\tRedirection Enabled\n" : "\tRedirection Disabled\n";
  text += record.GetExtServicesState() == 1 ? "\tExternal Services Enabled\n" : "\tExternal Services Disabled\n";
  record.GetServiceName(&value);
  if (value != nullptr && *value != '\0') AppendFormat(text, "\tService Name: %s\n", value);
  record.GetPendingServiceName(&value);
  if (value != nullptr && *value != '\0') AppendFormat(text, "\tPending Service Name: %s\n", value);
  return text;
}

}  // namespace

bool PMDatabaseSQLImp::Seek(int mode, Pager** pager, int value, const char* text) {
  if (mode < 1 || mode > 6 || pager == nullptr) return false;
  try {
    ScopedLock users(&userLock_);
    const auto found = [&](std::map<int, PagerRecord*>::const_iterator entry) {
      *pager = entry != userRecords_.end() && entry->second != nullptr ? entry->second->GetPagerImp() : nullptr;
      return true;
    };
    const auto firstActiveFrom = [&](std::map<int, PagerRecord*>::const_iterator entry) {
      while (entry != userRecords_.end() && entry->second != nullptr && !IsActive(entry->second)) ++entry;
      return found(entry);
    };
    switch (mode) {
      case 1:
        return firstActiveFrom(userRecords_.begin());
      case 2:
      case 3: {
        if (mode == 2 && userRecords_.empty()) return found(userRecords_.end());
        const PagerRecord* current = FindRecord(*pager);
        if (current == nullptr) return false;
        if (mode == 2) return firstActiveFrom(userRecords_.upper_bound(current->GetUserId()));
        auto entry = userRecords_.lower_bound(current->GetUserId());
        while (entry != userRecords_.begin()) {
          --entry;
          if (IsActive(entry->second)) return found(entry);
        }
        return found(userRecords_.end());
      }
      case 4:
        return found(std::find_if(userRecords_.begin(), userRecords_.end(), [&](const auto& entry) {
          return IsActive(entry.second) && entry.second->GetPINNumber() == static_cast<unsigned>(value);
        }));
      case 5:
        if (text == nullptr) return false;
        return found(std::find_if(userRecords_.begin(), userRecords_.end(), [&](const auto& entry) {
          char* mailboxDN = nullptr;
          if (IsActive(entry.second)) entry.second->GetMailboxDN(&mailboxDN);
          return mailboxDN != nullptr && strcasecmp(mailboxDN, text) == 0;
        }));
      default:
        // Records carry no tag of their own: every record's tag is 0.
        return found(value == 0 ? userRecords_.begin() : userRecords_.end());
    }
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::Seek");
    return false;
  }
}

bool PMDatabaseSQLImp::PagerDump(Pager* pager, char** text, int* length) {
  if (text == nullptr || length == nullptr || *length < 0) return false;
  *text = static_cast<char*>(std::calloc(kDumpBufferBytes, 1));
  if (*text == nullptr) return false;
  try {
    std::string lines;
    {
      ScopedLock users(&userLock_);
      PagerRecord* record = FindRecord(pager);
      if (record == nullptr) return false;
      lines = DumpLines(*record);
    }
    const std::size_t offset = static_cast<std::size_t>(*length);
    const std::size_t needed = offset + lines.size() + 1;
    if (needed > kDumpBufferBytes) {
      char* grown = static_cast<char*>(std::realloc(*text, needed));
      if (grown == nullptr) return true;  // the empty text is handed out
      std::memset(grown + kDumpBufferBytes, 0, needed - kDumpBufferBytes);
      *text = grown;
    }
    std::memcpy(*text + offset, lines.c_str(), lines.size() + 1);
    *length += static_cast<int>(lines.size());
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::PagerDump");
  }
  return true;
}

bool PMDatabaseSQLImp::SetPagerDBStatus(Pager* pager, std::uint8_t status) {
  return WithRecord("PMDatabaseImp::SetPagerDBStatus", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) {
                      record.SetDBStatus(status);
                      return true;
                    });
}

bool PMDatabaseSQLImp::GetUserId(Pager* pager, int* userId) {
  return WithRecord("PMDatabaseSQLImp::GetUserId", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetUserId(), userId) && *userId != 0; });
}

bool PMDatabaseSQLImp::GetServerConfigId(Pager* pager, int* serverConfigId) {
  return WithRecord("PMDatabaseSQLImp::GetServerConfigId", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetServerConfigId(), serverConfigId); });
}

bool PMDatabaseSQLImp::GetPendingServerConfigId(Pager* pager, int* serverConfigId) {
  return WithRecord("PMDatabaseSQLImp::GetPendingServerConfigId", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetPendingServerConfigId(), serverConfigId); });
}

bool PMDatabaseSQLImp::GetDisplayNameW(Pager* pager, wchar_t* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetDisplayNameW", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetDisplayName, buffer, size));
}

bool PMDatabaseSQLImp::GetServerDN(Pager* pager, char* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetServerDN", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetServerDN, buffer, size));
}

bool PMDatabaseSQLImp::GetMailboxDN(Pager* pager, char* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetMailboxDN", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetMailboxDN, buffer, size));
}

bool PMDatabaseSQLImp::GetHomeMDB(Pager* pager, char* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetHomeMDB", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetHomeMDB, buffer, size));
}

bool PMDatabaseSQLImp::SetHomeMDB(Pager* pager, const char* homeMDB) {
  return WithRecord("PMDatabaseSQLImp::SetHomeMDB", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return record.SetHomeMDB(homeMDB); });
}

bool PMDatabaseSQLImp::GetRedirectionState(Pager* pager, std::uint8_t* state) {
  return WithRecord("PMDatabaseSQLImp::GetRedirectionState", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetRedirectionState(), state); });
}

bool PMDatabaseSQLImp::GetExternalServicesState(Pager* pager, std::uint8_t* state) {
  return WithRecord("PMDatabaseSQLImp::GetExternalServicesState", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetExtServicesState(), state); });
}

bool PMDatabaseSQLImp::GetCreationTime(Pager* pager, std::int64_t* time) {
  return WithRecord("PMDatabaseSQLImp::GetCreationTime", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetCreationTime(), time); });
}

bool PMDatabaseSQLImp::GetCalendarEnableState(Pager* pager, int* state) {
  return WithRecord("PMDatabaseSQLImp::GetCalendarEnableState", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetCalendarEnableState(), state); });
}

bool PMDatabaseSQLImp::GetServiceName(Pager* pager, char* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetServiceName", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetServiceName, buffer, size));
}

bool PMDatabaseSQLImp::GetPendingServiceName(Pager* pager, char* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetPendingServiceName", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetPendingServiceName, buffer, size));
}

bool PMDatabaseSQLImp::GetPolicyName(Pager* pager, char* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetPolicyName", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetPolicyName, buffer, size));
}

bool PMDatabaseSQLImp::GetITPolicy2Id(Pager* pager, int* policyId) {
  return WithRecord("PMDatabaseSQLImp::GetITPolicy2Id", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetITPolicy2Id(), policyId); });
}

bool PMDatabaseSQLImp::GetPolicyStatus(Pager* pager, int* status) {
  return WithRecord("PMDatabaseSQLImp::GetPolicyStatus", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetITPolicyStatus(), status); });
}

bool PMDatabaseSQLImp::GetPolicyTimeSent(Pager* pager, std::int64_t* time) {
  return WithRecord("PMDatabaseSQLImp::GetPolicyTimeSent", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetITPolicyTimeSent(), time); });
}

bool PMDatabaseSQLImp::GetPolicyTimeReceived(Pager* pager, std::int64_t* time) {
  return WithRecord("PMDatabaseSQLImp::GetPolicyTimeReceived", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetITPolicyTimeReceived(), time); });
}

bool PMDatabaseSQLImp::GetPolicyBlobSize(Pager* pager, int* size) {
  return WithRecord("PMDatabaseSQLImp::GetPolicyBlobSize", userLock_, [&] { return FindRecord(pager); },
                    BlobSizeReader(&PagerRecord::GetPolicyBlob, size));
}

bool PMDatabaseSQLImp::GetPolicyBlob(Pager* pager, void* buffer, std::uint32_t* size) {
  return WithRecord("PMDatabaseSQLImp::GetPolicyBlob", userLock_, [&] { return FindRecord(pager); },
                    BlobPartReader(&PagerRecord::GetPolicyBlob, buffer, size));
}

bool PMDatabaseSQLImp::SetPolicyBlob(Pager* pager, const void* data, int length) {
  if (data == nullptr || length <= 0) return false;
  return WithRecord("PMDatabaseSQLImp::SetPolicyBlob", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return record.SetPolicyBlob(data, length); });
}

bool PMDatabaseSQLImp::GetDeviceCapabilitiesSize(Pager* pager, int* size) {
  return WithRecord("PMDatabaseSQLImp::GetDeviceCapabilitiesSize", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopySize(record.GetDeviceCapabilitiesSize(), size); });
}

bool PMDatabaseSQLImp::GetDeviceCapabilitiesBlob(Pager* pager, void* buffer, std::uint32_t* size) {
  return WithRecord("PMDatabaseSQLImp::GetDeviceCapabilitiesBlob", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) {
                      return CopyBlobWhole(record.GetDeviceCapabilities(), record.GetDeviceCapabilitiesSize(), buffer,
                                           size);
                    });
}

int PMDatabaseSQLImp::CheckDeviceCapabilitiesBlob(Pager* pager, const void* data, int length) {
  return CheckRecord("PMDatabaseSQLImp::CheckDeviceCapabilitiesBlob", userLock_, [&] { return FindRecord(pager); },
                     [&](PagerRecord& record) {
                       return length >= 0 && record.IsEqualDeviceCapabilities(data, static_cast<unsigned>(length));
                     });
}

bool PMDatabaseSQLImp::GetPeerToPeerKeyBlobSize(Pager* pager, int* size) {
  return WithRecord("PMDatabaseSQLImp::GetPeerToPeerKeyBlobSize", userLock_, [&] { return FindRecord(pager); },
                    BlobSizeReader(&PagerRecord::GetPeerToPeerKeyBlob, size));
}

bool PMDatabaseSQLImp::GetPeerToPeerKeyBlob(Pager* pager, void* buffer, std::uint32_t* size) {
  return WithRecord("PMDatabaseSQLImp::GetPeerToPeerKeyBlob", userLock_, [&] { return FindRecord(pager); },
                    BlobPartReader(&PagerRecord::GetPeerToPeerKeyBlob, buffer, size));
}

int PMDatabaseSQLImp::CheckActivationTime(Pager* pager, std::int64_t time) {
  return CheckRecord("PMDatabaseSQLImp::CheckActivationTime", userLock_,
                     [&] { return RecordOfUser(userRecords_, pager); },
                     [&](PagerRecord& record) {
                       std::int64_t cached = 0;
                       record.GetActivationTime(&cached);
                       return cached == time;
                     });
}

int PMDatabaseSQLImp::CheckRoutingInfo(Pager* pager, const char* routingInfo) {
  return CheckRecord("PMDatabaseSQLImp::CheckRoutingInfo", userLock_, [&] { return RecordOfUser(userRecords_, pager); },
                     [&](PagerRecord& record) {
                       char* cached = nullptr;
                       record.GetRoutingInfo(&cached);
                       return cached != nullptr && routingInfo != nullptr && std::strcmp(cached, routingInfo) == 0;
                     });
}

bool PMDatabaseSQLImp::GetOverrideEmailAddress(Pager* pager, char* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetOverrideEmailAddress", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetOverrideSMTPAddr, buffer, size));
}

bool PMDatabaseSQLImp::GetEmailAddress(Pager* pager, char* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetEmailAddress", userLock_, [&] { return FindRecord(pager); },
                    TextReader(&PagerRecord::GetMailboxSMTPAddr, buffer, size));
}

bool PMDatabaseSQLImp::GetRichContentEnabled(Pager* pager, std::uint8_t* enabled) {
  return WithRecord("PMDatabaseSQLImp::GetRichContentEnabled", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetRichContentEnabled(), enabled); });
}

bool PMDatabaseSQLImp::GetInlineImagesEnabled(Pager* pager, std::uint8_t* enabled) {
  return WithRecord("PMDatabaseSQLImp::GetInlineImagesEnabled", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetRichContentInlineEnabled(), enabled); });
}

bool PMDatabaseSQLImp::GetServiceBookName(Pager* pager, wchar_t* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetServiceBookName", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyText<wchar_t>(record.GetServiceBookName(), buffer, size); });
}

int PMDatabaseSQLImp::CheckServiceBookName(Pager* pager, const wchar_t* name) {
  return CheckRecord("PMDatabaseSQLImp::CheckServiceBookName", userLock_, [&] { return FindRecord(pager); },
                     [&](PagerRecord& record) {
                       const wchar_t* cached = record.GetServiceBookName();
                       const bool cachedEmpty = *cached == L'\0';
                       const bool givenEmpty = name == nullptr || *name == L'\0';
                       if (cachedEmpty || givenEmpty) return cachedEmpty && givenEmpty;
                       return wcscasecmp(cached, name) == 0;
                     });
}

bool PMDatabaseSQLImp::GetDisclaimerTextSize(Pager* pager, int* size) {
  return WithRecord("PMDatabaseSQLImp::GetDisclaimerTextSize", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(record.GetDisclaimerText().GetLength() + 1, size); });
}

bool PMDatabaseSQLImp::GetDisclaimerText(Pager* pager, wchar_t* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetDisclaimerText", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) {
                      const zev::ZEVString text = record.GetDisclaimerText();
                      return CopyText<wchar_t>(text.GetWide(), buffer, size);
                    });
}

bool PMDatabaseSQLImp::GetPrependDisclaimerTextSize(Pager* pager, int* size) {
  return WithRecord("PMDatabaseSQLImp::GetPrependDisclaimerTextSize", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) {
                      return CopyValue(record.GetDisclaimerTextPrepended().GetLength() + 1, size);
                    });
}

bool PMDatabaseSQLImp::GetPrependDisclaimerText(Pager* pager, wchar_t* buffer, int size) {
  return WithRecord("PMDatabaseSQLImp::GetPrependDisclaimerText", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) {
                      const zev::ZEVString text = record.GetDisclaimerTextPrepended();
                      return CopyText<wchar_t>(text.GetWide(), buffer, size);
                    });
}

int PMDatabaseSQLImp::CheckAutoSignature(Pager* pager, const wchar_t* signature) {
  return CheckRecord("PMDatabaseSQLImp::CheckAutoSignature", userLock_, [&] { return FindRecord(pager); },
                     [&](PagerRecord& record) {
                       const zev::ZEVString cached = record.GetAutoSignature();
                       const wchar_t* text = cached.GetWide();
                       return text != nullptr && *text != L'\0' && signature != nullptr && *signature != L'\0' &&
                              std::wcscmp(text, signature) == 0;
                     });
}

bool PMDatabaseSQLImp::GetUserConfigRecord(Pager* pager, PagerRecord* out) {
  if (pager == nullptr || out == nullptr) return false;
  return WithRecord("PMDatabaseSQLImp::GetUserConfigRecord", userLock_,
                    [&] { return RecordOfUser(userRecords_, pager); },
                    [&](PagerRecord& record) {
                      out->CopyFrom(&record);
                      out->CopyFlagsFrom(record);
                      return true;
                    });
}

bool PMDatabaseSQLImp::GetDataSourceIdSize(Pager* pager, int* size) {
  return WithRecord("PMDatabaseSQLImp::GetDataSourceIdSize", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopySize(record.GetDataSourceIdSize(), size); });
}

bool PMDatabaseSQLImp::GetDataSourceId(Pager* pager, void* buffer, std::uint32_t* size) {
  return WithRecord("PMDatabaseSQLImp::GetDataSourceId", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) {
                      if (buffer == nullptr || size == nullptr || *size == 0) return false;
                      unsigned length = *size;
                      record.CopyOutDataSourceId(buffer, &length);
                      *size = length;
                      return true;
                    });
}

int PMDatabaseSQLImp::CheckDataSourceId(Pager* pager, const void* data, int length) {
  // The whole cached value is compared, whatever its size.
  return CheckRecord("CheckDataSourceId", userLock_, [&] { return FindRecord(pager); },
                     [&](PagerRecord& record) {
                       return length >= 0 && record.IsEqualDataSourceId(data, static_cast<unsigned>(length));
                     });
}

bool PMDatabaseSQLImp::GetAckDataBlobSize(Pager* pager, int* size) {
  return WithRecord("PMDatabaseSQLImp::GetAckDataBlobSize", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) { return CopyValue(static_cast<int>(record.GetAckDataSize()), size); });
}

bool PMDatabaseSQLImp::GetAckDataBlob(Pager* pager, void* buffer, std::uint32_t* size) {
  return WithRecord("PMDatabaseSQLImp::GetAckDataBlob", userLock_, [&] { return FindRecord(pager); },
                    [&](PagerRecord& record) {
                      return CopyBlobWhole(record.GetAckData(), record.GetAckDataSize(), buffer, size);
                    });
}

int PMDatabaseSQLImp::CheckAckDataBlob(Pager* pager, const void* data, int length) {
  return CheckRecord("PMDatabaseSQLImp::CheckAckDataBlob", userLock_, [&] { return FindRecord(pager); },
                     [&](PagerRecord& record) {
                       return length >= 0 && record.IsEqualAckData(data, static_cast<unsigned>(length));
                     });
}

bool PMDatabaseSQLImp::InitiateUserDelete(Pager* pager, unsigned mode, int* newStatus) {
  try {
    if (pager == nullptr) return false;
    int serverConfigId = serverConfigId_;
    int userId = pager->GetUserId();
    int status = 0;
    if (!VEXDB_InitiateUserDelete(&serverConfigId, &userId, mode, &status)) return false;
    if (newStatus != nullptr) *newStatus = status;
    // The row takes the new status only from status 1 or 2, and a mode
    // that changes nothing hands out 0: the cached status follows the row.
    ScopedLock users(&userLock_);
    PagerRecord* record = FindRecord(pager);
    if (record != nullptr && status != 0 &&
        (record->GetUserDeleteStatus() == 1 || record->GetUserDeleteStatus() == 2)) {
      record->SetUserDeleteStatus(status);
    }
    return true;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::InitiateUserDelete");
    return false;
  }
}

bool PMDatabaseSQLImp::MarkPagerDeleted(int userId) {
  try {
    Pager* pager = nullptr;
    {
      ScopedLock users(&userLock_);
      const auto found = userRecords_.find(userId);
      if (found == userRecords_.end() || found->second == nullptr || found->second->GetDeletedFlag() != 0) {
        return false;
      }
      found->second->SetDeletedFlag(1);
      pager = found->second->GetPagerImp();
    }
    if (changeListener_ == nullptr) return false;
    changeListener_->OnUserEvent(256, pager);
    return true;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::MarkPagerDeleted");
    return false;
  }
}

bool PMDatabaseSQLImp::MarkPagerChanged(int userId, int value) {
  try {
    Pager* pager = nullptr;
    {
      ScopedLock users(&userLock_);
      const auto found = userRecords_.find(userId);
      if (found == userRecords_.end() || found->second == nullptr || found->second->GetChangedFlag() != 0) {
        return false;
      }
      found->second->SetChangedFlag(1);
      found->second->SetChangeValue(static_cast<std::uint8_t>(value));
      pager = found->second->GetPagerImp();
    }
    if (changeListener_ == nullptr) return false;
    changeListener_->OnUserEvent(2, pager);
    return true;
  } catch (...) {
    LogOperationException("PMDatabaseSQLImp::MarkPagerChanged");
    return false;
  }
}

bool PMDatabaseSQLImp::ClearPagerFlag(int userId) {
  return WithRecord("PMDatabaseSQLImp::ClearPagerFlag", userLock_,
                    [&]() -> PagerRecord* {
                      const auto found = userRecords_.find(userId);
                      return found != userRecords_.end() ? found->second : nullptr;
                    },
                    [&](PagerRecord& record) {
                      record.SetChangedFlag(0);
                      record.SetChangeValue(0);
                      return true;
                    });
}

bool PMDatabaseSQLImp::SetPagerFlag(int userId) {
  return WithRecord("PMDatabaseSQLImp::SetPagerFlag", userLock_,
                    [&]() -> PagerRecord* {
                      const auto found = userRecords_.find(userId);
                      return found != userRecords_.end() ? found->second : nullptr;
                    },
                    [&](PagerRecord& record) {
                      record.SetChangedFlag(1);
                      record.SetChangeValue(0);
                      return true;
                    });
}
