#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/session_fixture_for_tests.h"

namespace morvale::testing {
namespace {

constexpr ULONG kConfig = PROP_TAG(PT_STRING8, 0x6001);
constexpr ULONG kCount = PROP_TAG(PT_LONG, 0x6006);
constexpr ULONG kBlob = PROP_TAG(PT_BINARY, 0x6002);

class StoreTest : public MapiSessionTest {
 protected:
  void SetUp() override {
    MapiSessionTest::SetUp();
    session_ = BuildAndLogOn(kMailboxOrganisation);
    store_ = OpenStoreByName(session_, kMailboxName);
    ASSERT_TRUE(store_);
    root_ = Root(store_);
  }

  _com_ptr_t<IMAPIFolder> CreateFolder(IMAPIFolder* parent, const char* name, ULONG flags = 0,
                                       HRESULT expected = S_OK) {
    IMAPIFolder* folder = nullptr;
    EXPECT_EQ(parent->CreateFolder(FOLDER_GENERIC, const_cast<char*>(name), nullptr, nullptr, flags,
                                   &folder),
              expected);
    return _com_ptr_t<IMAPIFolder>(folder, false);
  }

  _com_ptr_t<IMessage> NewMessage(IMAPIFolder* folder) {
    IMessage* message = nullptr;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, &message), S_OK);
    return _com_ptr_t<IMessage>(message, false);
  }

  std::string EntryId(IMAPIProp* object) {
    auto id = Get(object, PR_ENTRYID);
    return id ? Bytes(id->Value.bin) : std::string();
  }

  _com_ptr_t<IMessage> OpenMessage(IMsgStore* store, const std::string& id, ULONG flags = MAPI_MODIFY) {
    return OpenObject<IMessage>(store, id, flags);
  }

  MapiRows AllRows(IMAPITable* table, std::vector<ULONG> columns) {
    std::vector<ULONG> list{static_cast<ULONG>(columns.size())};
    list.insert(list.end(), columns.begin(), columns.end());
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(list.data()), nullptr, nullptr,
                             0, &rows),
              S_OK);
    return MapiRows(rows);
  }

  _com_ptr_t<IMAPISession> session_;
  _com_ptr_t<IMsgStore> store_;
  _com_ptr_t<IMAPIFolder> root_;
};

// The device object's way of finding its folder: the root's hierarchy
// table, one row at a time, by display name.
TEST_F(StoreTest, AFolderIsCreatedOnceAndFoundByNameInAnyCase) {
  auto made = CreateFolder(root_, "QuorrelHandheldInfo");
  ASSERT_TRUE(made);
  EXPECT_EQ(made->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  CreateFolder(root_, "quorrelhandheldinfo", 0, MAPI_E_COLLISION);
  auto again = CreateFolder(root_, "QUORRELHANDHELDINFO", OPEN_IF_EXISTS);
  EXPECT_EQ(EntryId(again), EntryId(made));
  CreateFolder(root_, "Other");

  IMAPITable* raw = nullptr;
  ASSERT_EQ(root_->GetHierarchyTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> table(raw, false);
  ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
  SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_OBJECT_TYPE}};
  ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
  std::vector<std::string> names;
  for (;;) {
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    MapiRows owned(rows);
    if (rows->cRows == 0) break;
    const SPropValue* row = rows->aRow[0].lpProps;
    EXPECT_EQ(row[2].Value.l, static_cast<LONG>(MAPI_FOLDER));
    names.push_back(row[1].Value.lpszA);
    if (names.back() == "QuorrelHandheldInfo") {
      ULONG type = 0;
      IUnknown* object = nullptr;
      ASSERT_EQ(root_->OpenEntry(row[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(row[0].Value.bin.lpb),
                                 nullptr, MAPI_MODIFY, &type, &object),
                S_OK);
      EXPECT_EQ(type, MAPI_FOLDER);
      object->Release();
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"QuorrelHandheldInfo", "Other"}));
}

