#include "db/odbc_database.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "db/connection_pool.h"
#include "db/db_config.h"
#include "diagnostics/debug_logger.h"
#include "diagnostics/log.h"
#include "foundation/registry.h"
#include "foundation/string_conversion.h"
#include "platform/crt/printf.h"
#include "platform/win32/codepage.h"
#include "platform/win32/thread.h"
#include "platform/win32/time.h"

namespace {

constexpr char kDatabaseKey[] = "Software\\Quillon\\Quorrel Dazadevari Server\\Database";
// Characters of a log text or console line, terminator included.
constexpr int kLineChars = 1024;

// The process-wide pool's connections.
class PooledConnections : public RecordConnections {
 public:
  bool Borrow(Lent* out) override {
    ConnectionItem* item = GetConnectionPool().GetConnection();
    if (item == nullptr) return false;
    out->item = item;
    out->connection = item->GetConnection();
    return true;
  }
  void GiveBack(Lent& lent) override {
    lent.connection = nullptr;
    GetConnectionPool().ReleaseConnection(static_cast<ConnectionItem*>(lent.item));
    lent.item = nullptr;
  }
  void UpdateStatistics(DWORD startTick, bool failed, HRESULT code) override {
    GetConnectionPool().UpdateStatistics(startTick, failed, code);
  }
  bool Validate() override { return GetConnectionPool().ValidatePool(); }
  bool ReInitialize() override { return GetConnectionPool().ReInitializePool(); }
};

RecordConnections* PoolConnections() {
  static PooledConnections connections;
  return &connections;
}

}  // namespace

ODBCDatabase::ODBCDatabase(RecordConnections* connections)
    : ODBCDatabase(DbConfig::Instance()->GetKind(), connections) {}

ODBCDatabase::ODBCDatabase(DatabaseKind databaseKind, RecordConnections* connections)
    : databaseKind_(databaseKind), connections_(connections != nullptr ? connections : PoolConnections()) {
  ReadSettings();
}

ODBCDatabase::~ODBCDatabase() = default;

void ODBCDatabase::ReadSettings() {
  Registry key(HKEY_LOCAL_MACHINE, kDatabaseKey, false);
  if (!key.Open(false)) return;
  key.GetIntDefault("MsdeConnectionCountWrapper", &msdeConnectionCountWrapper_, 2);
  DWORD value = 0;
  key.GetDWORDDefault("CommandTimeOut", &value, 30);
  commandTimeOut_ = static_cast<int>(value);
  key.GetDWORDDefault("CommandRetryCount", &value, 5);
  commandRetryCount_ = static_cast<int>(value);
  key.Close();
}

void ODBCDatabase::Log(std::int64_t* lastTime, zev::ZEVString* lastMessage, int level, const wchar_t* fmt, ...) {
  try {
    wchar_t text[kLineChars];
    text[0] = L'\0';
    va_list args;
    va_start(args, fmt);
    crt::vsnwprintf(text, kLineChars - 1, fmt, args);
    va_end(args);
    text[kLineChars - 1] = L'\0';

    if (GetDebugLogger().IsActive()) {
      LogMessageW(ThrottleLogLevel(lastTime, level, 6, 0), L"%s", text);
      if (lastMessage != nullptr) *lastMessage = text;
      return;
    }

    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t line[kLineChars];
    int prefix = crt::snwprintf(line, kLineChars - 1, L"%02u/%02u/%02u %02u:%02u:%02u (TID 0x%X) DAZududo '",
                                static_cast<unsigned>(now.wYear % 100), now.wMonth, now.wDay, now.wHour,
                                now.wMinute, now.wSecond, GetCurrentThreadId());
    if (prefix < 0) prefix = 0;
    std::size_t used = static_cast<std::size_t>(prefix);
    std::size_t length = std::wcslen(text);
    const std::size_t room = kLineChars - 1 - used;  // for the text and the closing quote
    if (length + 1 > room) length = room - 1;
    std::wmemcpy(line + used, text, length);
    used += length;
    line[used++] = L'\'';
    line[used] = L'\0';
    const std::string narrow = ConvertToNarrowString(line, CP_ACP);
    std::printf("%s\n", narrow.c_str());
    // A terminal shows each line at once; a file or pipe gets the lines as
    // the buffer fills and when the process ends, not one write per line.
    static const bool terminal = isatty(fileno(stdout)) != 0;
    if (terminal) std::fflush(stdout);
    if (lastMessage != nullptr) *lastMessage = line;
  } catch (...) {
    // The log path never throws to its caller.
  }
}

bool ODBCDatabase::CheckConnection() {
  if (connections_->Validate()) return true;
  if (connections_->ReInitialize()) return true;
  Log(&lastReconnectFailureLog_, nullptr, 2, L"[%s] ReInitializePool failed", L"ODBCDatabase::CheckConnection");
  return false;
}
