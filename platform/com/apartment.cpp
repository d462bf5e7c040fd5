#include "platform/com/apartment.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

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

struct ClassTable {
  std::mutex mutex;
  std::vector<std::pair<CLSID, ComClassCreator>> classes;
};

ClassTable& Classes() {
  static ClassTable* table = new ClassTable;  // lives until the process ends
  return *table;
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
  for (auto& entry : table.classes) {
    if (entry.first == clsid) {
      entry.second = create;
      return;
    }
  }
  table.classes.emplace_back(clsid, create);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (apartment.count == 0 && multithreadedMembers.load() == 0) return CO_E_NOTINITIALIZED;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((clsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  ComClassCreator create = nullptr;
  {
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const auto& entry : table.classes) {
      if (entry.first == clsid) create = entry.second;
    }
  }
  if (create == nullptr) return REGDB_E_CLASSNOTREG;
  return create(iid, object);
}