TEST_F(StoreTest, EveryTypeOfValueIsSavedAndReadBackThroughAnotherHandle) {
  auto folder = CreateFolder(root_, "Info");
  auto message = NewMessage(folder);
  GUID guid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  LPSTR texts[] = {const_cast<char*>("one"), const_cast<char*>("two")};
  LONG longs[] = {1, -2, 3};
  const std::string blob("\0\1\2\3", 4);
  std::vector<SPropValue> values(12);
  values[0] = TextProp(PR_MESSAGE_CLASS_A, "ZEV.Quorrel.Handheld.Config");
  values[1] = LongProp(kCount, -42);
  values[2] = BinaryProp(kBlob, blob);
  values[3].ulPropTag = PROP_TAG(PT_BOOLEAN, 0x6010);
  values[3].Value.b = 7;  // any non-zero boolean is stored as 1
  values[4].ulPropTag = PROP_TAG(PT_SYSTIME, 0x6025);
  values[4].Value.ft = {0x89ABCDEF, 0x01D00000};
  values[5].ulPropTag = PROP_TAG(PT_DOUBLE, 0x6030);
  values[5].Value.dbl = 2.5;
  values[6].ulPropTag = PROP_TAG(PT_I8, 0x6031);
  values[6].Value.li.QuadPart = -5000000000LL;
  values[7].ulPropTag = PROP_TAG(PT_CLSID, 0x6032);
  values[7].Value.lpguid = &guid;
  values[8].ulPropTag = PROP_TAG(PT_MV_STRING8, 0x6095);
  values[8].Value.MVszA = {2, texts};
  values[9].ulPropTag = PROP_TAG(PT_MV_LONG, 0x6097);
  values[9].Value.MVl = {3, longs};
  values[10] = WideProp(PROP_TAG(PT_UNICODE, 0x6046), L"Zoë ☃");
  values[11].ulPropTag = PROP_TAG(PT_I2, 0x6033);
  values[11].Value.i = -3;
  LPSPropProblemArray problems = nullptr;
  ASSERT_EQ(message->SetProps(static_cast<ULONG>(values.size()), values.data(), &problems), S_OK);
  EXPECT_EQ(problems, nullptr);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

  auto reopened = OpenMessage(store_, EntryId(message));
  std::vector<ULONG> tags{static_cast<ULONG>(values.size())};
  for (const SPropValue& v : values) tags.push_back(v.ulPropTag);
  ULONG count = 0;
  LPSPropValue read = nullptr;
  ASSERT_EQ(reopened->GetProps(reinterpret_cast<LPSPropTagArray>(tags.data()), 0, &count, &read), S_OK);
  MapiBuffer<SPropValue> owned(read);
  ASSERT_EQ(count, values.size());
  for (ULONG i = 0; i < count; ++i) EXPECT_EQ(read[i].ulPropTag, values[i].ulPropTag) << i;
  EXPECT_STREQ(read[0].Value.lpszA, "ZEV.Quorrel.Handheld.Config");
  EXPECT_EQ(read[1].Value.l, -42);
  EXPECT_EQ(Bytes(read[2].Value.bin), std::string("\0\1\2\3", 4));
  EXPECT_EQ(read[3].Value.l, 1);  // the rest of the value field is zero
  EXPECT_EQ(read[4].Value.ft.dwLowDateTime, 0x89ABCDEFu);
  EXPECT_EQ(read[4].Value.ft.dwHighDateTime, 0x01D00000u);
  EXPECT_EQ(read[5].Value.dbl, 2.5);
  EXPECT_EQ(read[6].Value.li.QuadPart, -5000000000LL);
  EXPECT_TRUE(*read[7].Value.lpguid == guid);
  ASSERT_EQ(read[8].Value.MVszA.cValues, 2u);
  EXPECT_STREQ(read[8].Value.MVszA.lppszA[1], "two");
  ASSERT_EQ(read[9].Value.MVl.cValues, 3u);
  EXPECT_EQ(read[9].Value.MVl.lpl[1], -2);
  EXPECT_STREQ(read[10].Value.lpszW, L"Zoë ☃");
  EXPECT_EQ(read[11].Value.i, -3);
}

