#include <cstdint>
#include <cstring>
#include <cwchar>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/mapi/mapi.h"
#include "platform/mapi/mapi_test_hooks.h"

namespace {

// Leaks and double frees are AddressSanitizer's to find: each test frees
// through the library only.
TEST(MapiMemory, LinkedBuffersGoWithTheirRootAndEveryBlockIsAligned) {
  void* root = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(24, &root), S_OK);
  std::vector<void*> blocks{root};
  for (int i = 0; i < 50; ++i) {
    void* more = nullptr;
    // Alternately on the root and on a linked block: both chain to the root.
    ASSERT_EQ(MAPIAllocateMore(static_cast<ULONG>(i), blocks[i % 2 == 0 ? 0 : blocks.size() - 1], &more), S_OK);
    std::memset(more, 0xAB, static_cast<std::size_t>(i));
    blocks.push_back(more);
  }
  for (void* block : blocks) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
  }
  EXPECT_EQ(MAPIFreeBuffer(blocks[7]), 0u);  // a linked block alone: nothing happens
  EXPECT_EQ(MAPIFreeBuffer(root), 0u);
  EXPECT_EQ(MAPIFreeBuffer(nullptr), 0u);
}

TEST(MapiMemory, RefusesMissingArguments) {
  void* block = reinterpret_cast<void*>(1);
  EXPECT_EQ(MAPIAllocateBuffer(8, nullptr), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(MAPIAllocateMore(8, nullptr, &block), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(block, nullptr);
}

TEST(MapiMemory, ThreadsLinkToOneRootAtOnce) {
  void* root = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(8, &root), S_OK);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([root] {
      for (int i = 0; i < 500; ++i) {
        void* more = nullptr;
        EXPECT_EQ(MAPIAllocateMore(16, root, &more), S_OK);
        std::memset(more, 1, 16);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  MAPIFreeBuffer(root);
}

TEST(MapiMemory, TheAllocationHookFailsTheChosenAllocations) {
  FailMapiAllocationsForTesting(1, 2);
  void* first = nullptr;
  void* second = nullptr;
  void* third = nullptr;
  void* fourth = nullptr;
  EXPECT_EQ(MAPIAllocateBuffer(8, &first), S_OK);
  EXPECT_EQ(MAPIAllocateMore(8, first, &second), MAPI_E_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(MAPIAllocateBuffer(8, &third), MAPI_E_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(MAPIAllocateBuffer(8, &fourth), S_OK);
  MAPIFreeBuffer(first);
  MAPIFreeBuffer(fourth);
  ClearMapiFailuresForTesting();
}

// A row set and an address list as callers build them: the set or list in
// one buffer, each row's values in another, their data linked to those.
TEST(MapiMemory, RowSetsAndAddressListsAreFreedWhole) {
  void* block = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(3)), &block), S_OK);
  auto* rows = static_cast<SRowSet*>(block);
  rows->cRows = 3;
  for (ULONG i = 0; i < 3; ++i) {
    void* values = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), &values), S_OK);
    void* text = nullptr;
    ASSERT_EQ(MAPIAllocateMore(6, values, &text), S_OK);
    std::memcpy(text, "hello", 6);
    rows->aRow[i] = {0, 1, static_cast<SPropValue*>(values)};
    rows->aRow[i].lpProps[0].ulPropTag = PR_DISPLAY_NAME;
    rows->aRow[i].lpProps[0].Value.lpszA = static_cast<char*>(text);
  }
  FreeProws(rows);

  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(2)), &block), S_OK);
  auto* list = static_cast<ADRLIST*>(block);
  list->cEntries = 2;
  list->aEntries[0] = {0, 0, nullptr};
  void* values = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(2 * sizeof(SPropValue), &values), S_OK);
  list->aEntries[1] = {0, 2, static_cast<SPropValue*>(values)};
  FreePadrlist(list);
  FreeProws(nullptr);
  FreePadrlist(nullptr);
}

