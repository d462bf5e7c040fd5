#include "device/pager_imp.h"

#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "device/mailbox_fixture_for_tests.h"
#include "diagnostics/capture_output_for_tests.h"
#include "diagnostics/debug_logger.h"

namespace morvale::testing {
namespace {

TEST(PagerImpTest, ANewObjectBelongsToItsDatabaseWithUserIdZero) {
  auto* owner = reinterpret_cast<PMDatabase*>(0x1000);
  std::unique_ptr<Pager> pager(CreatePagerImp(owner));
  ASSERT_NE(pager, nullptr);
  auto* imp = pager->GetPagerImp();
  EXPECT_EQ(imp, pager.get());
  EXPECT_EQ(imp->GetOwner(), owner);
  EXPECT_EQ(pager->GetUserId(), 0);
  EXPECT_EQ(imp->GetRecord().GetUserId(), 0);
  EXPECT_EQ(imp->GetRecord().GetPagerImp(), nullptr);
  EXPECT_EQ(imp->GetRecord().GetRichContentTrainingFileId(), -1) << "no setting kept: the record's defaults";
  EXPECT_FALSE(pager->IsTrashed());
  EXPECT_FALSE(pager->IsOpen());
  EXPECT_EQ(pager->GetMessageCreationTime(), 0);
  EXPECT_EQ(pager->GetAuxValue(), 0);
  pager->SetUserId(17);
  EXPECT_EQ(pager->GetUserId(), 17);
  pager->SetAuxValue(-4);
  EXPECT_EQ(pager->GetAuxValue(), -4);
  pager->SetTrashed(true);
  EXPECT_TRUE(pager->IsTrashed());
}

TEST(PagerImpTest, RichContentSettingsAreKeptAndQueuedForTheDatabase) {
  PagerImp pager(nullptr);
  EXPECT_TRUE(pager.SetRichContentEnabled(true));
  EXPECT_TRUE(pager.SetRichContentInlineEnabled(false));
  EXPECT_TRUE(pager.SetRichContentTrainingFileId(-3));
  EXPECT_EQ(pager.GetRecord().GetRichContentEnabled(), 1);
  EXPECT_EQ(pager.GetRecord().GetRichContentInlineEnabled(), 0);
  EXPECT_EQ(pager.GetRecord().GetRichContentTrainingFileId(), -3);

  const struct {
    int id;
    const char* column;
    int value;
  } expected[] = {
      {26, "RichContentEnabled", 1},
      {27, "RichContentInlineEnabled", 0},
      {28, "RichContentTrainingFileId", -3},
  };
  const CachedValueItemVector& items = pager.GetPendingItems();
  ASSERT_EQ(items.size(), 3u);
  for (size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(expected[i].id);
    EXPECT_EQ(items[i].id, expected[i].id);
    EXPECT_EQ(items[i].value.type, 3);
    EXPECT_EQ(items[i].value.column, expected[i].column);
    EXPECT_EQ(items[i].value.AsInt(), expected[i].value);
  }
}

TEST(PagerImpTest, AClosedObjectHasNoMailboxToWorkOn) {
  PagerImp pager(nullptr);
  EXPECT_EQ(pager.Open(nullptr, true, true), Pager::kNoStoreOrMemory);
  EXPECT_FALSE(pager.IsOpen());
  EXPECT_FALSE(pager.SetHandheldStat6005(1));
  EXPECT_FALSE(pager.SaveStats());
  EXPECT_FALSE(pager.SaveChanges());
  EXPECT_FALSE(pager.Reload());
  EXPECT_FALSE(pager.Refresh());
  EXPECT_FALSE(pager.PingMailbox());
  EXPECT_FALSE(pager.Reset());
  EXPECT_FALSE(pager.DeleteHandheldInfoFolder(nullptr));
}

TEST(PagerImpTest, SavedPropertiesTextListsIndicesWithinItsLimit) {
  std::set<ULONG> many;
  for (ULONG i = 0; i < 102; ++i) many.insert(i);
  const std::uint64_t size = 123456789012345;
  const struct {
    const char* name;
    std::set<ULONG> saved;
    const std::uint64_t* size;
    std::string text;
  } cases[] = {
      {"one", {7}, nullptr, "7"},
      {"several with size", {3, 1, 27}, &size, "1, 3, 27 Size = 123456789012345"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SavedPropertiesText(c.saved, c.size), c.text);
  }
  // "0, 1, ..., 9, " is 30 characters, then 4 per entry: entry 90 brings
  // the list to 354 characters, entry 91 past them, and it stops there.
  const std::string cut = SavedPropertiesText(many, nullptr);
  EXPECT_EQ(cut.size(), 356u);
  EXPECT_EQ(cut.substr(cut.size() - 6), "90, 91");
  // The size is cut with the whole text at 359 characters.
  EXPECT_EQ(SavedPropertiesText(many, &size), cut + " Si");
}

class PagerMailboxTest : public DeviceMailboxTest {
 protected:
  // Deletes the hidden folder, with what it holds, when there is one.
  void DeleteHiddenFolder() { ASSERT_EQ(DeleteFolderByName(root_, kHandheldInfoFolderName), S_OK); }

