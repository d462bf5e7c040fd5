// GUIDs and the reference-counted object model of the component stand-in.
//
// GUID, IID and CLSID are the 16-byte identifiers of interfaces and classes;
// `IUnknown` is the base every component object derives from: AddRef and
// Release count references, QueryInterface hands out the object under
// another interface (with a reference added) or fails with E_NOINTERFACE.
// `IDispatch` marks an automation object (the ADO objects are ones).
//
// Each interface names its identifier in a static member `kInterfaceId`,
// which `_com_ptr_t` (platform/com/com_ptr.h) and `ComObject` use.
//
// `ComObject<Interface>` implements the three calls for a concrete class:
// the count is atomic, so references may be added and dropped on any thread;
// the object deletes itself when the last one goes. Whether the object's own
// operations may run on several threads at once is the concrete class's
// contract. `ComPart<Interface>` implements them for an object that lives
// inside another, its owner (a member of it), and counts its references with
// the owner's: a reference to the part keeps the owner, and so the part,
// alive.
#pragma once

#include <atomic>
#include <type_traits>

#include "platform/com/hresult.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
constexpr bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

struct IUnknown {
  // {00000000-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00000000, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go away through Release only
};

struct IDispatch : IUnknown {
  // {00020400-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00020400, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

 protected:
  ~IDispatch() = default;
};

inline constexpr IID IID_IUnknown = IUnknown::kInterfaceId;
inline constexpr IID IID_IDispatch = IDispatch::kInterfaceId;

// QueryInterface of an object implementing `Interface`: the object itself
// (a reference added) for Interface, IUnknown and, when it is one, IDispatch.
template <class Interface>
HRESULT QueryInterfaceOf(Interface* self, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (iid == Interface::kInterfaceId || iid == IID_IUnknown ||
      (std::is_base_of_v<IDispatch, Interface> && iid == IID_IDispatch)) {
    *object = self;
    self->AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// Reference counting and QueryInterface for a class implementing `Interface`
// (IUnknown, IDispatch or an interface derived from one of them). A new
// object starts with no reference: the creator takes the first one (through
// `_com_ptr_t`, AddRef or QueryInterface).
template <class Interface>
class ComObject : public Interface {
  static_assert(std::is_base_of_v<IUnknown, Interface>);

 public:
  HRESULT QueryInterface(REFIID iid, void** object) override { return QueryInterfaceOf<Interface>(this, iid, object); }

  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }

  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

 private:
  std::atomic<ULONG> refs_{0};
};

// Reference counting and QueryInterface for an object implementing
// `Interface` that is a member of `owner` and shares its count.
template <class Interface>
class ComPart final : public Interface {
  static_assert(std::is_base_of_v<IUnknown, Interface>);

 public:
  explicit ComPart(IUnknown* owner) : owner_(owner) {}

  HRESULT QueryInterface(REFIID iid, void** object) override { return QueryInterfaceOf<Interface>(this, iid, object); }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

 private:
  IUnknown* owner_;
};