TEST(MapiMemory, LayoutsAreThoseOfThisPlatform) {
  EXPECT_EQ(sizeof(ULONG), 4u);
  EXPECT_EQ(sizeof(SPropValue), 24u);  // tag, pad, and a 16-byte value (count and pointer)
  EXPECT_EQ(sizeof(SRow), 16u);
  EXPECT_EQ(CbNewADRLIST(1), 24u);
  EXPECT_EQ(CbNewSPropTagArray(3), 16u);
  EXPECT_EQ(CbNewENTRYID(16), 20u);
}

TEST(MapiMemory, ScDupPropsetCopiesEveryKindOfValueIntoOneBlock) {
  char narrow[] = "narrow";
  wchar_t wide[] = L"wïde";
  BYTE bytes[] = {1, 2, 3};
  GUID guid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  LPSTR texts[] = {narrow, nullptr};
  SBinary bins[] = {{3, bytes}, {0, nullptr}};
  LONG longs[] = {7, -7};

  SPropValue source[8] = {};
  source[0].ulPropTag = PR_DISPLAY_NAME_A;
  source[0].Value.lpszA = narrow;
  source[1].ulPropTag = PR_DISPLAY_NAME_W;
  source[1].Value.lpszW = wide;
  source[2].ulPropTag = PR_ENTRYID;
  source[2].Value.bin = {3, bytes};
  source[3].ulPropTag = PROP_TAG(PT_CLSID, 0x6000);
  source[3].Value.lpguid = &guid;
  source[4].ulPropTag = PROP_TAG(PT_MV_STRING8, 0x6001);
  source[4].Value.MVszA = {2, texts};
  source[5].ulPropTag = PROP_TAG(PT_MV_BINARY, 0x6002);
  source[5].Value.MVbin = {2, bins};
  source[6].ulPropTag = PROP_TAG(PT_MV_LONG, 0x6003);
  source[6].Value.MVl = {2, longs};
  source[7].ulPropTag = PROP_TAG(PT_ERROR, 0x6004);
  source[7].Value.err = MAPI_E_NOT_FOUND;

  LPSPropValue copy = nullptr;
  ASSERT_EQ(ScDupPropset(8, source, MAPIAllocateBuffer, &copy), S_OK);
  // Change the sources: the copy owns its data.
  narrow[0] = 'X';
  wide[0] = L'X';
  bytes[0] = 9;
  longs[0] = 0;
  EXPECT_STREQ(copy[0].Value.lpszA, "narrow");
  EXPECT_STREQ(copy[1].Value.lpszW, L"wïde");
  ASSERT_EQ(copy[2].Value.bin.cb, 3u);
  EXPECT_EQ(copy[2].Value.bin.lpb[0], 1);
  EXPECT_TRUE(*copy[3].Value.lpguid == GUID({0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}}));
  ASSERT_EQ(copy[4].Value.MVszA.cValues, 2u);
  EXPECT_STREQ(copy[4].Value.MVszA.lppszA[0], "narrow");
  EXPECT_EQ(copy[4].Value.MVszA.lppszA[1], nullptr);
  EXPECT_EQ(copy[5].Value.MVbin.lpbin[0].lpb[0], 1);
  EXPECT_EQ(copy[5].Value.MVbin.lpbin[1].lpb, nullptr);
  EXPECT_EQ(copy[6].Value.MVl.lpl[0], 7);
  EXPECT_EQ(copy[7].Value.err, MAPI_E_NOT_FOUND);
  MAPIFreeBuffer(copy);

  EXPECT_EQ(ScDupPropset(1, nullptr, MAPIAllocateBuffer, &copy), MAPI_E_INVALID_PARAMETER);
  FailMapiAllocationsForTesting(0, 1);
  EXPECT_EQ(ScDupPropset(8, source, MAPIAllocateBuffer, &copy), MAPI_E_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(copy, nullptr);
  ClearMapiFailuresForTesting();
}

}  // namespace