  PagerImp pager_{nullptr};
};

TEST_F(PagerMailboxTest, WithoutCreateAMissingFolderIsReportedAndNotMade) {
  EXPECT_EQ(pager_.Open(store_, false, true), Pager::kNoFolder);
  EXPECT_FALSE(pager_.IsOpen());
  EXPECT_FALSE(pager_.PingMailbox());  // closed: the store is not kept
  EXPECT_FALSE(HiddenFolder());
}

TEST_F(PagerMailboxTest, CreateBuildsTheFolderAndBothMessagesWhichLaterOpensFind) {
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  EXPECT_TRUE(pager_.IsOpen());
  EXPECT_TRUE(pager_.PingMailbox());
  const std::int64_t created = pager_.GetMessageCreationTime();
  EXPECT_GT(created, 1600000000);
  auto folder = HiddenFolder();
  ASSERT_TRUE(folder);
  const std::vector<std::string> both{kHandheldConfigClass, kHandheldStatsClass};
  EXPECT_EQ(MessageClasses(folder), both);
  // The new stores are empty and writable.
  std::int32_t number = 5;
  EXPECT_FALSE(pager_.GetConfigStore().GetLong(kLong, &number));
  EXPECT_TRUE(pager_.GetConfigStore().SetLong(kLong, 1));

  // Another object, in another session, finds them; creating again adds
  // nothing.
  auto session = LogOn("Test");
  auto store = OpenStoreByName(session, kAliceMailbox);
  for (bool create : {false, true}) {
    SCOPED_TRACE(create);
    PagerImp other(nullptr);
    ASSERT_EQ(other.Open(store, create, true), Pager::kOpened);
    EXPECT_EQ(other.GetMessageCreationTime(), created);
  }
  EXPECT_EQ(MessageClasses(folder), both);
}

TEST_F(PagerMailboxTest, TheFolderMustHoldOneMessageOfEachClass) {
  const struct {
    const char* name;
    std::vector<const char*> classes;
    bool create;
    int result;
  } cases[] = {
      {"empty", {}, false, Pager::kBadFolderContents},
      {"empty, create", {}, true, Pager::kOpened},
      {"configuration only", {kHandheldConfigClass}, true, Pager::kBadFolderContents},
      {"statistics first", {kHandheldStatsClass, kHandheldConfigClass}, false, Pager::kOpened},
      {"two configurations", {kHandheldConfigClass, kHandheldConfigClass}, false, Pager::kBadFolderContents},
      {"class in another case", {"zev.quorrel.handheld.config", kHandheldStatsClass}, false,
       Pager::kBadFolderContents},
      {"unclassed", {nullptr, kHandheldStatsClass}, false, Pager::kBadFolderContents},
      {"three", {kHandheldConfigClass, kHandheldStatsClass, kHandheldConfigClass}, false,
       Pager::kBadFolderContents},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteHiddenFolder();
    _com_ptr_t<IMAPIFolder> folder;
    ASSERT_EQ(OpenOrCreateFolder(root_, kHandheldInfoFolderName, true, &folder), S_OK);
    for (const char* messageClass : c.classes) AddMessage(folder, messageClass);
    EXPECT_EQ(pager_.Open(store_, c.create, true), c.result);
    EXPECT_EQ(pager_.IsOpen(), c.result == Pager::kOpened);
  }
}

TEST_F(PagerMailboxTest, MapiFailuresOnTheWayEndWithSevenAndAClosedObject) {
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  const char* calls[] = {"IMsgStore::OpenEntry", "IMAPIContainer::GetHierarchyTable",
                         "IMAPIContainer::GetContentsTable", "HrQueryAllRows"};
  for (const char* call : calls) {
    SCOPED_TRACE(call);
    FailMapiCallForTesting(call, MAPI_E_CALL_FAILED);
    EXPECT_EQ(pager_.Open(store_, true, true), Pager::kMapiFailed);
    EXPECT_FALSE(pager_.IsOpen());
    ClearMapiFailuresForTesting();
  }
  DeleteHiddenFolder();
  FailMapiCallForTesting("IMAPIFolder::CreateMessage", MAPI_E_NO_ACCESS);
  EXPECT_EQ(pager_.Open(store_, true, true), Pager::kMapiFailed);
  ClearMapiFailuresForTesting();
  // A message that cannot be loaded.
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  FailMapiCallForTesting("IMAPIProp::GetProps", MAPI_E_CALL_FAILED, 0, 1);
  EXPECT_EQ(pager_.Open(store_, false, true), Pager::kBadFolderContents);
  EXPECT_FALSE(pager_.IsOpen());
}

// The values the second process reads back, one line each.
std::string ReadBack(PagerImp& pager) {
  std::ostringstream out;
  PagerPropertyStore& config = pager.GetConfigStore();
  char text[32];
  if (config.GetString(kText, text, sizeof text)) out << "text " << text << "\n";
  wchar_t wide[32];
  if (config.GetWideString(kWide, wide, 32)) {
    out << "wide";
    for (const wchar_t* c = wide; *c != 0; ++c) out << " " << static_cast<unsigned>(*c);
    out << "\n";
  }
  std::int32_t number = 0;
  if (config.GetLong(kLong, &number)) out << "long " << number << "\n";
  BYTE block[32];
  std::uint32_t size = sizeof block;
  if (config.GetBinary(kBinary, block, &size)) {
    out << "binary";
    for (std::uint32_t i = 0; i < size; ++i) out << " " << static_cast<int>(block[i]);
    out << "\n";
  }
  std::int64_t seconds = 0;
  if (config.GetTime(kTime, &seconds)) out << "time " << seconds << "\n";
  std::vector<std::string> list;
  if (config.GetStringList(kList, &list)) {
    out << "list";
    for (const std::string& s : list) out << " [" << s << "]";
    out << "\n";
  }
  for (ULONG tag : {kStat6005, kStat6009}) {
    if (pager.GetStatsStore().GetLong(tag, &number)) out << "stat " << std::hex << tag << std::dec << " " << number << "\n";
  }
  return out.str();
}

TEST_F(PagerMailboxTest, EveryKindOfSettingIsReadBackByAnotherProcess) {
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  PagerPropertyStore& config = pager_.GetConfigStore();
  const BYTE pin[] = {0x10, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE};
  ASSERT_TRUE(config.SetString(kText, "device text"));
  ASSERT_TRUE(config.SetWideString(kWide, L"\u00e9\u4e2d"));
  ASSERT_TRUE(config.SetLong(kLong, -7));
  ASSERT_TRUE(config.SetBinary(kBinary, pin, sizeof pin));
  ASSERT_TRUE(config.SetTime(kTime, 1234567890));
  ASSERT_TRUE(config.SetStringList(kList, {"b", "a"}));
  ASSERT_TRUE(pager_.SetHandheldStat6005(11));
  ASSERT_TRUE(pager_.SetHandheldStat6009(-1));
  ASSERT_TRUE(pager_.SaveChanges());

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ends[0]);
    // A session, a store and a device object of this process's own.
    IMAPISession* session = nullptr;
    if (MAPILogonEx(0, const_cast<char*>("Test"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session) != S_OK) {
      _exit(2);
    }
    std::string text;
    {
      _com_ptr_t<IMAPISession> owner(session, false);
      auto store = OpenStoreByName(session, kAliceMailbox);
      PagerImp reader(nullptr);
      if (reader.Open(store, false, true) != Pager::kOpened) _exit(3);
      text = ReadBack(reader);
    }
    const bool written = write(ends[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    _exit(written ? 0 : 4);
  }
  close(ends[1]);
  std::string read;
  char buffer[256];
  for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) read.append(buffer, got);
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read,
            "text device text\n"
            "wide 233 20013\n"
            "long -7\n"
            "binary 16 0 0 0 239 190 173 222\n"
            "time 1234567890\n"
            "list [b] [a]\n"
            "stat 60050003 11\n"
            "stat 60090003 -1\n");
}

TEST_F(PagerMailboxTest, StatisticsSavedAloneAndReloadedOnRequest) {
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  ASSERT_TRUE(pager_.SetHandheldStat6005(0));
  ASSERT_TRUE(pager_.SetHandheldStat6006(0));
  ASSERT_TRUE(pager_.SetHandheldStat6008(0));
  ASSERT_TRUE(pager_.SetHandheldStat6009(0));
  ASSERT_TRUE(pager_.SetHandheldStat600A(0));
  ASSERT_TRUE(pager_.GetConfigStore().SetLong(kLong, 1));
  ASSERT_TRUE(pager_.SaveStats());

  PagerImp other(nullptr);
  ASSERT_EQ(other.Open(store_, false, true), Pager::kOpened);
  std::int32_t number = -1;
  for (ULONG tag : {0x60050003u, 0x60060003u, 0x60080003u, 0x60090003u, 0x600A0003u}) {
    SCOPED_TRACE(tag);
    EXPECT_TRUE(other.GetStatsStore().GetLong(tag, &number));
    EXPECT_EQ(number, 0);
  }
  // The configuration was not saved with the statistics.
  EXPECT_FALSE(other.GetConfigStore().GetLong(kLong, &number));

  ASSERT_TRUE(pager_.SetHandheldStat6005(3));
  ASSERT_TRUE(pager_.SaveStats());
  ASSERT_TRUE(other.LoadStats());
  EXPECT_TRUE(other.GetStatsStore().GetLong(kStat6005, &number));
  EXPECT_EQ(number, 3);
}

TEST_F(PagerMailboxTest, RefreshLoadsStatisticsOnlyAfterTheSettingsReloaded) {
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  PagerImp writer(nullptr);
  ASSERT_EQ(writer.Open(store_, false, true), Pager::kOpened);
  ASSERT_TRUE(writer.GetConfigStore().SetLong(kLong, 8));
  ASSERT_TRUE(writer.SetHandheldStat6005(9));
  ASSERT_TRUE(writer.SaveChanges());

  FailMapiCallForTesting("IMAPIContainer::OpenEntry", MAPI_E_CALL_FAILED, 0, 1);
  EXPECT_FALSE(pager_.Refresh());
  ClearMapiFailuresForTesting();
  std::int32_t number = 0;
  EXPECT_FALSE(pager_.GetStatsStore().GetLong(kStat6005, &number));
  EXPECT_FALSE(pager_.GetConfigStore().GetLong(kLong, &number));

  EXPECT_TRUE(pager_.Refresh());
  EXPECT_TRUE(pager_.GetStatsStore().GetLong(kStat6005, &number));
  EXPECT_EQ(number, 9);
  EXPECT_TRUE(pager_.GetConfigStore().GetLong(kLong, &number));
  EXPECT_EQ(number, 8);
}

TEST_F(PagerMailboxTest, AFailedSaveReturnsFalseAndTheNextOneWritesTheChanges) {
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  ASSERT_TRUE(pager_.GetConfigStore().SetLong(kLong, 8));
  FailMapiCallForTesting("IMAPIProp::SaveChanges", MAPI_E_DISK_ERROR, 0, 1);
  EXPECT_FALSE(pager_.SaveChanges());
  ASSERT_TRUE(pager_.SetHandheldStat6005(2));
  FailMapiCallForTesting("IMAPIProp::SaveChanges", MAPI_E_DISK_ERROR, 1, 1);  // the statistics' save
  EXPECT_FALSE(pager_.SaveChanges());
  ClearMapiFailuresForTesting();
  EXPECT_TRUE(pager_.SaveChanges());

  PagerImp reader(nullptr);
  ASSERT_EQ(reader.Open(store_, false, true), Pager::kOpened);
  std::int32_t number = 0;
  EXPECT_TRUE(reader.GetConfigStore().GetLong(kLong, &number));
  EXPECT_EQ(number, 8);
  EXPECT_TRUE(reader.GetStatsStore().GetLong(kStat6005, &number));
  EXPECT_EQ(number, 2);
}

TEST_F(PagerMailboxTest, ResetDeletesTheFolderSoThatTheNextCreateStartsAfresh) {
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  ASSERT_TRUE(pager_.GetConfigStore().SetLong(kLong, 8));
  ASSERT_TRUE(pager_.SaveChanges());

  EXPECT_TRUE(pager_.Reset());
  EXPECT_FALSE(pager_.IsOpen());
  EXPECT_FALSE(HiddenFolder());
  EXPECT_TRUE(pager_.PingMailbox());  // the store stays held
  std::int32_t number = 0;
  EXPECT_FALSE(pager_.GetConfigStore().GetLong(kLong, &number));
  EXPECT_TRUE(pager_.Reset());  // no folder left: still a success

  EXPECT_EQ(pager_.Open(store_, false, true), Pager::kNoFolder);
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  EXPECT_FALSE(pager_.GetConfigStore().GetLong(kLong, &number));
  EXPECT_EQ(MessageClasses(HiddenFolder()), (std::vector<std::string>{kHandheldConfigClass, kHandheldStatsClass}));
}

TEST_F(PagerMailboxTest, DeletingTheFolderOfAStoreNeedsNoOpenObject) {
  EXPECT_TRUE(pager_.DeleteHandheldInfoFolder(store_));  // none there
  {
    PagerImp other(nullptr);
    ASSERT_EQ(other.Open(store_, true, true), Pager::kOpened);
  }
  ASSERT_TRUE(HiddenFolder());
  EXPECT_TRUE(pager_.DeleteHandheldInfoFolder(store_));
  EXPECT_FALSE(HiddenFolder());
  FailMapiCallForTesting("IMsgStore::OpenEntry", MAPI_E_CALL_FAILED);
  EXPECT_FALSE(pager_.DeleteHandheldInfoFolder(store_));
}

TEST_F(PagerMailboxTest, OpeningAnotherStoreClosesTheFirstBinding) {
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);
  ASSERT_TRUE(pager_.GetConfigStore().SetString(kText, "alice"));
  ASSERT_TRUE(pager_.SaveChanges());
  auto bob = OpenStoreByName(session_, kBobMailbox);
  ASSERT_EQ(pager_.Open(bob, true, true), Pager::kOpened);
  char text[8];
  EXPECT_FALSE(pager_.GetConfigStore().GetString(kText, text, sizeof text));
  pager_.Close();
  EXPECT_FALSE(pager_.IsOpen());
  EXPECT_FALSE(pager_.PingMailbox());
  EXPECT_FALSE(pager_.GetConfigStore().SetString(kText, "closed"));
}

