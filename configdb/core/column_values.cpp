#include "configdb/core/column_values.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "foundation/string_conversion.h"
#include "foundation/time_convert.h"
#include "platform/com/com_error.h"
#include "platform/com/safearray.h"
#include "platform/win32/codepage.h"

namespace {

_variant_t Converted(const VARIANT& value, VARTYPE type) {
  _variant_t out;
  const HRESULT hr = VariantChangeType(&out, &value, 0, type);
  if (FAILED(hr)) _com_issue_error(hr);
  return out;
}

}  // namespace

std::int32_t VariantInt(const VARIANT& value) { return value.vt == VT_I4 ? value.lVal : Converted(value, VT_I4).lVal; }

std::int16_t VariantShort(const VARIANT& value) {
  return value.vt == VT_I2 ? value.iVal : Converted(value, VT_I2).iVal;
}

std::int64_t VariantTime(const VARIANT& value) {
  return VariantDateToTime(value.vt == VT_DATE ? value.date : Converted(value, VT_DATE).date);
}

std::wstring VariantWide(const VARIANT& value) {
  if (value.vt == VT_BSTR) {
    return value.bstrVal != nullptr ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) : std::wstring();
  }
  const _variant_t text = Converted(value, VT_BSTR);
  return text.bstrVal != nullptr ? std::wstring(text.bstrVal, SysStringLen(text.bstrVal)) : std::wstring();
}

std::string VariantNarrow(const VARIANT& value) {
  if (value.vt == VT_BSTR && value.bstrVal != nullptr) {
    // Plain ASCII (most names and addresses) is its own narrow text in an
    // ANSI code page that keeps ASCII; the conversion stops at a null.
    const wchar_t* text = value.bstrVal;
    const wchar_t* end = text + SysStringLen(value.bstrVal);
    if (std::all_of(text, end, [](wchar_t c) { return c >= 0 && c < 0x80; }) && AnsiCodePageKeepsAscii()) {
      return std::string(text, std::find(text, end, L'\0'));
    }
  }
  return ToNarrowString(VariantWide(value), CP_ACP);
}

const wchar_t* VariantWideText(const VARIANT& value, std::wstring* converted) {
  if (value.vt == VT_BSTR) return value.bstrVal != nullptr ? value.bstrVal : L"";
  *converted = VariantWide(value);
  return converted->c_str();
}

bool AnsiCodePageKeepsAscii() {
  // The last code page asked about and its answer: (code page << 1 | keeps)
  // + 1, 0 before the first question.
  static std::atomic<std::uint64_t> known{0};
  const UINT codePage = GetACP();
  const std::uint64_t last = known.load(std::memory_order_relaxed);
  if (last != 0 && ((last - 1) >> 1) == codePage) return ((last - 1) & 1) != 0;
  std::wstring ascii;
  for (wchar_t c = 1; c < 0x80; ++c) ascii += c;
  const std::string narrow = ToNarrowString(ascii, codePage);
  const bool keeps = std::equal(ascii.begin(), ascii.end(), narrow.begin(), narrow.end(),
                                [](wchar_t wide, char byte) { return static_cast<unsigned char>(byte) == wide; });
  known.store((static_cast<std::uint64_t>(codePage) << 1 | (keeps ? 1 : 0)) + 1, std::memory_order_relaxed);
  return keeps;
}

bool VariantBytes(const VARIANT& value, const std::uint8_t** data, std::uint32_t* count) {
  *data = nullptr;
  *count = 0;
  if (value.vt != (VT_ARRAY | VT_UI1) || value.parray == nullptr || SafeArrayGetDim(value.parray) != 1) return false;
  *data = static_cast<const std::uint8_t*>(value.parray->pvData);
  *count = value.parray->rgsabound[0].cElements;
  return true;
}

_variant_t BytesVariant(const void* data, std::uint32_t length) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, length);
  if (array == nullptr) _com_issue_error(E_OUTOFMEMORY);
  if (length != 0) std::memcpy(array->pvData, data, length);
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_UI1;
  raw.parray = array;
  return _variant_t(raw, false);
}