TEST_F(StoreTest, GetPropsMarksAbsentAndMismatchedValuesAndServesTextInBothWidths) {
  auto message = NewMessage(root_);
  ASSERT_EQ(Set(message, TextProp(kConfig, "narrow text")), S_OK);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  SizedSPropTagArray(5, tags) = {5, {PROP_TAG(PT_UNICODE, 0x6001), PROP_TAG(PT_UNSPECIFIED, 0x6001),
                                     kCount, PROP_TAG(PT_LONG, 0x6001), PR_OBJECT_TYPE}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values),
            MAPI_W_ERRORS_RETURNED);
  MapiBuffer<SPropValue> owned(values);
  EXPECT_STREQ(values[0].Value.lpszW, L"narrow text");
  EXPECT_EQ(values[1].ulPropTag, kConfig);  // unspecified: narrow without MAPI_UNICODE
  EXPECT_EQ(values[2].ulPropTag, PROP_TAG(PT_ERROR, 0x6006));
  EXPECT_EQ(values[2].Value.err, MAPI_E_NOT_FOUND);
  EXPECT_EQ(values[3].ulPropTag, PROP_TAG(PT_ERROR, 0x6001));
  EXPECT_EQ(values[4].Value.l, static_cast<LONG>(MAPI_MESSAGE));

  ULONG all = 0;
  LPSPropValue every = nullptr;
  ASSERT_EQ(message->GetProps(nullptr, MAPI_UNICODE, &all, &every), S_OK);
  MapiBuffer<SPropValue> ownedEvery(every);
  bool sawWide = false;
  for (ULONG i = 0; i < all; ++i) sawWide |= every[i].ulPropTag == PROP_TAG(PT_UNICODE, 0x6001);
  EXPECT_TRUE(sawWide);
}

TEST_F(StoreTest, ANewMessageExistsFromItsFirstSaveAndComputedValuesStayTheStores) {
  auto folder = CreateFolder(root_, "Info");
  auto message = NewMessage(folder);
  HRESULT error = S_OK;
  EXPECT_EQ(Get(message, PR_ENTRYID, &error), nullptr);
  EXPECT_EQ(error, MAPI_E_NOT_FOUND);
  IMAPITable* raw = nullptr;
  ASSERT_EQ(folder->GetContentsTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> contents(raw, false);
  EXPECT_EQ(AllRows(contents, {PR_ENTRYID})->cRows, 0u);

  const std::string x = "x";
  SPropValue computed[2] = {BinaryProp(PR_ENTRYID, x), LongProp(PR_OBJECT_TYPE, 9)};
  LPSPropProblemArray problems = nullptr;
  ASSERT_EQ(message->SetProps(2, computed, &problems), S_OK);
  ASSERT_NE(problems, nullptr);
  ASSERT_EQ(problems->cProblem, 2u);
  EXPECT_EQ(problems->aProblem[1].ulIndex, 1u);
  EXPECT_EQ(problems->aProblem[1].scode, MAPI_E_COMPUTED);
  MAPIFreeBuffer(problems);

  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  EXPECT_FALSE(EntryId(message).empty());
  EXPECT_EQ(AllRows(contents, {PR_ENTRYID})->cRows, 1u);
  auto parent = Get(message, PR_PARENT_ENTRYID);
  EXPECT_EQ(Bytes(parent->Value.bin), EntryId(folder));
}

TEST_F(StoreTest, DeletedValuesAreGoneAfterTheSave) {
  auto message = NewMessage(root_);
  ASSERT_EQ(Set(message, LongProp(kCount, 5)), S_OK);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  SizedSPropTagArray(2, tags) = {2, {kCount, PR_ENTRYID}};
  LPSPropProblemArray problems = nullptr;
  ASSERT_EQ(message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), &problems), S_OK);
  ASSERT_NE(problems, nullptr);
  EXPECT_EQ(problems->aProblem[0].ulPropTag, PR_ENTRYID);
  MAPIFreeBuffer(problems);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  HRESULT error = S_OK;
  EXPECT_EQ(Get(OpenMessage(store_, EntryId(message)), kCount, &error), nullptr);
  EXPECT_EQ(error, MAPI_E_NOT_FOUND);
}