class CountingListener : public PagerChangeListener {
 public:
  void OnPagerChange(std::int32_t, void*) override { ++calls; }
  int calls = 0;
};

TEST_F(PagerMailboxTest, TheListenerIsKeptUntilTheObjectCloses) {
  CountingListener listener;
  EXPECT_FALSE(pager_.EnableNotifications(&listener));  // closed: nothing to register with
  EXPECT_EQ(pager_.GetListener(), &listener);
  ASSERT_EQ(pager_.Open(store_, true, true), Pager::kOpened);  // Open closes first
  EXPECT_EQ(pager_.GetListener(), nullptr);
  pager_.EnableNotifications(&listener);
  EXPECT_EQ(pager_.GetListener(), &listener);
  EXPECT_TRUE(pager_.EnableNotifications(nullptr));
  EXPECT_EQ(pager_.GetListener(), nullptr);
  EXPECT_EQ(listener.calls, 0);
}

// The process-wide logger with captures in its slots, at level 4, for the
// test's length.
class PagerLogTest : public PagerMailboxTest {
 protected:
  void SetUp() override {
    PagerMailboxTest::SetUp();
    DebugLogSettings settings;
    settings.DebugLogLevel = 4;
    settings.defaultDebugLogLevel = 4;
    ASSERT_TRUE(GetDebugLogger().Configure(settings, capture_.Take()));
    ASSERT_TRUE(GetDebugLogger().Start());
    while (!GetDebugLogger().IsActive()) std::this_thread::yield();
  }
  void TearDown() override {
    GetDebugLogger().Stop();
    PagerMailboxTest::TearDown();
  }
  // Stops the logger; the lines of the debug-file slot.
  std::vector<std::wstring> Written() {
    GetDebugLogger().Stop();
    return capture_[LogSlot::kDebugFile].Texts();
  }

  CaptureSet capture_;
};

TEST_F(PagerLogTest, SavesAndWrongFolderContentsAreLogged) {
  _com_ptr_t<IMAPIFolder> folder;
  ASSERT_EQ(OpenOrCreateFolder(root_, kHandheldInfoFolderName, true, &folder), S_OK);
  EXPECT_EQ(pager_.Open(store_, false, true), Pager::kBadFolderContents);
  AddMessage(folder, kHandheldConfigClass);
  AddMessage(folder, kHandheldStatsClass);
  ASSERT_EQ(pager_.Open(store_, false, true), Pager::kOpened);
  ASSERT_TRUE(pager_.GetConfigStore().SetLong(kLong, 8));
  ASSERT_TRUE(pager_.GetConfigStore().SetString(kText, "abc"));
  ASSERT_TRUE(pager_.SaveChanges());
  FailMapiCallForTesting("IMAPIProp::SaveChanges", MAPI_E_DISK_ERROR, 0, 1);
  ASSERT_TRUE(pager_.GetConfigStore().SetLong(kLong, 9));
  EXPECT_FALSE(pager_.SaveChanges());

  const std::vector<std::wstring> lines = Written();
  auto has = [&](const std::wstring& text) {
    for (const std::wstring& line : lines) {
      if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(has(L"The handheld information folder holds 0 messages, not 2"));
  EXPECT_TRUE(has(L"Found folder QuorrelHandheldInfo"));
  EXPECT_TRUE(has(L"User : 0, 5 Size = 7"));
  EXPECT_TRUE(has(L"MAPI extended error: "));
}

}  // namespace
}  // namespace morvale::testing
