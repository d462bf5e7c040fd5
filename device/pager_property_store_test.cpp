#include "device/pager_property_store.h"

#include <cwchar>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/mailbox_fixture_for_tests.h"
#include "foundation/time_convert.h"

namespace morvale::testing {
namespace {

constexpr ULONG kNotListed = 0x60960003;

// The index of `tag` in the configuration list.
ULONG IndexOf(ULONG tag) {
  const SPropTagArray* tags = HandheldConfigTags();
  for (ULONG i = 0; i < tags->cValues; ++i) {
    if (tags->aulPropTag[i] == tag) return i;
  }
  ADD_FAILURE() << std::hex << tag << " is not listed";
  return 0;
}

// A configuration message in alice's hidden folder, and a store attached
// to it.
class PropertyStoreTest : public DeviceMailboxTest {
 protected:
  void SetUp() override {
    DeviceMailboxTest::SetUp();
    ASSERT_EQ(OpenOrCreateFolder(root_, kHandheldInfoFolderName, true, &folder_), S_OK);
    entryId_ = AddMessage(folder_, kHandheldConfigClass);
    ASSERT_FALSE(entryId_.empty());
    ASSERT_TRUE(Attach(store, folder_));
  }

  bool Attach(PagerPropertyStore& target, IMAPIFolder* folder) {
    return target.Attach(folder, reinterpret_cast<const BYTE*>(entryId_.data()),
                         static_cast<ULONG>(entryId_.size()), HandheldConfigTags());
  }

  // The message as another session sees it, opened for writing.
  _com_ptr_t<IMessage> OtherHandle() {
    other_ = LogOn("Test");
    return OpenObject<IMessage>(OpenStoreByName(other_, kAliceMailbox), entryId_);
  }

  // A second store on the message, through another session.
  bool AttachFresh(PagerPropertyStore& target) {
    fresh_ = LogOn("Test");
    auto store = OpenStoreByName(fresh_, kAliceMailbox);
    _com_ptr_t<IMAPIFolder> folder;
    EXPECT_EQ(OpenOrCreateFolder(Root(store), kHandheldInfoFolderName, false, &folder), S_OK);
    return Attach(target, folder);
  }

  _com_ptr_t<IMAPIFolder> folder_;
  std::string entryId_;
  PagerPropertyStore store;
  _com_ptr_t<IMAPISession> other_;
  _com_ptr_t<IMAPISession> fresh_;
};

TEST_F(PropertyStoreTest, EveryKindOfValueIsSavedAndLoadedByAnotherStore) {
  const BYTE bytes[] = {0, 1, 2, 0xFF};
  ASSERT_TRUE(store.SetString(kText, "text"));
  ASSERT_TRUE(store.SetWideString(kWide, L"w\u00eede \u4e2d"));
  ASSERT_TRUE(store.SetLong(kLong, -42));
  ASSERT_TRUE(store.SetBool(kFlag, true));
  ASSERT_TRUE(store.SetBinary(kBinary, bytes, sizeof bytes));
  ASSERT_TRUE(store.SetTime(kTime, 1700000000));
  ASSERT_TRUE(store.SetStringList(kList, {"one", "", "three"}));
  std::set<ULONG> saved{999};
  std::uint64_t size = 0;
  ASSERT_EQ(store.Save(&saved, &size), S_OK);
  EXPECT_EQ(saved, (std::set<ULONG>{IndexOf(kText), IndexOf(kWide), IndexOf(kLong), IndexOf(kFlag),
                                    IndexOf(kBinary), IndexOf(kTime), IndexOf(kList)}));
  EXPECT_EQ(size, 4u + 6 * sizeof(wchar_t) + 4 + 4 + 4 + 8 + 8);

  PagerPropertyStore reader;
  ASSERT_TRUE(AttachFresh(reader));
  char text[16];
  EXPECT_TRUE(reader.GetString(kText, text, sizeof text));
  EXPECT_STREQ(text, "text");
  wchar_t wide[16];
  EXPECT_TRUE(reader.GetWideString(kWide, wide, 16));
  EXPECT_STREQ(wide, L"w\u00eede \u4e2d");
  std::int32_t number = 0;
  EXPECT_TRUE(reader.GetLong(kLong, &number));
  EXPECT_EQ(number, -42);
  bool flag = false;
  EXPECT_TRUE(reader.GetBool(kFlag, &flag));
  EXPECT_TRUE(flag);
  BYTE block[8];
  std::uint32_t blockSize = sizeof block;
  EXPECT_TRUE(reader.GetBinary(kBinary, block, &blockSize));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), blockSize),
            std::string(reinterpret_cast<const char*>(bytes), sizeof bytes));
  std::int64_t seconds = 0;
  EXPECT_TRUE(reader.GetTime(kTime, &seconds));
  EXPECT_EQ(seconds, 1700000000);
  std::vector<std::string> list;
  EXPECT_TRUE(reader.GetStringList(kList, &list));
  EXPECT_EQ(list, (std::vector<std::string>{"one", "", "three"}));
  std::int32_t length = 0;
  EXPECT_TRUE(reader.GetStringSize(kWide, &length));
  EXPECT_EQ(length, 7);
  EXPECT_TRUE(reader.GetStringSize(kText, &length));
  EXPECT_EQ(length, 5);
}

TEST_F(PropertyStoreTest, WhatTheMessageDoesNotHoldReadsAsNotFoundWithClearedOutput) {
  char text[8] = "old";
  EXPECT_FALSE(store.GetString(kText, text, sizeof text));
  EXPECT_STREQ(text, "");
  wchar_t wide[8] = L"old";
  EXPECT_FALSE(store.GetWideString(kWide, wide, 8));
  EXPECT_STREQ(wide, L"");
  std::int32_t number = 5;
  EXPECT_FALSE(store.GetLong(kLong, &number));
  EXPECT_EQ(number, 0);
  bool flag = true;
  EXPECT_FALSE(store.GetBool(kFlag, &flag));
  EXPECT_TRUE(flag);  // untouched
  std::uint32_t size = 5;
  EXPECT_FALSE(store.GetBinarySize(kBinary, &size));
  EXPECT_EQ(size, 0u);
  std::int64_t seconds = 5;
  EXPECT_FALSE(store.GetTime(kTime, &seconds));
  EXPECT_EQ(seconds, 0);
  std::vector<std::string> list{"old"};
  EXPECT_FALSE(store.GetStringList(kList, &list));
  EXPECT_TRUE(list.empty());
  std::int32_t length = 0;
  EXPECT_FALSE(store.GetStringSize(kText, &length));
}

TEST_F(PropertyStoreTest, TagsOutsideTheListOrOfAnotherTypeAreRefused) {
  std::int32_t number = 0;
  EXPECT_FALSE(store.SetLong(kNotListed, 1));
  EXPECT_FALSE(store.GetLong(kNotListed, &number));
  EXPECT_FALSE(store.Increment(kNotListed));
  // 0x601D is listed as narrow and as wide text, nothing else.
  EXPECT_FALSE(store.SetLong(CHANGE_PROP_TYPE(kNarrowName, PT_LONG), 1));
  EXPECT_FALSE(store.SetLong(kText, 1));
  EXPECT_FALSE(store.SetString(kLong, "1"));
  EXPECT_FALSE(store.SetBinary(kText, reinterpret_cast<const BYTE*>("1"), 1));
  EXPECT_FALSE(store.SetTime(kLong, 1));
  EXPECT_FALSE(store.SetStringList(kText, {"1"}));
  ASSERT_TRUE(store.SetString(kText, "text"));
  char text[8];
  EXPECT_TRUE(store.GetString(kText, text, sizeof text));
  EXPECT_FALSE(store.GetLong(kText, &number));
  std::uint32_t size = 0;
  EXPECT_FALSE(store.GetBinarySize(kText, &size));
  std::set<ULONG> saved;
  ASSERT_EQ(store.Save(&saved), S_OK);
  EXPECT_EQ(saved, std::set<ULONG>{IndexOf(kText)});
}

