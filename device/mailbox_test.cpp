#include "device/mailbox.h"

#include <gtest/gtest.h>

#include "device/mailbox_fixture_for_tests.h"

namespace morvale::testing {
namespace {

class MailboxTest : public DeviceMailboxTest {};

TEST_F(MailboxTest, FolderIsCreatedOnlyWhenAskedAndFoundByNameIgnoringCase) {
  _com_ptr_t<IMAPIFolder> folder;
  EXPECT_EQ(OpenOrCreateFolder(root_, kHandheldInfoFolderName, false, &folder), MAPI_E_NOT_FOUND);
  EXPECT_FALSE(folder);

  ASSERT_EQ(OpenOrCreateFolder(root_, kHandheldInfoFolderName, true, &folder), S_OK);
  ASSERT_TRUE(folder);
  auto name = Get(folder, PR_DISPLAY_NAME_A);
  ASSERT_TRUE(name);
  EXPECT_STREQ(name->Value.lpszA, "QuorrelHandheldInfo");
  auto created = Get(folder, PR_ENTRYID);
  ASSERT_TRUE(created);

  // Found afterwards, from another session too, whatever the case of the
  // name asked for; asking to create again finds the same folder.
  for (const char* asked : {"QuorrelHandheldInfo", "quorrelhandheldinfo"}) {
    SCOPED_TRACE(asked);
    for (bool create : {false, true}) {
      auto session = LogOn("Test");
      auto store = OpenStoreByName(session, kAliceMailbox);
      _com_ptr_t<IMAPIFolder> found;
      ASSERT_EQ(OpenOrCreateFolder(Root(store), asked, create, &found), S_OK);
      auto id = Get(found, PR_ENTRYID);
      ASSERT_TRUE(id);
      EXPECT_EQ(Bytes(id->Value.bin), Bytes(created->Value.bin));
    }
  }
  // The found folder is open for writing.
  EXPECT_EQ(Set(HiddenFolder(), TextProp(PR_COMMENT_A, "writable")), S_OK);
}

TEST_F(MailboxTest, MessagesOfAClassAreCreatedSavedOrHandedOverUnsaved) {
  _com_ptr_t<IMAPIFolder> folder;
  ASSERT_EQ(OpenOrCreateFolder(root_, kHandheldInfoFolderName, true, &folder), S_OK);
  const std::string config = AddMessage(folder, kHandheldConfigClass);
  ASSERT_FALSE(config.empty());
  auto message = OpenObject<IMessage>(store_, config);
  auto messageClass = Get(message, PR_MESSAGE_CLASS_A);
  ASSERT_TRUE(messageClass);
  EXPECT_STREQ(messageClass->Value.lpszA, "ZEV.Quorrel.Handheld.Config");

  // Handed over: it exists only once it is saved.
  std::vector<BYTE> entryId{1, 2, 3};
  _com_ptr_t<IMessage> unsaved;
  ASSERT_EQ(CreateMessageOfClass(folder, kHandheldStatsClass, &entryId, &unsaved), S_OK);
  EXPECT_TRUE(entryId.empty());
  EXPECT_EQ(MessageClasses(folder), std::vector<std::string>{kHandheldConfigClass});
  ASSERT_EQ(SaveMessageAndGetEntryId(unsaved, &entryId), S_OK);
  EXPECT_FALSE(entryId.empty());
  EXPECT_EQ(MessageClasses(folder), (std::vector<std::string>{kHandheldConfigClass, kHandheldStatsClass}));

  EXPECT_EQ(CreateMessageOfClass(nullptr, kHandheldStatsClass, &entryId), E_FAIL);
}

TEST_F(MailboxTest, DeletingTheFolderTakesItsMessagesAndAMissingFolderIsNoFailure) {
  _com_ptr_t<IMAPIFolder> folder;
  ASSERT_EQ(OpenOrCreateFolder(root_, kHandheldInfoFolderName, true, &folder), S_OK);
  AddMessage(folder, kHandheldConfigClass);
  AddMessage(folder, kHandheldStatsClass);
  folder = nullptr;

  EXPECT_EQ(DeleteFolderByName(root_, "QUORRELHANDHELDINFO"), S_OK);
  EXPECT_FALSE(HiddenFolder());
  EXPECT_EQ(DeleteFolderByName(root_, kHandheldInfoFolderName), S_OK);
  EXPECT_EQ(DeleteFolderByName(nullptr, kHandheldInfoFolderName), E_FAIL);
}

TEST_F(MailboxTest, FailuresOfTheHierarchyWalkAreReturned) {
  const struct {
    const char* call;
    HRESULT result;
  } cases[] = {
      {"IMAPIContainer::GetHierarchyTable", MAPI_E_NO_ACCESS},
      {"IMAPITable::SeekRow", MAPI_E_CALL_FAILED},
      {"IMAPITable::SetColumns", MAPI_E_BAD_COLUMN},
      {"IMAPITable::QueryRows", MAPI_E_CALL_FAILED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    FailMapiCallForTesting(c.call, c.result);
    _com_ptr_t<IMAPIFolder> folder;
    EXPECT_EQ(OpenOrCreateFolder(root_, kHandheldInfoFolderName, true, &folder), c.result);
    EXPECT_FALSE(folder);
    ClearMapiFailuresForTesting();
  }
  EXPECT_FALSE(HiddenFolder());
}

}  // namespace
}  // namespace morvale::testing