// Values larger than the bulk read hands back come through a stream.
TEST_F(StoreTest, ALargeValueIsReadThroughAStream) {
  auto message = NewMessage(root_);
  const std::string big(kMapiLargeValueBytes + 1, 'b');
  ASSERT_EQ(Set(message, BinaryProp(kBlob, big)), S_OK);
  std::wstring wideText(100, L'€');
  ASSERT_EQ(Set(message, WideProp(PROP_TAG(PT_UNICODE, 0x6046), wideText.c_str())), S_OK);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

  HRESULT error = S_OK;
  EXPECT_EQ(Get(message, kBlob, &error), nullptr);
  EXPECT_EQ(error, MAPI_E_NOT_ENOUGH_MEMORY);

  IUnknown* object = nullptr;
  ASSERT_EQ(message->OpenProperty(kBlob, &IID_IStream, 0, 0, &object), S_OK);
  _com_ptr_t<IStream> stream(static_cast<IStream*>(object), false);
  LARGE_INTEGER move{};
  ULARGE_INTEGER end{};
  ASSERT_EQ(stream->Seek(move, STREAM_SEEK_END, &end), S_OK);
  EXPECT_EQ(end.QuadPart, big.size());
  ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, nullptr), S_OK);
  std::string read(big.size(), '\0');
  ULONG got = 0;
  ASSERT_EQ(stream->Read(read.data(), static_cast<ULONG>(read.size() + 10), &got), S_OK);
  EXPECT_EQ(got, big.size());
  EXPECT_EQ(read, big);

  ASSERT_EQ(message->OpenProperty(PROP_TAG(PT_UNICODE, 0x6046), &IID_IStream, 0, 0, &object), S_OK);
  _com_ptr_t<IStream> wide(static_cast<IStream*>(object), false);
  std::wstring units(100, L'\0');
  ASSERT_EQ(wide->Read(units.data(), 100 * sizeof(wchar_t), &got), S_OK);
  EXPECT_EQ(got, 100 * sizeof(wchar_t));
  EXPECT_EQ(units, wideText);

  EXPECT_EQ(message->OpenProperty(kCount, &IID_IStream, 0, 0, &object), MAPI_E_NOT_FOUND);
  EXPECT_EQ(message->OpenProperty(kBlob, &IID_IStream, 0, MAPI_MODIFY, &object), MAPI_E_NO_SUPPORT);
  EXPECT_EQ(message->OpenProperty(kBlob, &IID_IMessage, 0, 0, &object), MAPI_E_INTERFACE_NOT_SUPPORTED);
}