TEST_F(PropertyStoreTest, BufferReadsNeedRoomForTheWholeValue) {
  ASSERT_TRUE(store.SetString(kText, "four"));
  ASSERT_TRUE(store.SetWideString(kWide, L"four"));
  const BYTE bytes[] = {1, 2, 3};
  ASSERT_TRUE(store.SetBinary(kBinary, bytes, sizeof bytes));

  char text[5];
  EXPECT_FALSE(store.GetString(kText, text, 4));  // no room for the terminator
  EXPECT_STREQ(text, "");
  EXPECT_TRUE(store.GetString(kText, text, 5));
  EXPECT_STREQ(text, "four");
  wchar_t wide[5];
  EXPECT_FALSE(store.GetWideString(kWide, wide, 4));
  EXPECT_STREQ(wide, L"");
  EXPECT_TRUE(store.GetWideString(kWide, wide, 5));

  BYTE block[3] = {9, 9, 9};
  std::uint32_t size = 2;
  EXPECT_FALSE(store.GetBinary(kBinary, block, &size));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[1], 0);
  EXPECT_EQ(block[2], 9);  // beyond the size given
  size = 3;
  EXPECT_TRUE(store.GetBinary(kBinary, block, &size));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(block[2], 3);
}

TEST_F(PropertyStoreTest, WritingAnEqualValueMarksNothingAndSavesNothing) {
  ASSERT_TRUE(store.SetLong(kLong, 7));
  ASSERT_TRUE(store.SetStringList(kList, {"a", "b"}));
  ASSERT_EQ(store.Save(), S_OK);

  EXPECT_TRUE(store.SetLong(kLong, 7));
  EXPECT_TRUE(store.SetStringList(kList, {"b", "a"}));  // same strings, other order
  FailMapiCallForTesting("IMAPIProp::SetProps", MAPI_E_CALL_FAILED);
  std::set<ULONG> saved{42};
  std::uint64_t size = 9;
  EXPECT_EQ(store.Save(&saved, &size), S_OK);
  EXPECT_EQ(saved, std::set<ULONG>{42});
  EXPECT_EQ(size, 0u);
}

TEST_F(PropertyStoreTest, AnEmptyBlockIsEqualToTheEmptyBlockHeld) {
  const BYTE bytes[] = {1};
  ASSERT_TRUE(store.SetBinary(kBinary, bytes, 0));
  ASSERT_EQ(store.Save(), S_OK);

  // However the caller points at its empty block, it is the value held.
  EXPECT_TRUE(store.SetBinary(kBinary, bytes, 0));
  EXPECT_TRUE(store.SetBinary(kBinary, nullptr, 0));
  FailMapiCallForTesting("IMAPIProp::SetProps", MAPI_E_CALL_FAILED);
  std::set<ULONG> saved{42};
  EXPECT_EQ(store.Save(&saved), S_OK);
  EXPECT_EQ(saved, std::set<ULONG>{42}) << "nothing was written";
}

