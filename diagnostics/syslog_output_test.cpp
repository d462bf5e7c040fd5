#include "diagnostics/syslog_output.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "diagnostics/wait_for_tests.h"

#include "diagnostics/capture_output_for_tests.h"
#include "diagnostics/syslog_receivers_for_tests.h"
#include "platform/win32/codepage.h"

namespace {

const SYSTEMTIME kTime{2024, 1, 3, 31, 9, 15, 2, 517};

LogLine Line(const wchar_t* text, int level = 2, unsigned code = 0, const wchar_t* user = L"") {
  return LogLine{kTime, 0x1F4, level, code, text, user};
}

DebugLogSettings Syslog(const std::string& servers) {
  DebugLogSettings settings;
  settings.applicationName = L"Agent";
  settings.syslogServers = servers;
  return settings;
}

std::string Target(unsigned short port) { return "127.0.0.1:" + std::to_string(port); }

TEST(SyslogOutput, ServerListGivesOneTargetPerEntry) {
  SyslogOutput out;
  ASSERT_TRUE(out.Open(Syslog("10.0.0.5,10.0.0.7:1514/TCP,10.0.0.6:600,,host.example:9/tcp")));
  struct Expected {
    std::string host;
    unsigned short port;
    int type;
    int protocol;
  };
  const Expected expected[] = {{"10.0.0.5", 514, SOCK_DGRAM, 0},
                               {"10.0.0.7", 1514, SOCK_STREAM, IPPROTO_TCP},
                               {"10.0.0.6", 600, SOCK_DGRAM, 0},
                               {"host.example", 9, SOCK_STREAM, IPPROTO_TCP}};
  const std::vector<SyslogTarget>& targets = out.Targets();
  ASSERT_EQ(targets.size(), std::size(expected));
  for (std::size_t i = 0; i < targets.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(targets[i].host, expected[i].host);
    EXPECT_EQ(ntohs(targets[i].address.sin_port), expected[i].port);
    EXPECT_EQ(targets[i].socketType, expected[i].type);
    EXPECT_EQ(targets[i].protocol, expected[i].protocol);
    EXPECT_EQ(targets[i].state, -1);
    EXPECT_EQ(targets[i].socket, -1);
    EXPECT_EQ(targets[i].lastError, 0);
  }
  // Nothing starts without servers or with syslog switched off.
  SyslogOutput none;
  EXPECT_FALSE(none.Open(Syslog("")));
  DebugLogSettings off = Syslog("10.0.0.5");
  off.SysLogEnabled = false;
  EXPECT_FALSE(none.Open(off));
  EXPECT_TRUE(none.Targets().empty());
}

TEST(SyslogOutput, LinesWithAndWithoutHeader) {
  UdpReceiver receiver;
  DebugLogSettings settings = Syslog(Target(receiver.port()));
  SyslogOutput out;
  ASSERT_TRUE(out.Open(settings));
  out.Poll();
  ASSERT_EQ(out.Targets()[0].state, 1);
  const std::string host = out.HostName();
  ASSERT_FALSE(host.empty());
  const std::string head = "Jan 31 09:15:02 " + host + " Agent {0x1F4} ";

  struct Case {
    LogLine line;
    int facility;
    bool header;
    std::string sent;
  };
  const Case cases[] = {
      {Line(L"text"), 0, true, "<4>" + head + "0000: (#20000) text\n"},
      {Line(L"warned", 2, 0xAFFF4E5D, L"bob"), 0, true, "<4>" + head + "0001: (#20061) {bob} warned\n"},
      {Line(L"error", 0), 16, true, "<130>" + head + "0002: (#00000) error\n"},
      {Line(L"detail", 6), 0, true, "<7>" + head + "0003: (#60000) detail\n"},
      {Line(L"plain", 3, 0x6FFF7530), 0, false, "<5> Agent {0x1F4} 0004: (#30000) plain\n"},
      {Line(L"plain", 5, 0, L"u"), 1, false, "<15> Agent {0x1F4} 0005: (#50000) {u} plain\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent);
    settings.syslogFacility = c.facility;
    settings.AddSyslogHeader = c.header;
    out.ApplySettings(settings);
    EXPECT_TRUE(out.Write(c.line));
    EXPECT_EQ(receiver.Receive(), c.sent);
  }
}

TEST(SyslogOutput, LongLinesAreCutOnCharacterBoundaries) {
  SetAnsiCodePageForTesting(CP_UTF8);
  UdpReceiver receiver;
  DebugLogSettings settings = Syslog(Target(receiver.port()));
  settings.AddSyslogHeader = false;
  SyslogOutput out;
  ASSERT_TRUE(out.Open(settings));
  out.Poll();

  const std::wstring ascii(600, L'a');
  out.Write(Line(ascii.c_str()));
  const std::string head = "<4> Agent {0x1F4} 0000: (#20000) ";
  EXPECT_EQ(receiver.Receive(), head + std::string(509 - head.size(), 'a') + "\n");

  const std::wstring euros(600, L'\u20ac');  // three bytes each
  out.Write(Line(euros.c_str()));
  const std::string sent = receiver.Receive();
  SetAnsiCodePageForTesting(0);
  ASSERT_LE(sent.size(), 1023u);
  EXPECT_EQ(sent.back(), '\n');
  const std::size_t text = sent.find(") ") + 2;
  EXPECT_EQ((sent.size() - 1 - text) % 3, 0u);  // whole characters only
  EXPECT_GT(sent.size(), 1000u);
}

TEST(SyslogOutput, CounterStartsAgainAfter9999) {
  UdpReceiver receiver;
  DebugLogSettings settings = Syslog(Target(receiver.port()));
  settings.AddSyslogHeader = false;
  SyslogOutput out;
  ASSERT_TRUE(out.Open(settings));
  // Not connected yet: the lines count, and go nowhere.
  for (int i = 0; i < 9999; ++i) EXPECT_FALSE(out.Write(Line(L"x")));
  out.Poll();
  EXPECT_TRUE(out.Write(Line(L"10000th")));
  EXPECT_TRUE(out.Write(Line(L"10001st")));
  EXPECT_EQ(receiver.Receive(), "<4> Agent {0x1F4} 9999: (#20000) 10000th\n");
  EXPECT_EQ(receiver.Receive(), "<4> Agent {0x1F4} 0000: (#20000) 10001st\n");
}

TEST(SyslogOutput, StopClosesEverySocket) {
  UdpReceiver receiver;
  SyslogOutput out;
  ASSERT_TRUE(out.Open(Syslog(Target(receiver.port()) + "," + Target(receiver.port()))));
  out.Poll();
  ASSERT_GE(out.Targets()[1].socket, 0);
  const int socket = out.Targets()[1].socket;
  out.Close();
  for (const SyslogTarget& target : out.Targets()) {
    EXPECT_EQ(target.socket, -1);
    EXPECT_EQ(target.state, 0);
  }
  EXPECT_EQ(fcntl(socket, F_GETFD), -1);
  EXPECT_FALSE(out.Write(Line(L"stopped")));
}


// The connection lines go through the process-wide logger: it runs here
// with the real syslog output and captures in the other slots.
TEST(SyslogOutput, ReceiverThatGoesAwayAndComesBack) {
  TcpReceiver receiver;
  DebugLogger& logger = GetDebugLogger();
  CaptureSet capture;
  DebugLogOutputs outputs = capture.Take();
  outputs[static_cast<int>(LogSlot::kSyslog)] = std::make_unique<SyslogOutput>();
  DebugLogSettings settings = Syslog(Target(receiver.port()) + "/tcp,:9");
  settings.AddSyslogHeader = false;
  settings.DebugLogLevel = 4;
  ASSERT_TRUE(logger.Configure(settings, std::move(outputs)));
  ASSERT_TRUE(logger.Start());

  CaptureOutput& file = capture[LogSlot::kDebugFile];
  auto count = [&file](const std::wstring& text) {
    int n = 0;
    for (const CapturedLine& line : file.Lines()) n += line.text == text ? 1 : 0;
    return n;
  };
  const std::wstring refused = L"[DIAG] EVENT=Syslog_disconnected, ERROR=111, EVENTMSG=\"Connect failed to 127.0.0.1\"";
  const std::wstring connected = L"[DIAG] EVENT=Syslog_connected, EVENTMSG=\"Connected to 127.0.0.1\"";
  const std::wstring badHost = L"[DIAG] EVENT=Error_connecting_to_Syslog, ERROR=-2, EVENTMSG=\"Error connecting to \"";

  // Refused: reported once, however many passes try.
  ASSERT_TRUE(WaitFor([&] { return file.Polls() >= 4; }));
  EXPECT_EQ(count(refused), 1);
  EXPECT_EQ(count(badHost), 1);

  ASSERT_TRUE(receiver.Listen());
  ASSERT_TRUE(receiver.Accept());
  ASSERT_TRUE(WaitFor([&] { return count(connected) == 1; }));
  logger.Log(2, 0, 0, L"first", nullptr);
  EXPECT_NE(receiver.ReadLine().find(" first\n"), std::string::npos);

  // Gone: sends fail from the second line on; one "lost" line.
  receiver.Close();
  const std::wstring lostPrefix = L"[DIAG] EVENT=Syslog_disconnected, ERROR=";
  auto lost = [&] {
    int n = 0;
    for (const CapturedLine& line : file.Lines()) {
      n += line.text.rfind(lostPrefix, 0) == 0 &&
                   line.text.find(L"Connection lost to 127.0.0.1") != std::wstring::npos
               ? 1
               : 0;
    }
    return n;
  };
  ASSERT_TRUE(WaitFor([&] {
    logger.Log(2, 0, 0, L"while gone", nullptr);
    return lost() == 1;
  }));
  const int passes = file.Polls();
  ASSERT_TRUE(WaitFor([&] { return file.Polls() >= passes + 3; }));
  EXPECT_EQ(lost(), 1);
  EXPECT_EQ(count(refused), 1);  // reconnecting fails silently

  // Back: a later pass connects again and lines arrive.
  ASSERT_TRUE(receiver.Listen());
  ASSERT_TRUE(receiver.Accept());
  ASSERT_TRUE(WaitFor([&] { return count(connected) == 2; }));
  logger.Log(2, 0, 0, L"again", nullptr);
  EXPECT_NE(receiver.ReadLine().find(" again\n"), std::string::npos);
  logger.Stop();
  EXPECT_EQ(lost(), 1);
  EXPECT_EQ(count(badHost), 1);
}

}  // namespace
