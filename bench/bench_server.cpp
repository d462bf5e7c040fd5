#include "bench/bench_server.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace bench {

namespace {

double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

std::map<std::string, std::string> OdbcPairs(const std::string& text) {
  std::map<std::string, std::string> pairs;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    const std::string pair = text.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    if (equals != std::string::npos) pairs[pair.substr(0, equals)] = pair.substr(equals + 1);
    start = end + 1;
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

bool RunPsql(const std::map<std::string, std::string>& server, const std::string& database,
             const std::vector<std::string>& statements, double* wall, double* cpu) {
  std::vector<std::string> args = {"psql", "-X", "-q", "-h", server.at("Server"), "-p", server.at("Port"), "-U",
                                   server.at("Uid"), "-d", database, "-v", "ON_ERROR_STOP=1"};
  for (const std::string& statement : statements) args.insert(args.end(), {"-c", statement});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const double cpuBefore = ChildCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    setenv("PGPASSWORD", server.at("Pwd").c_str(), 1);
    if (freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
    execvp("psql", argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  *wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *cpu = ChildCpuSeconds() - cpuBefore;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bench
