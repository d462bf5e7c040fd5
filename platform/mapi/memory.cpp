// MAPIAllocateBuffer, MAPIAllocateMore and MAPIFreeBuffer.
//
// Every block starts with a header of kHeaderSize bytes (a multiple of the
// strictest alignment) in front of the caller's bytes:
//
//   magic     4 bytes   kRootMagic for a MAPIAllocateBuffer block,
//                       kLinkedMagic for a MAPIAllocateMore block, 0 once freed
//   (pad)     4 bytes
//   root      8 bytes   the block's root (itself for a root)
//   next      8 bytes   the root's next linked block (linked blocks only)
//   linked    8 bytes   the root's most recently linked block (atomic)
//
// Linking is a lock-free push on the root's list, so several threads may
// allocate more on one root at once; freeing the root walks the list.
#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/mapi/failure_injection.h"
#include "platform/mapi/mapi.h"

namespace {

constexpr std::uint32_t kRootMagic = 0x4D415042;    // "MAPB"
constexpr std::uint32_t kLinkedMagic = 0x4D41504D;  // "MAPM"

struct Header {
  std::uint32_t magic;
  std::uint32_t pad;
  Header* root;
  Header* next;
  std::atomic<Header*> linked;
};

constexpr std::size_t kAlignment = alignof(std::max_align_t);
constexpr std::size_t kHeaderSize = (sizeof(Header) + kAlignment - 1) / kAlignment * kAlignment;

void* Data(Header* header) { return reinterpret_cast<char*>(header) + kHeaderSize; }
Header* HeaderOf(void* data) {
  return reinterpret_cast<Header*>(static_cast<char*>(data) - kHeaderSize);
}

Header* NewBlock(ULONG size, std::uint32_t magic, Header* root) {
  if (mapi_internal::InjectedAllocationFailure()) return nullptr;
  void* raw = std::malloc(kHeaderSize + size);
  if (raw == nullptr) return nullptr;
  Header* header = new (raw) Header{magic, 0, nullptr, nullptr, {nullptr}};
  header->root = root != nullptr ? root : header;
  return header;
}

}  // namespace

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
  if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  Header* header = NewBlock(cbSize, kRootMagic, nullptr);
  if (header == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
  *lppBuffer = Data(header);
  return S_OK;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
  if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  if (lpObject == nullptr) return MAPI_E_INVALID_PARAMETER;
  Header* parent = HeaderOf(lpObject);
  if (parent->magic != kRootMagic && parent->magic != kLinkedMagic) {
    return MAPI_E_INVALID_PARAMETER;
  }
  Header* root = parent->root;
  Header* header = NewBlock(cbSize, kLinkedMagic, root);
  if (header == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
  Header* head = root->linked.load(std::memory_order_relaxed);
  do {
    header->next = head;
  } while (!root->linked.compare_exchange_weak(head, header, std::memory_order_release,
                                               std::memory_order_relaxed));
  *lppBuffer = Data(header);
  return S_OK;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
  if (lpBuffer == nullptr) return S_OK;
  Header* root = HeaderOf(lpBuffer);
  if (root->magic != kRootMagic) return S_OK;  // a linked block goes with its root
  root->magic = 0;
  Header* linked = root->linked.load(std::memory_order_acquire);
  while (linked != nullptr) {
    Header* next = linked->next;
    linked->magic = 0;
    linked->~Header();
    std::free(linked);
    linked = next;
  }
  root->~Header();
  std::free(root);
  return S_OK;
}

void FreeProws(LPSRowSet lpRows) {
  if (lpRows == nullptr) return;
  for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
  MAPIFreeBuffer(lpRows);
}

void FreePadrlist(LPADRLIST lpAdrList) {
  if (lpAdrList == nullptr) return;
  for (ULONG i = 0; i < lpAdrList->cEntries; ++i) MAPIFreeBuffer(lpAdrList->aEntries[i].rgPropVals);
  MAPIFreeBuffer(lpAdrList);
}