TEST_F(PropertyStoreTest, ListsCountersAndTimesFollowTheirRules) {
  ASSERT_TRUE(store.SetStringList(kList, {}));
  std::vector<std::string> list{"old"};
  EXPECT_TRUE(store.GetStringList(kList, &list));
  EXPECT_TRUE(list.empty());
  ASSERT_TRUE(store.SetStringList(kList, {"x", "x", "y"}));
  EXPECT_TRUE(store.SetStringList(kList, {"x", "y", "y"}));  // not the same: the counts differ
  EXPECT_TRUE(store.GetStringList(kList, &list));
  EXPECT_EQ(list, (std::vector<std::string>{"x", "y", "y"}));

  std::int32_t counter = 0;
  ASSERT_TRUE(store.Increment(kOtherLong, &counter));
  EXPECT_EQ(counter, 1);
  ASSERT_TRUE(store.Increment(kOtherLong, &counter));
  EXPECT_EQ(counter, 2);
  ASSERT_TRUE(store.SetLong(kOtherLong, 0x7FFFFFFF));
  ASSERT_TRUE(store.Increment(kOtherLong, &counter));
  EXPECT_EQ(counter, -0x7FFFFFFF - 1);

  std::int64_t seconds = 1;
  // 1970 itself, before it, and the zero FILETIME (1601).
  for (std::int64_t stored : {std::int64_t{0}, std::int64_t{-3600}, std::int64_t{-11644473600}}) {
    SCOPED_TRACE(stored);
    ASSERT_TRUE(store.SetTime(kTime, stored));
    EXPECT_FALSE(store.GetTime(kTime, &seconds));
    EXPECT_EQ(seconds, 0);
  }
  ASSERT_TRUE(store.SetTime(kTime, 1));
  EXPECT_TRUE(store.GetTime(kTime, &seconds));
  EXPECT_EQ(seconds, 1);
}