// Two handles on one message: the second to save learns that the first
// saved, and a forced save writes only its own changes.
TEST_F(StoreTest, ASaveAfterAnotherHandleSavedFailsUnlessForcedAndLosesNothing) {
  auto created = NewMessage(root_);
  ASSERT_EQ(created->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  const std::string id = EntryId(created);
  auto first = OpenMessage(store_, id);
  auto second = OpenMessage(store_, id);

  ASSERT_EQ(Set(first, LongProp(kCount, 1)), S_OK);
  ASSERT_EQ(first->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  ASSERT_EQ(Set(second, TextProp(kConfig, "second")), S_OK);
  EXPECT_EQ(second->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_CHANGED);
  HRESULT error = S_OK;
  EXPECT_EQ(Get(OpenMessage(store_, id, 0), kConfig, &error), nullptr);  // nothing was written
  EXPECT_EQ(Get(first, kCount)->Value.l, 1);  // the handle reads what is saved now

  ASSERT_EQ(second->SaveChanges(KEEP_OPEN_READWRITE | FORCE_SAVE), S_OK);
  auto fresh = OpenMessage(store_, id, 0);
  EXPECT_EQ(Get(fresh, kCount)->Value.l, 1);
  EXPECT_STREQ(Get(fresh, kConfig)->Value.lpszA, "second");

  // A handle that saved keeps saving; the one that did not must reopen.
  ASSERT_EQ(Set(second, LongProp(kCount, 2)), S_OK);
  EXPECT_EQ(second->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  EXPECT_EQ(first->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_CHANGED);
  // Without KEEP_OPEN_READWRITE the handle is done writing.
  ASSERT_EQ(second->SaveChanges(0), S_OK);
  EXPECT_EQ(Set(second, LongProp(kCount, 3)), MAPI_E_NO_ACCESS);
}

TEST_F(StoreTest, AReadOnlyStoreOrHandleRefusesChanges) {
  auto message = NewMessage(root_);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  const std::string id = EntryId(message);
  auto readOnly = OpenStoreByName(session_, kMailboxName, 0);
  ULONG type = 0;
  IUnknown* object = nullptr;
  EXPECT_EQ(readOnly->OpenEntry(static_cast<ULONG>(id.size()),
                                reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), nullptr,
                                MAPI_MODIFY, &type, &object),
            MAPI_E_NO_ACCESS);
  auto viewed = OpenMessage(readOnly, id, MAPI_BEST_ACCESS);
  EXPECT_EQ(Set(viewed, LongProp(kCount, 1)), MAPI_E_NO_ACCESS);
  EXPECT_EQ(viewed->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_NO_ACCESS);
  auto plain = OpenMessage(store_, id, 0);
  EXPECT_EQ(Set(plain, LongProp(kCount, 1)), MAPI_E_NO_ACCESS);
  EXPECT_EQ(Set(store_, LongProp(kCount, 1)), MAPI_E_NO_ACCESS);  // store properties are fixed
}

TEST_F(StoreTest, DeletingAFolderTakesItsContentsOnlyWhenAsked) {
  auto folder = CreateFolder(root_, "QuorrelHandheldInfo");
  auto below = CreateFolder(folder, "Below");
  auto message = NewMessage(below);
  ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  const std::string id = EntryId(folder);
  auto remove = [&](ULONG flags) {
    return root_->DeleteFolder(static_cast<ULONG>(id.size()),
                               reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), 0, nullptr,
                               flags);
  };
  EXPECT_EQ(remove(0), MAPI_E_HAS_FOLDERS);
  EXPECT_EQ(remove(DEL_FOLDERS), MAPI_E_HAS_MESSAGES);
  const std::string belowId = EntryId(below);
  EXPECT_EQ(root_->DeleteFolder(static_cast<ULONG>(belowId.size()),
                                reinterpret_cast<LPENTRYID>(const_cast<char*>(belowId.data())), 0,
                                nullptr, DEL_FOLDERS | DEL_MESSAGES),
            MAPI_E_NOT_FOUND);  // not a folder of the root
  EXPECT_EQ(remove(DEL_FOLDERS | DEL_MESSAGES), S_OK);
  EXPECT_EQ(remove(DEL_FOLDERS | DEL_MESSAGES), MAPI_E_NOT_FOUND);

  HRESULT error = S_OK;
  EXPECT_EQ(Get(message, kCount, &error), nullptr);
  EXPECT_EQ(error, MAPI_E_OBJECT_DELETED);
  ASSERT_EQ(Set(message, LongProp(kCount, 1)), S_OK);
  EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_DELETED);
  auto orphan = NewMessage(below);
  EXPECT_EQ(orphan->SaveChanges(0), MAPI_E_OBJECT_DELETED);
  auto recreated = CreateFolder(root_, "QuorrelHandheldInfo");
  EXPECT_NE(EntryId(recreated), id);
}

