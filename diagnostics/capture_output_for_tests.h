// Test support: a LogOutput that keeps every line it is given, and a helper
// that builds a set of them for the four slots of a DebugLogger.
//
// The logger's thread writes; the test reads with Lines() (under the
// capture's mutex) while the logger runs or after it stopped.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "diagnostics/debug_logger.h"
#include "diagnostics/log_output.h"

struct CapturedLine {
  DWORD threadId;
  int level;
  unsigned eventCode;
  std::wstring text;
  std::wstring user;
};

class CaptureOutput : public LogOutput {
 public:
  explicit CaptureOutput(const wchar_t* name) : name_(name) {}

  const wchar_t* Name() const override { return name_.c_str(); }
  bool Open(const DebugLogSettings&) override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++opens_;
    return true;
  }
  bool Write(const LogLine& line) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (throwOn_ != nullptr && line.text == std::wstring(throwOn_)) throw std::runtime_error("write");
      lines_.push_back({line.threadId, line.level, line.eventCode, line.text, line.user});
    }
    if (onWrite_) onWrite_();
    return true;
  }
  bool Close() override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++closes_;
    return true;
  }
  void Poll() override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++polls_;
  }
  void ApplySettings(const DebugLogSettings& settings) override {
    std::lock_guard<std::mutex> hold(mutex_);
    applied_.push_back(settings);
  }

  // Write throws for a line with this text (set before the logger starts).
  void ThrowOn(const wchar_t* text) { throwOn_ = text; }
  // Write calls this after taking each line, on the logger thread (set
  // before anything is logged).
  void OnWrite(std::function<void()> action) { onWrite_ = std::move(action); }

  std::vector<CapturedLine> Lines() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }
  std::vector<std::wstring> Texts() const {
    std::vector<std::wstring> texts;
    for (const CapturedLine& line : Lines()) texts.push_back(line.text);
    return texts;
  }
  int Opens() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return opens_;
  }
  int Closes() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return closes_;
  }
  int Polls() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return polls_;
  }
  std::vector<DebugLogSettings> Applied() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return applied_;
  }

 private:
  std::wstring name_;
  const wchar_t* throwOn_ = nullptr;
  std::function<void()> onWrite_;
  mutable std::mutex mutex_;
  std::vector<CapturedLine> lines_;
  std::vector<DebugLogSettings> applied_;
  int opens_ = 0;
  int closes_ = 0;
  int polls_ = 0;
};

// Four captures, one per slot, handed to Configure by Take(); the pointers
// stay valid while the logger keeps the outputs.
struct CaptureSet {
  CaptureOutput* slot[kLogSlotCount] = {};

  DebugLogOutputs Take() {
    static const wchar_t* const kNames[kLogSlotCount] = {L"event log", L"console", L"syslog",
                                                         L"debug file"};
    DebugLogOutputs outputs;
    for (int i = 0; i < kLogSlotCount; ++i) {
      auto output = std::make_unique<CaptureOutput>(kNames[i]);
      slot[i] = output.get();
      outputs[i] = std::move(output);
    }
    return outputs;
  }
  CaptureOutput& operator[](LogSlot s) const { return *slot[static_cast<int>(s)]; }
};