TEST_F(PropertyStoreTest, AReloadKeepsUnsavedWritesAndTheChangedSetMatchesThem) {
  ASSERT_TRUE(store.SetLong(kLong, 1));
  ASSERT_EQ(store.Save(), S_OK);

  // Another writer changes one value and adds another.
  auto other = OtherHandle();
  ASSERT_EQ(Set(other, LongProp(kLong, 2)), S_OK);
  ASSERT_EQ(Set(other, LongProp(kFlag, 1)), S_OK);
  ASSERT_EQ(other->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

  // Unsaved here: a change of a value the message holds, and a value the
  // message does not hold yet.
  ASSERT_TRUE(store.SetLong(kFlag, 0));
  ASSERT_TRUE(store.SetString(kText, "pending"));
  ASSERT_EQ(store.Load(), S_OK);
  std::int32_t number = 0;
  EXPECT_TRUE(store.GetLong(kLong, &number));
  EXPECT_EQ(number, 2);
  EXPECT_TRUE(store.GetLong(kFlag, &number));
  EXPECT_EQ(number, 0);
  char text[16];
  EXPECT_TRUE(store.GetString(kText, text, sizeof text));
  EXPECT_STREQ(text, "pending");

  std::set<ULONG> saved;
  ASSERT_EQ(store.Save(&saved), S_OK);
  EXPECT_EQ(saved, (std::set<ULONG>{IndexOf(kFlag), IndexOf(kText)}));
  PagerPropertyStore reader;
  ASSERT_TRUE(AttachFresh(reader));
  EXPECT_TRUE(reader.GetLong(kLong, &number));
  EXPECT_EQ(number, 2);
  EXPECT_TRUE(reader.GetLong(kFlag, &number));
  EXPECT_EQ(number, 0);
  EXPECT_TRUE(reader.GetString(kText, text, sizeof text));
  EXPECT_STREQ(text, "pending");
}

TEST_F(PropertyStoreTest, ASaveConflictIsWrittenAgainOnTheMessageOpenedAfresh) {
  // Another writer saves after this store loaded the message.
  auto other = OtherHandle();
  ASSERT_EQ(Set(other, LongProp(kOtherLong, 5)), S_OK);
  ASSERT_EQ(other->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

  ASSERT_TRUE(store.SetLong(kLong, 6));
  std::set<ULONG> saved;
  ASSERT_EQ(store.Save(&saved), S_OK);
  EXPECT_EQ(saved, std::set<ULONG>{IndexOf(kLong)});
  // Both writers' values are in the message.
  PagerPropertyStore reader;
  ASSERT_TRUE(AttachFresh(reader));
  std::int32_t number = 0;
  EXPECT_TRUE(reader.GetLong(kOtherLong, &number));
  EXPECT_EQ(number, 5);
  EXPECT_TRUE(reader.GetLong(kLong, &number));
  EXPECT_EQ(number, 6);
}

TEST_F(PropertyStoreTest, TenConflictsInARowLeaveTheValuesPendingForTheNextSave) {
  ASSERT_TRUE(store.SetLong(kLong, 6));
  FailMapiCallForTesting("IMAPIProp::SaveChanges", MAPI_E_OBJECT_CHANGED, 0, 10);
  std::set<ULONG> saved{42};
  EXPECT_EQ(store.Save(&saved), MAPI_E_OBJECT_CHANGED);
  EXPECT_EQ(saved, std::set<ULONG>{42});
  MAPIERROR* error = nullptr;
  EXPECT_TRUE(store.TakeLastError(&error));
  MAPIFreeBuffer(error);
  PagerPropertyStore reader;
  ASSERT_TRUE(AttachFresh(reader));
  std::int32_t number = 0;
  EXPECT_FALSE(reader.GetLong(kLong, &number));

  // Nine conflicts: the tenth try succeeds.
  ASSERT_TRUE(store.SetLong(kOtherLong, 7));
  FailMapiCallForTesting("IMAPIProp::SaveChanges", MAPI_E_OBJECT_CHANGED, 0, 9);
  ASSERT_EQ(store.Save(&saved), S_OK);
  EXPECT_EQ(saved, (std::set<ULONG>{IndexOf(kLong), IndexOf(kOtherLong)}));
  ASSERT_EQ(reader.Load(), S_OK);
  EXPECT_TRUE(reader.GetLong(kLong, &number));
  EXPECT_EQ(number, 6);
}

TEST_F(PropertyStoreTest, OtherSaveFailuresKeepTheValuesPendingToo) {
  ASSERT_TRUE(store.SetLong(kLong, 6));
  FailMapiCallForTesting("IMAPIProp::SetProps", MAPI_E_NO_ACCESS, 0, 1);
  EXPECT_EQ(store.Save(), E_FAIL);
  FailMapiCallForTesting("IMAPIProp::SaveChanges", MAPI_E_DISK_ERROR, 0, 1);
  EXPECT_EQ(store.Save(), MAPI_E_DISK_ERROR);
  std::set<ULONG> saved;
  ASSERT_EQ(store.Save(&saved), S_OK);
  EXPECT_EQ(saved, std::set<ULONG>{IndexOf(kLong)});
}

TEST_F(PropertyStoreTest, ValuesTooLargeForOneReadComeThroughStreams) {
  const std::string bytes(40000, '\x5A');
  const std::string text(kMapiLargeValueBytes + 10, 'n');
  const std::wstring wide(kMapiLargeValueBytes / sizeof(wchar_t) + 10, L'\u00e9');
  ASSERT_TRUE(store.SetBinary(kBinary, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<std::uint32_t>(bytes.size())));
  ASSERT_TRUE(store.SetString(kText, text.c_str()));
  ASSERT_TRUE(store.SetWideString(kWide, wide.c_str()));
  ASSERT_TRUE(store.SetLong(kLong, 3));
  ASSERT_EQ(store.Save(), S_OK);

  PagerPropertyStore reader;
  ASSERT_TRUE(AttachFresh(reader));
  std::vector<BYTE> block(bytes.size());
  std::uint32_t size = static_cast<std::uint32_t>(block.size());
  ASSERT_TRUE(reader.GetBinary(kBinary, block.data(), &size));
  EXPECT_EQ(std::string(block.begin(), block.end()), bytes);
  std::string readText(text.size() + 1, '\0');
  ASSERT_TRUE(reader.GetString(kText, readText.data(), static_cast<ULONG>(readText.size())));
  EXPECT_EQ(readText.c_str(), text);
  std::wstring readWide(wide.size() + 1, L'\0');
  ASSERT_TRUE(reader.GetWideString(kWide, readWide.data(), static_cast<ULONG>(readWide.size())));
  EXPECT_EQ(readWide.c_str(), wide);
  std::int32_t number = 0;
  EXPECT_TRUE(reader.GetLong(kLong, &number));
}

TEST_F(PropertyStoreTest, WhenTheBulkReadRunsOutOfMemoryAbsentListsDoNotFailTheLoad) {
  ASSERT_TRUE(store.SetStringList(kList, {"held"}));
  ASSERT_TRUE(store.SetLong(kLong, 4));
  ASSERT_TRUE(store.SetString(kNarrowName, "name"));
  ASSERT_EQ(store.Save(), S_OK);

  // The first read of the whole list fails; the single-valued tags are read
  // in bulk, the lists one by one, and the last of them is not in the
  // message.
  FailMapiCallForTesting("IMAPIProp::GetProps", MAPI_E_NOT_ENOUGH_MEMORY, 0, 1);
  PagerPropertyStore reader;
  ASSERT_TRUE(AttachFresh(reader));
  std::vector<std::string> list;
  EXPECT_TRUE(reader.GetStringList(kList, &list));
  EXPECT_EQ(list, std::vector<std::string>{"held"});
  EXPECT_FALSE(reader.GetStringList(kOtherList, &list));
  std::int32_t number = 0;
  EXPECT_TRUE(reader.GetLong(kLong, &number));
  EXPECT_EQ(number, 4);
  char text[8];
  EXPECT_TRUE(reader.GetString(kNarrowName, text, sizeof text));
  EXPECT_STREQ(text, "name");
}

TEST_F(PropertyStoreTest, AValueThatCannotBeReadFailsTheLoadAndKeepsThePreviousValues) {
  const std::string bytes(40000, '\x5A');
  ASSERT_TRUE(store.SetBinary(kBinary, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<std::uint32_t>(bytes.size())));
  ASSERT_TRUE(store.SetLong(kLong, 4));
  ASSERT_EQ(store.Save(), S_OK);
  ASSERT_EQ(store.Load(), S_OK);

  ASSERT_EQ(Set(OtherHandle(), LongProp(kLong, 5)), S_OK);
  FailMapiCallForTesting("IMAPIProp::OpenProperty", MAPI_E_CALL_FAILED, 0, 1);
  EXPECT_EQ(store.Load(), MAPI_E_CALL_FAILED);
  std::int32_t number = 0;
  EXPECT_TRUE(store.GetLong(kLong, &number));
  EXPECT_EQ(number, 4);
  std::uint32_t size = 0;
  EXPECT_TRUE(store.GetBinarySize(kBinary, &size));
  EXPECT_EQ(size, bytes.size());
}

TEST_F(PropertyStoreTest, ALoadThatCannotOpenTheMessageKeepsValuesAndChanges) {
  ASSERT_TRUE(store.SetLong(kLong, 4));
  FailMapiCallForTesting("IMAPIContainer::OpenEntry", MAPI_E_NOT_FOUND, 0, 1);
  EXPECT_EQ(store.Load(), MAPI_E_NOT_FOUND);
  MAPIERROR* error = nullptr;
  EXPECT_TRUE(store.TakeLastError(&error));
  MAPIFreeBuffer(error);
  EXPECT_FALSE(store.TakeLastError(&error));
  std::int32_t number = 0;
  EXPECT_TRUE(store.GetLong(kLong, &number));
  // No message is held now: the save fails and the change stays.
  EXPECT_EQ(store.Save(), E_FAIL);
  ASSERT_EQ(store.Load(), S_OK);
  std::set<ULONG> saved;
  ASSERT_EQ(store.Save(&saved), S_OK);
  EXPECT_EQ(saved, std::set<ULONG>{IndexOf(kLong)});
}

TEST_F(PropertyStoreTest, DeletedPropertiesLeaveMemoryAndMessage) {
  ASSERT_TRUE(store.SetLong(kLong, 4));
  ASSERT_TRUE(store.SetLong(kFlag, 1));
  ASSERT_EQ(store.Save(), S_OK);
  ASSERT_TRUE(store.SetLong(kFlag, 0));
  store.DeleteProperty(kFlag);
  store.DeleteProperty(kText);  // not held: nothing happens
  std::int32_t number = 0;
  EXPECT_FALSE(store.GetLong(kFlag, &number));
  std::set<ULONG> saved{42};
  EXPECT_EQ(store.Save(&saved), S_OK);
  EXPECT_EQ(saved, std::set<ULONG>{42});  // the pending change went with the value

  PagerPropertyStore reader;
  ASSERT_TRUE(AttachFresh(reader));
  EXPECT_FALSE(reader.GetLong(kFlag, &number));
  EXPECT_TRUE(reader.GetLong(kLong, &number));
}

TEST_F(PropertyStoreTest, AttachRefusesWhatIsNoMessageAndClearForgetsEverything) {
  PagerPropertyStore other;
  const BYTE id[] = {1};
  EXPECT_FALSE(other.Attach(nullptr, id, 1, HandheldConfigTags()));
  EXPECT_FALSE(other.Attach(folder_, id, 0, HandheldConfigTags()));
  EXPECT_FALSE(other.Attach(folder_, id, 1, nullptr));
  MAPIERROR* error = nullptr;
  EXPECT_FALSE(other.TakeLastError(&error));

  // A bad entry id: the folder's error is kept for the caller.
  EXPECT_FALSE(other.Attach(folder_, id, 1, HandheldConfigTags()));
  EXPECT_TRUE(other.TakeLastError(&error));
  MAPIFreeBuffer(error);
  // The folder's own entry id is no message.
  auto folderId = Get(folder_, PR_ENTRYID);
  EXPECT_FALSE(other.Attach(folder_, folderId->Value.bin.lpb, folderId->Value.bin.cb, HandheldConfigTags()));
  std::vector<BYTE> entryId;
  EXPECT_FALSE(other.GetEntryId(&entryId));
  EXPECT_FALSE(other.SetLong(kLong, 1));
  EXPECT_EQ(other.Save(), E_FAIL);

  EXPECT_TRUE(store.GetEntryId(&entryId));
  EXPECT_EQ(std::string(entryId.begin(), entryId.end()), entryId_);
  ASSERT_TRUE(store.SetLong(kLong, 1));
  store.Clear();
  std::int32_t number = 0;
  EXPECT_FALSE(store.GetLong(kLong, &number));
  EXPECT_FALSE(store.SetLong(kLong, 2));
  EXPECT_FALSE(store.GetEntryId(&entryId));
  EXPECT_EQ(store.Save(), E_FAIL);
  EXPECT_EQ(store.Load(), E_FAIL);
}

TEST(PropertyStoreTags, ListsHoldTheirFixedTags) {
  const SPropTagArray* config = HandheldConfigTags();
  ASSERT_EQ(config->cValues, 102u);
  EXPECT_EQ(config->aulPropTag[0], 0x6001001Eu);
  EXPECT_EQ(config->aulPropTag[27], 0x601D001Fu);
  EXPECT_EQ(config->aulPropTag[101], 0x6098101Eu);
  for (ULONG i = 0; i < config->cValues; ++i) EXPECT_NE(PROP_ID(config->aulPropTag[i]), 0x6096u);
  const SPropTagArray* stats = HandheldStatsTags();
  ASSERT_EQ(stats->cValues, 11u);
  EXPECT_EQ(stats->aulPropTag[0], 0x60010040u);
  EXPECT_EQ(stats->aulPropTag[10], 0x600B0003u);
}

}  // namespace
}  // namespace morvale::testing