TEST_F(StoreTest, ContentsTablesRestrictSortAndSeek) {
  auto folder = CreateFolder(root_, "Info");
  const char* classes[] = {"ZEV.Quorrel.Handheld.Stats", "ZEV.Quorrel.Handheld.Config", "IPM.Note"};
  for (int i = 0; i < 3; ++i) {
    auto message = NewMessage(folder);
    SPropValue values[2] = {TextProp(PR_MESSAGE_CLASS_A, classes[i]), LongProp(kCount, 10 * (i + 1))};
    ASSERT_EQ(message->SetProps(2, values, nullptr), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
  }
  auto extra = NewMessage(folder);  // no class, no count
  ASSERT_EQ(extra->SaveChanges(0), S_OK);
  IMAPITable* raw = nullptr;
  ASSERT_EQ(folder->GetContentsTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> table(raw, false);

  auto classesOf = [&](LPSRestriction restriction, LPSSortOrderSet sort) {
    SizedSPropTagArray(1, columns) = {1, {PR_MESSAGE_CLASS_A}};
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), restriction, sort, 0, &rows),
              S_OK);
    MapiRows owned(rows);
    std::vector<std::string> out;
    for (ULONG i = 0; rows != nullptr && i < rows->cRows; ++i) {
      const SPropValue& v = rows->aRow[i].lpProps[0];
      out.push_back(PROP_TYPE(v.ulPropTag) == PT_ERROR ? "-" : v.Value.lpszA);
    }
    EXPECT_EQ(table->Restrict(nullptr, 0), S_OK);
    EXPECT_EQ(table->SortTable(nullptr, 0), S_OK);
    return out;
  };

  SPropValue config = TextProp(PR_MESSAGE_CLASS_A, "zev.quorrel.handheld.config");
  SRestriction byClass{};
  byClass.rt = RES_PROPERTY;
  byClass.res.resProperty = {RELOP_EQ, PR_MESSAGE_CLASS_A, &config};
  EXPECT_EQ(classesOf(&byClass, nullptr), (std::vector<std::string>{"ZEV.Quorrel.Handheld.Config"}));

  SPropValue twenty = LongProp(kCount, 20);
  SRestriction parts[2] = {};
  parts[0].rt = RES_EXIST;
  parts[0].res.resExist.ulPropTag = kCount;
  parts[1].rt = RES_PROPERTY;
  parts[1].res.resProperty = {RELOP_GE, kCount, &twenty};
  SRestriction both{};
  both.rt = RES_AND;
  both.res.resAnd = {2, parts};
  EXPECT_EQ(classesOf(&both, nullptr),
            (std::vector<std::string>{"ZEV.Quorrel.Handheld.Config", "IPM.Note"}));
  SRestriction either = both;
  either.rt = RES_OR;
  parts[0].res.resExist.ulPropTag = PR_ENTRYID;
  EXPECT_EQ(classesOf(&either, nullptr).size(), 4u);
  SRestriction negation{};
  negation.rt = RES_NOT;
  negation.res.resNot.lpRes = &byClass;
  EXPECT_EQ(classesOf(&negation, nullptr).size(), 3u);

  SizedSSortOrderSet(1, byCountDown) = {1, 0, 0, {{kCount, TABLE_SORT_DESCEND}}};
  EXPECT_EQ(classesOf(nullptr, reinterpret_cast<LPSSortOrderSet>(&byCountDown)),
            (std::vector<std::string>{"IPM.Note", "ZEV.Quorrel.Handheld.Config",
                                      "ZEV.Quorrel.Handheld.Stats", "-"}));

  // Kinds this library does not evaluate, and ANR outside the address book.
  SRestriction content{};
  content.rt = 3;  // a content restriction
  EXPECT_EQ(table->Restrict(&content, 0), MAPI_E_TOO_COMPLEX);
  SPropValue name = TextProp(PR_ANR, "x");
  SRestriction anr{};
  anr.rt = RES_PROPERTY;
  anr.res.resProperty = {RELOP_EQ, PR_ANR, &name};
  EXPECT_EQ(table->Restrict(&anr, 0), MAPI_E_TOO_COMPLEX);

  LONG sought = 0;
  ASSERT_EQ(table->SeekRow(BOOKMARK_END, -1, &sought), S_OK);
  EXPECT_EQ(sought, -1);
  ASSERT_EQ(table->SeekRow(BOOKMARK_CURRENT, 5, &sought), S_OK);
  EXPECT_EQ(sought, 1);  // only one row was left to pass
  ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 2, &sought), S_OK);
  LPSRowSet rows = nullptr;
  ASSERT_EQ(table->QueryRows(10, TBL_NOADVANCE, &rows), S_OK);
  EXPECT_EQ(rows->cRows, 2u);
  FreeProws(rows);
  ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
  EXPECT_EQ(rows->cRows, 1u);
  FreeProws(rows);
  EXPECT_EQ(table->SeekRow(7, 0, nullptr), MAPI_E_INVALID_BOOKMARK);
  EXPECT_EQ(table->QueryRows(-1, 0, &rows), MAPI_E_NO_SUPPORT);
  EXPECT_EQ(HrQueryAllRows(table, nullptr, nullptr, nullptr, 3, &rows), MAPI_E_TABLE_TOO_BIG);
  EXPECT_EQ(rows, nullptr);
}

