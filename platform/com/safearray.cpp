#include "platform/com/safearray.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Every array we create is preceded by its element type, as on the home
// platform (FADF_HAVEVARTYPE), and followed by its elements, in one
// allocation: [VARTYPE, padded to kTypeSlot][SAFEARRAY, padded to
// kTypeSlot][elements]. A binary value of a recordset is such an array, so
// one allocation less per array counts.
constexpr std::size_t kTypeSlot = 16;

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

unsigned char* BlockOf(SAFEARRAY* array) {
  return reinterpret_cast<unsigned char*>(array) - kTypeSlot;
}

VARTYPE TypeOf(SAFEARRAY* array) {
  VARTYPE vt;
  std::memcpy(&vt, BlockOf(array), sizeof vt);
  return vt;
}

std::size_t ElementCount(const SAFEARRAY* array) {
  std::size_t count = 1;
  for (WORD d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  return count;
}

unsigned char* ElementAt(SAFEARRAY* array, std::size_t index) {
  return static_cast<unsigned char*>(array->pvData) + index * array->cbElements;
}

// Frees what the elements own; the array is freed next.
void ReleaseElements(SAFEARRAY* array) {
  const VARTYPE vt = TypeOf(array);
  const std::size_t count = ElementCount(array);
  for (std::size_t i = 0; i < count; ++i) {
    unsigned char* element = ElementAt(array, i);
    if (vt == VT_BSTR) {
      BSTR text;
      std::memcpy(&text, element, sizeof text);
      SysFreeString(text);
    } else if (vt == VT_VARIANT) {
      VariantClear(reinterpret_cast<VARIANT*>(element));
    }
  }
}

// The element's position, or DISP_E_BADINDEX.
HRESULT Locate(SAFEARRAY* array, const LONG* indices, std::size_t* position) {
  std::size_t offset = 0;
  std::size_t stride = 1;
  for (WORD d = 0; d < array->cDims; ++d) {
    const SAFEARRAYBOUND& bound = array->rgsabound[array->cDims - 1 - d];
    const LONGLONG index = LONGLONG{indices[d]} - bound.lLbound;
    if (index < 0 || index >= LONGLONG{bound.cElements}) return DISP_E_BADINDEX;
    offset += static_cast<std::size_t>(index) * stride;
    stride *= bound.cElements;
  }
  *position = offset;
  return S_OK;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) {
  const ULONG size = ElementSize(vt);
  if (size == 0 || dims == 0 || dims > 0xFFFF || bounds == nullptr) return nullptr;
  std::size_t count = 1;
  for (UINT d = 0; d < dims; ++d) {
    const ULONG elements = bounds[d].cElements;
    if (elements != 0 && count > std::numeric_limits<std::size_t>::max() / size / elements) {
      return nullptr;
    }
    count *= elements;
  }
  std::size_t header = kTypeSlot + sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
  header = (header + kTypeSlot - 1) / kTypeSlot * kTypeSlot;
  if (count > (std::numeric_limits<std::size_t>::max() - header) / size) return nullptr;
  auto* block = static_cast<unsigned char*>(std::calloc(1, header + count * size));
  if (block == nullptr) return nullptr;
  void* data = block + header;
  std::memcpy(block, &vt, sizeof vt);
  auto* array = reinterpret_cast<SAFEARRAY*>(block + kTypeSlot);
  array->cDims = static_cast<WORD>(dims);
  array->fFeatures = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) array->fFeatures |= FADF_BSTR;
  if (vt == VT_VARIANT) array->fFeatures |= FADF_VARIANT;
  array->cbElements = size;
  array->pvData = data;
  for (UINT d = 0; d < dims; ++d) array->rgsabound[dims - 1 - d] = bounds[d];
  return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
  const SAFEARRAYBOUND bound{elements, lowerBound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (array == nullptr) return S_OK;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  ReleaseElements(array);
  std::free(BlockOf(array));
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
  if (copy == nullptr) return E_INVALIDARG;
  *copy = nullptr;
  if (array == nullptr) return S_OK;
  const VARTYPE vt = TypeOf(array);
  std::vector<SAFEARRAYBOUND> bounds(array->cDims);
  for (WORD d = 0; d < array->cDims; ++d) bounds[d] = array->rgsabound[array->cDims - 1 - d];
  SAFEARRAY* result = SafeArrayCreate(vt, array->cDims, bounds.data());
  if (result == nullptr) return E_OUTOFMEMORY;
  const std::size_t count = ElementCount(array);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* from = ElementAt(array, i);
    unsigned char* to = ElementAt(result, i);
    HRESULT hr = S_OK;
    if (vt == VT_BSTR) {
      BSTR text;
      std::memcpy(&text, from, sizeof text);
      BSTR duplicate = text == nullptr ? nullptr : SysAllocStringLen(text, SysStringLen(text));
      if (text != nullptr && duplicate == nullptr) hr = E_OUTOFMEMORY;
      std::memcpy(to, &duplicate, sizeof duplicate);
    } else if (vt == VT_VARIANT) {
      hr = VariantCopy(reinterpret_cast<VARIANT*>(to), reinterpret_cast<const VARIANT*>(from));
    } else {
      std::memcpy(to, from, array->cbElements);
    }
    if (FAILED(hr)) {
      SafeArrayDestroy(result);
      return hr;
    }
  }
  *copy = result;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array == nullptr ? 0 : array->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array == nullptr ? 0 : array->cbElements; }

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (array == nullptr || vt == nullptr) return E_INVALIDARG;
  *vt = TypeOf(array);
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
  *bound = array->rgsabound[array->cDims - dim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = array->rgsabound[array->cDims - dim];
  *bound = static_cast<LONG>(LONGLONG{b.lLbound} + LONGLONG{b.cElements} - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value) {
  if (array == nullptr || indices == nullptr || value == nullptr) return E_INVALIDARG;
  std::size_t position = 0;
  const HRESULT located = Locate(array, indices, &position);
  if (FAILED(located)) return located;
  const unsigned char* element = ElementAt(array, position);
  switch (TypeOf(array)) {
    case VT_BSTR: {
      BSTR text;
      std::memcpy(&text, element, sizeof text);
      BSTR duplicate = text == nullptr ? nullptr : SysAllocStringLen(text, SysStringLen(text));
      if (text != nullptr && duplicate == nullptr) return E_OUTOFMEMORY;
      std::memcpy(value, &duplicate, sizeof duplicate);
      return S_OK;
    }
    case VT_VARIANT:
      return VariantCopy(static_cast<VARIANT*>(value), reinterpret_cast<const VARIANT*>(element));
    default:
      std::memcpy(value, element, array->cbElements);
      return S_OK;
  }
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, const void* value) {
  if (array == nullptr || indices == nullptr) return E_INVALIDARG;
  std::size_t position = 0;
  const HRESULT located = Locate(array, indices, &position);
  if (FAILED(located)) return located;
  unsigned char* element = ElementAt(array, position);
  switch (TypeOf(array)) {
    case VT_BSTR: {
      const auto text = static_cast<const OLECHAR*>(value);
      BSTR duplicate = nullptr;
      if (text != nullptr) {
        duplicate = SysAllocStringLen(text, SysStringLen(const_cast<BSTR>(text)));
        if (duplicate == nullptr) return E_OUTOFMEMORY;
      }
      BSTR old;
      std::memcpy(&old, element, sizeof old);
      SysFreeString(old);
      std::memcpy(element, &duplicate, sizeof duplicate);
      return S_OK;
    }
    case VT_VARIANT:
      if (value == nullptr) return E_INVALIDARG;
      return VariantCopy(reinterpret_cast<VARIANT*>(element), static_cast<const VARIANT*>(value));
    default:
      if (value == nullptr) return E_INVALIDARG;
      std::memcpy(element, value, array->cbElements);
      return S_OK;
  }
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (array->cLocks == std::numeric_limits<ULONG>::max()) return E_UNEXPECTED;
  ++array->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (array->cLocks == 0) return E_UNEXPECTED;
  --array->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (array == nullptr || data == nullptr) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(array);
  if (FAILED(hr)) return hr;
  *data = array->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }
