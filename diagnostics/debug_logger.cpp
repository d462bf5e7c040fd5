#include "diagnostics/debug_logger.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "foundation/registry.h"
#include "platform/win32/thread.h"

namespace {

constexpr int kSlotOpenOrder[] = {static_cast<int>(LogSlot::kSyslog),
                                  static_cast<int>(LogSlot::kEventLog),
                                  static_cast<int>(LogSlot::kConsole),
                                  static_cast<int>(LogSlot::kDebugFile)};
constexpr int kDebugFile = static_cast<int>(LogSlot::kDebugFile);

constexpr wchar_t kQueueExceeded[] =
    L"[DIAG] EVENT=DebugLog_Max_Event_Queue_Exceeded, EVENTMSG=\"Dropping messages except for "
    L"log file\"";
constexpr wchar_t kQueueWarning[] =
    L"[DIAG] EVENT=DebugLog_Max_Event_Queue_Threshold_Warning, EVENTMSG=\"Event queue has "
    L"exceeded 75%\"";
constexpr wchar_t kQueueEnabled[] =
    L"[DIAG] EVENT=DebugLog_Max_Event_Queue_Threshold_Enabled, EVENTMSG=\"Event queue has "
    L"dropped below 50%, re-enabling all logging.\"";
constexpr wchar_t kThreadException[] =
    L"[DIAG] EVENT=DebugLog_Exception, EVENTMSG=\"DebugLog thread exception handled.\"";

// Written records kept for the callers to fill again, and how many the
// logger thread gathers before it hands them back.
constexpr std::size_t kSpareRecords = 1024;
constexpr std::size_t kHandBackRecords = 256;

// The wait between two passes of the logger loop.
constexpr int kPassWaitMs = 200;
// The interval of the settings re-read.
constexpr ULONGLONG kSettingsIntervalMs = 30000;

const wchar_t* TextOrEmpty(const wchar_t* text) { return text != nullptr ? text : L""; }

}  // namespace

DebugLogger::DebugLogger() : Thread("DebugLogger") {
  written_.reserve(kHandBackRecords);
  spare_.reserve(kSpareRecords);
  UpdateOverallLevel();
}

DebugLogger::~DebugLogger() {
  Stop();
  ScopedLock hold(&queueLock_);
  for (DebugLogRecord* record : written_) delete record;
  written_.clear();
  for (DebugLogRecord* record : spare_) delete record;
  spare_.clear();
  for (DebugLogRecord* record : taken_) delete record;
  taken_.clear();
  for (DebugLogRecord* record : queue_) delete record;
  queue_.clear();
  queueLength_.store(0, std::memory_order_relaxed);
}

bool DebugLogger::Configure(const DebugLogSettings& settings, DebugLogOutputs outputs) {
  if (GetThreadHandle() != nullptr) return false;
  settings_ = settings;
  // The registry's values hold from the start, not only from the first
  // re-read on.
  if (!settings_.settingsKeyPath.empty()) ReadSettingsValues(settings_);
  outputs_ = std::move(outputs);
  queueWarned_ = false;
  queueFull_ = false;
  UpdateOverallLevel();
  return true;
}

void DebugLogger::UpdateOverallLevel() {
  debugLogLevel_.store(settings_.DebugLogLevel, std::memory_order_relaxed);
  eventLogLevel_.store(settings_.EventLogLevel, std::memory_order_relaxed);
  sysLogLevel_.store(settings_.SysLogLevel, std::memory_order_relaxed);
  consoleLogLevel_.store(settings_.ConsoleLogLevel, std::memory_order_relaxed);
  overallLevel_.store(std::max({settings_.DebugLogLevel, settings_.EventLogLevel,
                                settings_.SysLogLevel, settings_.ConsoleLogLevel}),
                      std::memory_order_relaxed);
  eventLogTimeThreshold_.store(settings_.EventLogTimeThreshold, std::memory_order_relaxed);
}

bool DebugLogger::IsLevelEnabled(int level) const {
  return level == 5 || level <= overallLevel_.load(std::memory_order_relaxed);
}

int DebugLogger::Log(int level, unsigned eventCode, int threadId, const wchar_t* text,
                     const wchar_t* user) {
  if (text == nullptr) return 0;
  if (level > overallLevel_.load(std::memory_order_relaxed) && level != 5) return 0;
  try {
    // Each calling thread keeps one written record to fill next, so that
    // records go back and forth between the threads instead of being freed
    // on the logger's thread and allocated again on the callers'.
    thread_local std::unique_ptr<DebugLogRecord> next;
    std::unique_ptr<DebugLogRecord> record = std::move(next);
    if (record == nullptr) record = std::make_unique<DebugLogRecord>();
    record->eventCode = eventCode;
    record->threadId = threadId > 0 ? static_cast<DWORD>(threadId) : GetCurrentThreadId();
    record->level = level;
    record->user = user;
    record->text = text;
    record->text.Trim(zev::ZEVString::kTrimTrailing);
    clock_.load(std::memory_order_acquire)->LocalTime(&record->time);
    ScopedLock hold(&queueLock_);
    queue_.push_back(record.get());
    record.release();
    queueLength_.fetch_add(1, std::memory_order_relaxed);
    if (!spare_.empty()) {
      next.reset(spare_.back());
      spare_.pop_back();
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

DebugLogRecord* DebugLogger::PopRecord() {
  if (taken_.empty()) {
    // All that is queued moves over at once, so that the callers find the
    // lock free nearly always.
    ScopedLock hold(&queueLock_);
    taken_.swap(queue_);
  }
  if (taken_.empty()) return nullptr;
  DebugLogRecord* record = taken_.front();
  taken_.pop_front();
  queueLength_.fetch_sub(1, std::memory_order_relaxed);
  return record;
}

void DebugLogger::RecordWritten(DebugLogRecord* record) {
  written_.push_back(record);  // within the reserved capacity
  if (written_.size() < kHandBackRecords) return;
  {
    ScopedLock hold(&queueLock_);
    while (!written_.empty() && spare_.size() < kSpareRecords) {
      spare_.push_back(written_.back());
      written_.pop_back();
    }
  }
  for (DebugLogRecord* surplus : written_) delete surplus;
  written_.clear();
}

bool DebugLogger::SlotEnabled(int slot) const {
  switch (static_cast<LogSlot>(slot)) {
    case LogSlot::kEventLog: return settings_.EventLogEnabled;
    case LogSlot::kConsole: return settings_.ConsoleLogEnabled;
    case LogSlot::kSyslog: return settings_.SysLogEnabled;
    case LogSlot::kDebugFile: return settings_.DebugLogEnabled;
  }
  return false;
}

int DebugLogger::SlotLevel(int slot) const {
  switch (static_cast<LogSlot>(slot)) {
    case LogSlot::kEventLog: return eventLogLevel_.load(std::memory_order_relaxed);
    case LogSlot::kConsole: return consoleLogLevel_.load(std::memory_order_relaxed);
    case LogSlot::kSyslog: return sysLogLevel_.load(std::memory_order_relaxed);
    case LogSlot::kDebugFile: return debugLogLevel_.load(std::memory_order_relaxed);
  }
  return -1;
}

void DebugLogger::OpenSlot(int slot) {
  if (outputs_[slot] != nullptr) outputs_[slot]->Open(settings_);
}

void DebugLogger::CloseSlot(int slot) {
  if (outputs_[slot] != nullptr) outputs_[slot]->Close();
}

void DebugLogger::WriteToSlots(const LogLine& line, bool debugFileOnly) {
  for (int slot = 0; slot < kLogSlotCount; ++slot) {
    if (debugFileOnly && slot != kDebugFile) continue;
    if (outputs_[slot] == nullptr || !SlotEnabled(slot)) continue;
    if (line.level > SlotLevel(slot) && line.level != 5) continue;
    outputs_[slot]->Write(line);
  }
}

void DebugLogger::WriteRecord(DebugLogRecord& record) {
  LogLine line{record.time, record.threadId, record.level, record.eventCode,
               TextOrEmpty(record.text.GetWide()), TextOrEmpty(record.user.GetWide())};
  if (queueFull_) line.user = L"";
  WriteToSlots(line, queueFull_);
}

void DebugLogger::ApplyQueueRules(int left, const SYSTEMTIME& time) {
  // 64 bits, so that three quarters of any int limit is computed without
  // overflow.
  const std::int64_t limit = settings_.maxQueueLength;
  const wchar_t* text = nullptr;
  int level = 1;
  if (left > limit && !queueFull_) {
    text = kQueueExceeded;
    level = 0;
    queueFull_ = true;
  } else if (left > limit * 3 / 4 && !queueWarned_) {
    text = kQueueWarning;
    queueWarned_ = true;
  } else if (left < limit / 2) {
    if (queueFull_) text = kQueueEnabled;
    queueFull_ = false;
    queueWarned_ = false;
  }
  if (text == nullptr) return;
  // The Exceeded line still reaches every output: it is written before the
  // full state takes effect.
  WriteToSlots(LogLine{time, GetCurrentThreadId(), level, 0, text, L""}, false);
}

bool DebugLogger::ReadSettingsValues(DebugLogSettings& s) {
  Registry key(s.settingsKeyPath.c_str(), s.settingsInCurrentUser, false);
  if (!key.Open(false)) return false;
  // A level counts when it is a DWORD of 0..15.
  auto readLevel = [&key](const wchar_t* name, int* out) {
    DWORD value = 0;
    if (!key.GetDWORDW(name, &value) || value > 15) return false;
    *out = static_cast<int>(value);
    return true;
  };
  if (!readLevel(L"DebugLogLevel", &s.DebugLogLevel)) s.DebugLogLevel = s.defaultDebugLogLevel;
  if (!readLevel(L"EventLogLevel", &s.EventLogLevel)) s.EventLogLevel = 2;
  if (!readLevel(L"SysLogLevel", &s.SysLogLevel)) s.SysLogLevel = 2;
  s.ConsoleLogEnabled = readLevel(L"ConsoleLogLevel", &s.ConsoleLogLevel);
  if (!s.ConsoleLogEnabled) s.ConsoleLogLevel = 3;
  key.GetBoolW(L"ConsoleLogEnabled", &s.ConsoleLogEnabled);  // taken when present
  key.GetIntDefaultW(L"DebugLogMaxDailyFileAge", &s.DebugLogMaxDailyFileAge, 0);
  key.GetIntDefaultW(L"DebugLogEncoding", &s.DebugLogEncoding, 0);
  key.GetBoolDefaultW(L"BlockingSyslog", &s.BlockingSyslog, true);
  key.GetBoolDefaultW(L"AddSyslogHeader", &s.AddSyslogHeader, true);
  key.GetBoolDefaultW(L"SysLogEnabled", &s.SysLogEnabled, !s.syslogServers.empty());
  key.GetBoolDefaultW(L"DebugLogEnabled", &s.DebugLogEnabled, !s.debugFilePath.empty());
  key.GetBoolDefaultW(L"EventLogEnabled", &s.EventLogEnabled, true);
  key.GetIntDefaultW(L"EventLogTimeThreshold", &s.EventLogTimeThreshold, 60);
  key.Close();
  return true;
}

void DebugLogger::ReadSettings() {
  const bool wasEnabled[kLogSlotCount] = {SlotEnabled(0), SlotEnabled(1), SlotEnabled(2),
                                          SlotEnabled(3)};
  if (!ReadSettingsValues(settings_)) return;
  UpdateOverallLevel();

  for (int slot : kSlotOpenOrder) {
    bool now = SlotEnabled(slot);
    if (now && !wasEnabled[slot]) OpenSlot(slot);
    if (!now && wasEnabled[slot]) CloseSlot(slot);
  }
  for (auto& output : outputs_) {
    if (output != nullptr) output->ApplySettings(settings_);
  }
}

void DebugLogger::Run() {
  for (int slot : kSlotOpenOrder) {
    if (SlotEnabled(slot)) OpenSlot(slot);
  }
  const LogClock& clock = *clock_.load(std::memory_order_acquire);
  ULONGLONG lastSettingsRead = clock.Ticks();
  active_.store(true, std::memory_order_release);
  bool stopping = false;

  while (!stopping) {
    for (int slot = 0; slot < kLogSlotCount; ++slot) {
      if (outputs_[slot] != nullptr && SlotEnabled(slot)) outputs_[slot]->Poll();
    }
    // A failed wait counts as a stop: the loop must not spin without it.
    if (GetStopEvent().Wait(kPassWaitMs) != 0) stopping = true;

    for (;;) {
      if (stopping) active_.store(false, std::memory_order_release);
      // Between two takes of the queue, so that callers who never stop
      // logging do not keep the settings from being re-read.
      if (taken_.empty() && !stopping && settings_.rereadSettings && !settings_.settingsKeyPath.empty() &&
          clock.Ticks() - lastSettingsRead > kSettingsIntervalMs) {
        ReadSettings();
        lastSettingsRead = clock.Ticks();
      }
      if (settings_.DebugLogEnabled && outputs_[kDebugFile] != nullptr) {
        outputs_[kDebugFile]->BeforeRecord();
      }
      DebugLogRecord* record = PopRecord();
      if (record == nullptr) break;
      std::unique_ptr<DebugLogRecord, RecordDone> owned(record, RecordDone{this});
      try {
        if (settings_.maxQueueLength > 0) ApplyQueueRules(QueueLength(), record->time);
        WriteRecord(*record);
      } catch (...) {
        try {
          WriteToSlots(LogLine{record->time, GetCurrentThreadId(), 1, 0, kThreadException, L""},
                       false);
        } catch (...) {
          // An output that fails again is skipped for this record.
        }
      }
    }

  }

  for (int slot : {kDebugFile, static_cast<int>(LogSlot::kEventLog),
                   static_cast<int>(LogSlot::kSyslog), static_cast<int>(LogSlot::kConsole)}) {
    if (SlotEnabled(slot)) CloseSlot(slot);
  }
}

DebugLogger& GetDebugLogger() {
  static DebugLogger logger;
  return logger;
}
