// Per-thread component initialisation and object creation by class id.
//
// A thread enters an apartment with CoInitializeEx (or CoInitialize, which
// asks for the single-threaded model) and leaves it with one CoUninitialize
// per successful call:
//   - the first call on a thread returns S_OK and fixes the thread's model;
//   - each further call with the same model returns S_FALSE and is counted;
//   - a call with the other model returns RPC_E_CHANGED_MODE and is not
//     counted (the caller must not balance it with CoUninitialize);
//   - CoUninitialize without a counted call does nothing.
// Flags other than the model bit (COINIT_DISABLE_OLE1DDE,
// COINIT_SPEED_OVER_MEMORY) are accepted and have no effect here; unknown
// bits or a non-null reserved pointer give E_INVALIDARG. A thread that ends
// while initialised leaves its apartment then.
//
// CoCreateInstance creates an object of a class that a stand-in registered
// with ComRegisterClass. As on the home platform it needs an apartment: the
// calling thread's own, or the process's multithreaded apartment when any
// thread is in it (the implicit multithreaded apartment); otherwise it fails
// with CO_E_NOTINITIALIZED. An unknown class gives REGDB_E_CLASSNOTREG;
// aggregation (a non-null outer object) is not supported
// (CLASS_E_NOAGGREGATION). Every call here is safe on any thread.
#pragma once

#include <new>

#include "platform/com/unknown.h"

enum COINIT : DWORD {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8,
};

HRESULT CoInitializeEx(void* reserved, DWORD coInit);
HRESULT CoInitialize(void* reserved);
void CoUninitialize();

// Class contexts; every class here is in-process, so each context that
// includes CLSCTX_INPROC_SERVER finds it.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_ALL = 0x17;

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID iid,
                         void** object);

// Makes a new object of a class and hands it out under `iid` (with the one
// reference the caller now owns), or fails with E_NOINTERFACE.
using ComClassCreator = HRESULT (*)(REFIID iid, void** object);

// Registers (or replaces) the creator of `clsid` for the life of the process.
void ComRegisterClass(REFCLSID clsid, ComClassCreator create);

// The creator of a ComObject-derived class `T` that is default-constructible.
template <class T>
HRESULT ComCreateObject(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  T* created = new (std::nothrow) T();
  if (created == nullptr) return E_OUTOFMEMORY;
  created->AddRef();
  const HRESULT hr = created->QueryInterface(iid, object);
  created->Release();
  return hr;
}
