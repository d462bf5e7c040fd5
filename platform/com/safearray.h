// SAFEARRAY: the self-describing array of OLE Automation.
//
// An array has 1 or more dimensions, each with a lower bound and an element
// count. Elements are stored contiguously with the first index varying
// fastest: element (i1, i2) of a 2-D array lies at
//   (i1 - lbound1) + (i2 - lbound2) * count1
// Recordset.GetRows returns a 2-D array of VARIANTs indexed [field][row]
// (dimension 1 the fields, dimension 2 the rows); a binary value is a 1-D
// array of VT_UI1. `rgsabound` lists the bounds with the LAST dimension first
// (rgsabound[cDims - 1] is dimension 1), as on the home platform; callers use
// SafeArrayGetLBound/UBound, which take dimensions counted from 1.
//
// Element types: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT,
// VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL, VT_ERROR,
// VT_DECIMAL, VT_BSTR and VT_VARIANT. The array owns its BSTRs and VARIANTs:
// Get copies out, Put copies in, Destroy frees them.
//
// Errors: a null array or out pointer E_INVALIDARG; an index or dimension outside the bounds
// DISP_E_BADINDEX; destroying a locked array (AccessData without
// UnaccessData) DISP_E_ARRAYISLOCKED; unlocking an unlocked one
// E_UNEXPECTED; no memory E_OUTOFMEMORY.
//
// Thread safety: an array belongs to one thread at a time; the lock count
// guards against destruction while data is accessed, not against races.
#pragma once

#include "platform/com/variant.h"

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// fFeatures bits.
inline constexpr WORD FADF_BSTR = 0x0100;
inline constexpr WORD FADF_VARIANT = 0x0800;
inline constexpr WORD FADF_HAVEVARTYPE = 0x0080;

struct SAFEARRAY {
  WORD cDims;
  WORD fFeatures;
  ULONG cbElements;  // bytes per element
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];  // cDims entries, the last dimension first
};

// A new array of `dims` dimensions with bounds given dimension 1 first; its
// elements are zero (VT_EMPTY for variants, null for BSTRs). Null for an
// unsupported type, no dimensions, or a size that does not fit in memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
// A deep copy into *copy (null when `array` is null).
HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy);

UINT SafeArrayGetDim(SAFEARRAY* array);  // 0 for null
UINT SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
// `dim` counts from 1.
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);

// `indices` holds one index per dimension, dimension 1 first. Get copies the
// element into *value: a VARIANT is cleared and then copied into (so the
// caller passes an initialised VARIANT), a BSTR is a new copy the caller
// frees, other types are copied bytewise. Put copies *value into the
// element (for VT_BSTR `value` is the BSTR itself, for VT_VARIANT a
// VARIANT*), releasing what the element held.
HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value);
HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, const void* value);

// Direct access to the elements; each AccessData is balanced by one
// UnaccessData, and the array cannot be destroyed in between.
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
