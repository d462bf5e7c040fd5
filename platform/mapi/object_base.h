// What every object of a session shares: the session's context (its
// profile connection, the lock that serialises its calls, its notification
// hub) and the object's last failure for GetLastError; the reference
// counting and interface answers of the objects; and the property-object
// behaviour of the objects whose properties are computed, not stored
// (message stores, address-book containers and mail users).
//
// Every public call of an object takes the context's lock for its whole run
// and first asks the test hooks (InjectedFailure); calls never take it while
// calling out to the caller's code (sinks), and objects' destructors never
// take it. Internal to platform/mapi.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "platform/mapi/database.h"
#include "platform/mapi/failure_injection.h"
#include "platform/mapi/mapi.h"
#include "platform/mapi/notifications.h"
#include "platform/mapi/prop_value.h"

namespace mapi_internal {

struct Context {
  std::mutex lock;
  std::string path;
  std::unique_ptr<Database> db;
  std::unique_ptr<NotificationHub> hub;  // made by the first Advise

  NotificationHub& Hub() {
    if (hub == nullptr) hub = std::make_unique<NotificationHub>(path);
    return *hub;
  }
};

// True when an object implementing `Interface` answers `iid`.
template <class Interface>
bool Answers(REFIID iid) {
  auto is = [&](auto* tag) {
    using Candidate = std::remove_pointer_t<decltype(tag)>;
    return std::is_base_of_v<Candidate, Interface> && iid == Candidate::kInterfaceId;
  };
  return iid == IID_IUnknown || is(static_cast<IMAPIProp*>(nullptr)) ||
         is(static_cast<IMAPIContainer*>(nullptr)) || is(static_cast<IMAPIFolder*>(nullptr)) ||
         is(static_cast<IMessage*>(nullptr)) || is(static_cast<IMsgStore*>(nullptr)) ||
         is(static_cast<IMailUser*>(nullptr)) || is(static_cast<IABContainer*>(nullptr)) ||
         is(static_cast<IAddrBook*>(nullptr)) || is(static_cast<IMAPITable*>(nullptr)) ||
         is(static_cast<IMAPISession*>(nullptr)) || is(static_cast<IStream*>(nullptr));
}

// MAPI_E_INTERFACE_NOT_SUPPORTED unless `asked` is null or answered by an
// object implementing `Interface`.
template <class Interface>
HRESULT CheckInterface(LPCIID asked) {
  return asked == nullptr || Answers<Interface>(*asked) ? S_OK : MAPI_E_INTERFACE_NOT_SUPPORTED;
}

// Records `hr` with `text` in *failure; returns `hr`.
inline HRESULT Refuse(Failure* failure, HRESULT hr, const char* text) {
  *failure = Failure{hr, text, 0};
  return hr;
}

// The checks every OpenEntry makes first (a place for the object, known
// flags); clears the outputs.
HRESULT StartOpenEntry(ULONG flags, ULONG* type, LPUNKNOWN* object, Failure* failure);

// Fills a MAPIERROR for GetLastError (narrow, or wide under MAPI_UNICODE).
HRESULT HandOutError(const Failure& failure, ULONG flags, LPMAPIERROR* error);

// A read-only stream over `value` taken as type `type` (PT_BINARY,
// PT_STRING8 or PT_UNICODE).
HRESULT OpenValueStream(const Value& value, ULONG type, IStream** stream);

template <class Interface>
class MapiObject : public ComObject<Interface> {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (Answers<Interface>(iid)) {
      *object = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

 protected:
  explicit MapiObject(std::shared_ptr<Context> context) : context_(std::move(context)) {}

  std::unique_lock<std::mutex> Enter() { return std::unique_lock<std::mutex>(context_->lock); }

  // The failure a test hook chose for `call`, recorded; 0 to go on.
  HRESULT Injected(const char* call) {
    const HRESULT hr = InjectedFailure(call);
    if (hr != 0) Fail(hr, std::string(call) + ": failure injected by a test");
    return hr;
  }

  HRESULT Fail(HRESULT hr, std::string text) {
    last_ = Failure{hr, std::move(text), 0};
    return hr;
  }
  HRESULT Fail(const Failure& failure) {
    last_ = failure;
    return failure.hr;
  }

  // Runs `work` under the lock as call `call`, recording its failure.
  template <typename Work>
  HRESULT Run(const char* call, Work work) {
    auto hold = Enter();
    if (const HRESULT hr = Injected(call)) return hr;
    Failure failure;
    const HRESULT hr = work(&failure);
    return FAILED(hr) ? Fail(failure) : hr;
  }

