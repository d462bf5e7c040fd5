#include "platform/com/apartment.h"

#include <atomic>
#include <mutex>

namespace {

constexpr DWORD kKnownFlags = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE |
                              COINIT_SPEED_OVER_MEMORY;

// Threads currently in the multithreaded apartment; while any is, threads
// without an apartment of their own use it implicitly.
std::atomic<int> multithreadedMembers{0};

// The calling thread's apartment: how many counted initialisations it has
// and with which model. Leaves the apartment if the thread ends inside it.
struct ThreadApartment {
  ULONG count = 0;
  DWORD model = COINIT_MULTITHREADED;

  ~ThreadApartment() {
    if (count > 0 && model == COINIT_MULTITHREADED) multithreadedMembers.fetch_sub(1);
  }
};

thread_local ThreadApartment apartment;

// The registered classes: a list that only grows, newest first. Readers
// walk it without a lock (each node is published whole by the release
// store of `head`, and a creator is replaced in place); registrations are
// serialised by `mutex` so that a class id has one node.
struct ClassNode {
  CLSID clsid;
  std::atomic<ComClassCreator> create;
  ClassNode* next;
};

struct ClassTable {
  std::mutex mutex;
  std::atomic<ClassNode*> head{nullptr};
};

ClassTable& Classes() {
  static ClassTable* table = new ClassTable;  // lives until the process ends, as do its nodes
  return *table;
}

ClassNode* FindClass(const ClassTable& table, REFCLSID clsid) {
  for (ClassNode* node = table.head.load(std::memory_order_acquire); node != nullptr;
       node = node->next) {
    if (node->clsid == clsid) return node;
  }
  return nullptr;
}

}  // namespace

HRESULT CoInitializeEx(void* reserved, DWORD coInit) {
  if (reserved != nullptr || (coInit & ~kKnownFlags) != 0) return E_INVALIDARG;
  const DWORD model = coInit & COINIT_APARTMENTTHREADED;
  if (apartment.count > 0) {
    if (apartment.model != model) return RPC_E_CHANGED_MODE;
    ++apartment.count;
    return S_FALSE;
  }
  apartment.model = model;
  apartment.count = 1;
  if (model == COINIT_MULTITHREADED) multithreadedMembers.fetch_add(1);
  return S_OK;
}

HRESULT CoInitialize(void* reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
  if (apartment.count == 0) return;
  if (--apartment.count == 0 && apartment.model == COINIT_MULTITHREADED) {
    multithreadedMembers.fetch_sub(1);
  }
}

void ComRegisterClass(REFCLSID clsid, ComClassCreator create) {
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (ClassNode* node = FindClass(table, clsid)) {
    node->create.store(create, std::memory_order_release);
    return;
  }
  table.head.store(new ClassNode{clsid, create, table.head.load(std::memory_order_relaxed)}, std::memory_order_release);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (apartment.count == 0 && multithreadedMembers.load() == 0) return CO_E_NOTINITIALIZED;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((clsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  const ClassNode* node = FindClass(Classes(), clsid);
  const ComClassCreator create = node != nullptr ? node->create.load(std::memory_order_acquire) : nullptr;
  if (create == nullptr) return REGDB_E_CLASSNOTREG;
  return create(iid, object);
}
