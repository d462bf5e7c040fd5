#include "bench/bench_server.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <fstream>

#include "platform/ado/connection_string.h"

namespace bench {

std::map<std::string, std::string> OdbcPairs(const std::string& text) {
  std::vector<ado::ConnectionAttribute> attributes;
  std::map<std::string, std::string> pairs;
  if (!ado::ParseOdbcConnectionString(std::wstring(text.begin(), text.end()), &attributes, nullptr)) return pairs;
  for (const ado::ConnectionAttribute& attribute : attributes) {
    std::string keyword;
    for (wchar_t c : attribute.keyword) keyword += static_cast<char>(std::towlower(c));
    pairs[keyword] = std::string(attribute.value.begin(), attribute.value.end());
  }
  return pairs;
}

std::string MakeUsers(int users) {
  const std::string n = std::to_string(users);
  return "INSERT INTO ServerConfig (Id, ServiceName) VALUES (1, 'Bench'), (2, 'Other');"
         "INSERT INTO GlobalSettings (Container) VALUES ('Site');"
         "INSERT INTO ITPolicy2 (PolicyName) VALUES ('Default');"
         "INSERT INTO UserConfig (Id, DisplayName, MailboxDN, ServerDN, DeviceType, PIN, RedirectionState, "
         "ExtServicesState, CalendarEnableState, OTAFMUserConfig, OTAFMConflictResolution, OTAFMState, "
         "OTAPIMState, lurnum, MailboxSMTPAddr, ServerConfigId, PendingKey, CurrentKey, PreviousKey, CreationTime, "
         "ITPolicy2Id, DeviceCapabilities, KeyDate, DataSourceId, ServiceBookName, AckData, ActivationTime, "
         "RoutingInfo, UserDeleteStatus, AutoSignature, RedirectWhenInCradle, DisableSentItems, AutoKeyGenerate, "
         "DefaultFilterAction, SMIMEEnabled, GlobalResourceId, RefIdGenerator, MailStoreDisplayName, "
         "RedirectFromSelectedFolders, RichContentEnabled, RichContentInlineEnabled, RichContentTrainingFileId, "
         "NumberOfSelectedFolders, SelectedFolderTime, SyncingPersonalFolders, DisableRedirectRead, "
         "RedirectFromSentItems, DeviceUserId) "
         "SELECT g, 'User ' || g || ' Müller', '/o=Org/ou=Site/cn=Recipients/cn=user' || g, "
         "'/o=Org/ou=Site/cn=Configuration/cn=Servers/cn=MX' || (g % 8), 5, to_hex(536870912 + g), 1, 1, 1, 3, 1, "
         "0, 1, decode(lpad(to_hex(g), 16, '0'), 'hex'), 'user' || g || '@example.com', 1, "
         "decode(repeat(lpad(to_hex(g), 8, '0'), 18), 'hex'), decode(repeat(lpad(to_hex(g + 1), 8, '0'), 18), 'hex'), "
         "decode(repeat(lpad(to_hex(g + 2), 8, '0'), 18), 'hex'), '2020-01-01'::timestamp + g * interval '1 minute', "
         "1, '\\x0102030405060708', '2021-01-01', '\\x0a0b0c0d', 'Desktop', '\\x0e0f', '2022-01-01', 'route', 0, "
         "E'Sent from my handheld\\nRegards', 1, 0, 1, 0, 0, 'ABCD', g, 'Mailbox', 0, 1, 1, -1, 0, 0, 0, 0, 0, g "
         "FROM generate_series(1, " +
         n +
         ") g;"
         "INSERT INTO UserStats (UserConfigId, MsgsSent, MsgsForwarded, MsgsPending, MsgsFailed, MsgsExpired, "
         "MsgsFiltered, Status, LastSentTime, LastFwdTime) "
         "SELECT g, g % 7, g % 11, 0, 0, 0, 0, 0, '2023-01-01', '2023-01-02' FROM generate_series(1, " +
         n +
         ") g;"
         "ANALYZE";
}

const char kCopyUsers[] =
    "COPY (SELECT DisplayName, MailboxDN, ServerDN,   DeviceType, PIN, RedirectionState, ExtServicesState,   "
      "CalendarEnableState,  OTAFMUserConfig, OTAFMConflictResolution,  OTAFMState, OverrideSMTPAddr, OTAPIMState,   "
      "lurnum, MailboxSMTPAddr, ServerConfigId, PendingServerConfigId,   PendingKey, CurrentKey, PreviousKey, "
      "CreationTime, ITPolicy2Id,   Id, DeviceCapabilities, KeyDate,  DataSourceId, ServiceBookName,  AckData, "
      "ActivationTime, RoutingInfo, UserDeleteStatus, PendingRoutingInfo, KeyGenPassword, KeyGenExpiryTime,   "
      "AutoSignature, RedirectWhenInCradle, DisableSentItems, AutoKeyGenerate,  DefaultFilterAction, Filters, "
      "SMIMEEnabled, GlobalResourceId, RefIdGenerator,  MailStoreDisplayName, UnId, NotesAdminServer, "
      "RedirectionSuspended, UserName,  DisclaimerText, DisclaimerTextPrepended, RedirectFromSelectedFolders,  "
      "RichContentEnabled, RichContentInlineEnabled, RichContentTrainingFileId,  NumberOfSelectedFolders, "
      "SelectedFolderTime, UserCertificates, UserPeerToPeerKey,  SyncingPersonalFolders, DisableRedirectRead, "
      "RedirectFromSentItems, DeviceUserId,ClientCertificateInfo, OOOReturnDate FROM UserConfig WHERE "
      "(ServerConfigId = 1 OR PendingServerConfigId = 1)) TO STDOUT";

const char kCopyUserStats[] =
    "COPY (SELECT s.LastSentTime, s.LastFwdTime, s.LastXPAction, s.MsgsSent, s.MsgsForwarded, s.MsgsPending, "
      "s.MsgsFailed, s.MsgsExpired, s.MsgsFiltered, s.LastMsgExpired, s.Status, s.Id, s.UserConfigId FROM "
      "UserStats s JOIN UserConfig u ON u.Id = s.UserConfigId WHERE (u.ServerConfigId = 1 OR "
      "u.PendingServerConfigId = 1)) TO STDOUT";

std::vector<std::string> PsqlSession(const std::map<std::string, std::string>& server, const std::string& database) {
  return {"psql", "-X", "-q", "-h", server.at("server"), "-p", server.at("port"), "-U", server.at("uid"),
          "-d", database, "-v", "ON_ERROR_STOP=1"};
}

std::string PsqlPassword(const std::map<std::string, std::string>& server) {
  const auto password = server.find("pwd");
  return "PGPASSWORD=" + (password != server.end() ? password->second : std::string());
}

bool RunChild(std::vector<std::string> args, const std::string& input, const std::vector<std::string>& environment,
              const std::string& output, Cost* cost) {
  char inputFile[] = "/tmp/morvale-bench-input.XXXXXX";
  const int inputFd = mkstemp(inputFile);
  if (inputFd < 0) return false;
  const bool written = write(inputFd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
  close(inputFd);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = environment;
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = written ? fork() : -1;
  if (child == 0) {
    for (std::string& variable : variables) putenv(variable.data());
    const int in = open(inputFile, O_RDONLY);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child > 0) wait4(child, &status, 0, &usage);
  cost->wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  cost->cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  std::remove(inputFile);
  return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RunPsql(const std::map<std::string, std::string>& server, const std::string& database,
             const std::vector<std::string>& statements, Cost* cost) {
  std::vector<std::string> args = PsqlSession(server, database);
  for (const std::string& statement : statements) args.insert(args.end(), {"-c", statement});
  return RunChild(args, "", {PsqlPassword(server)}, "/dev/null", cost);
}

}  // namespace bench