  HRESULT LastError(HRESULT hResult, ULONG flags, LPMAPIERROR* error) {
    if (error == nullptr) return MAPI_E_INVALID_PARAMETER;
    *error = nullptr;
    if ((flags & ~MAPI_UNICODE) != 0) return MAPI_E_UNKNOWN_FLAGS;
    if (hResult == 0 || hResult != last_.hr) return S_OK;
    return HandOutError(last_, flags, error);
  }

  Database& db() { return *context_->db; }

  std::shared_ptr<Context> context_;
  Failure last_;  // guarded by the context's lock
};

// GetLastError, GetProps and OpenProperty over the object's current
// properties (Current), for every property object.
template <class Interface>
class PropObject : public MapiObject<Interface> {
 public:
  HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override {
    auto hold = this->Enter();
    return this->LastError(hResult, ulFlags, lppMAPIError);
  }

  HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                   LPSPropValue* lppPropArray) override {
    auto hold = this->Enter();
    if (const HRESULT hr = this->Injected("IMAPIProp::GetProps")) return hr;
    if (lpcValues == nullptr || lppPropArray == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lpcValues = 0;
    *lppPropArray = nullptr;
    if ((ulFlags & ~MAPI_UNICODE) != 0) return this->Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    PropertyBag bag;
    Failure failure;
    if (FAILED(Current(&bag, &failure))) return this->Fail(failure);
    bool errors = false;
    const HRESULT hr = BuildPropArray(bag, lpPropTagArray, (ulFlags & MAPI_UNICODE) != 0, true,
                                      lpcValues, lppPropArray, &errors);
    if (FAILED(hr)) return this->Fail(hr, "out of memory");
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
  }

  HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG, ULONG ulFlags,
                       LPUNKNOWN* lppUnk) override {
    auto hold = this->Enter();
    if (const HRESULT hr = this->Injected("IMAPIProp::OpenProperty")) return hr;
    if (lppUnk == nullptr || lpiid == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppUnk = nullptr;
    if (*lpiid != IID_IStream) {
      return this->Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "properties open only as streams");
    }
    if ((ulFlags & (MAPI_MODIFY | MAPI_CREATE)) != 0) {
      return this->Fail(MAPI_E_NO_SUPPORT, "property streams are read-only");
    }
    PropertyBag bag;
    Failure failure;
    if (FAILED(Current(&bag, &failure))) return this->Fail(failure);
    const auto found = bag.find(PROP_ID(ulPropTag));
    if (found == bag.end()) return this->Fail(MAPI_E_NOT_FOUND, "no such property");
    IStream* stream = nullptr;
    const HRESULT hr = OpenValueStream(found->second, PROP_TYPE(ulPropTag), &stream);
    if (FAILED(hr)) return this->Fail(hr, "the property cannot be read as a stream");
    *lppUnk = stream;
    return S_OK;
  }

 protected:
  using MapiObject<Interface>::MapiObject;
  // The object's properties as this handle sees them; called with the
  // context's lock held.
  virtual HRESULT Current(PropertyBag* bag, Failure* failure) = 0;
};

// An object whose properties are computed from the profile and cannot be
// changed: SetProps, DeleteProps and SaveChanges fail with MAPI_E_NO_ACCESS.
template <class Interface>
class ReadOnlyPropObject : public PropObject<Interface> {
 public:
  HRESULT SaveChanges(ULONG) override { return Refuse("IMAPIProp::SaveChanges", nullptr); }
  HRESULT SetProps(ULONG, LPSPropValue, LPSPropProblemArray* lppProblems) override {
    return Refuse("IMAPIProp::SetProps", lppProblems);
  }
  HRESULT DeleteProps(LPSPropTagArray, LPSPropProblemArray* lppProblems) override {
    return Refuse("IMAPIProp::DeleteProps", lppProblems);
  }

 protected:
  using PropObject<Interface>::PropObject;

 private:
  HRESULT Refuse(const char* call, LPSPropProblemArray* problems) {
    auto hold = this->Enter();
    if (problems != nullptr) *problems = nullptr;
    if (const HRESULT hr = this->Injected(call)) return hr;
    return this->Fail(MAPI_E_NO_ACCESS, "this object cannot be changed");
  }
};

}  // namespace mapi_internal