// The device object reads its two messages sorted by creation time.
TEST_F(StoreTest, MessagesSortByCreationTime) {
  auto folder = CreateFolder(root_, "Info");
  std::vector<std::string> ids;
  for (int i = 0; i < 3; ++i) {
    auto message = NewMessage(folder);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ids.push_back(EntryId(message));
  }
  IMAPITable* raw = nullptr;
  ASSERT_EQ(folder->GetContentsTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> table(raw, false);
  SizedSPropTagArray(3, columns) = {3, {PR_ENTRYID, PR_MESSAGE_CLASS_A, PR_CREATION_TIME}};
  SizedSSortOrderSet(1, byTime) = {1, 0, 0, {{PR_CREATION_TIME, TABLE_SORT_ASCEND}}};
  LPSRowSet rows = nullptr;
  ASSERT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                           reinterpret_cast<LPSSortOrderSet>(&byTime), 0, &rows),
            S_OK);
  MapiRows owned(rows);
  ASSERT_EQ(rows->cRows, 3u);
  for (ULONG i = 0; i < 3; ++i) {
    EXPECT_EQ(Bytes(rows->aRow[i].lpProps[0].Value.bin), ids[i]);
    EXPECT_EQ(rows->aRow[i].lpProps[2].ulPropTag, PR_CREATION_TIME);
  }
}

// A failure part-way through building rows leaves nothing allocated.
TEST_F(StoreTest, RunningOutOfMemoryInQueryRowsLeaksNothing) {
  auto folder = CreateFolder(root_, "Info");
  for (int i = 0; i < 3; ++i) {
    auto message = NewMessage(folder);
    ASSERT_EQ(Set(message, TextProp(kConfig, "text")), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
  }
  IMAPITable* raw = nullptr;
  ASSERT_EQ(folder->GetContentsTable(0, &raw), S_OK);
  _com_ptr_t<IMAPITable> table(raw, false);
  SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, kConfig}};
  ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0), S_OK);
  for (ULONG skip = 0; skip < 9; ++skip) {
    SCOPED_TRACE(skip);
    ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    FailMapiAllocationsForTesting(skip, 1);
    LPSRowSet rows = nullptr;
    const HRESULT hr = table->QueryRows(10, 0, &rows);
    ClearMapiFailuresForTesting();
    if (hr == S_OK) {
      FreeProws(rows);
    } else {
      EXPECT_EQ(hr, MAPI_E_NOT_ENOUGH_MEMORY);
      EXPECT_EQ(rows, nullptr);
    }
  }
}

}  // namespace
}  // namespace morvale::testing
