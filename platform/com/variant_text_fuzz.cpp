// Reads arbitrary text as each value type, as field values arriving as text
// are read, and checks that what was read survives a trip back to text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/com/variant.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  for (std::size_t i = 0; i < size; ++i) {
    // Mostly ASCII, with a way to reach other code points.
    text.push_back(data[i] < 0xF0 ? static_cast<wchar_t>(data[i] & 0x7F)
                                  : static_cast<wchar_t>(0x2000 + data[i]));
  }
  _variant_t source(_bstr_t(text.c_str()));
  const VARTYPE targets[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8,
                             VT_R4, VT_R8,  VT_CY, VT_DATE, VT_BOOL, VT_DECIMAL};
  for (VARTYPE vt : targets) {
    _variant_t value;
    if (FAILED(VariantChangeType(&value, &source, 0, vt))) continue;
    _variant_t again;
    if (FAILED(VariantChangeType(&again, &value, 0, VT_BSTR))) {
      if (vt != VT_DATE) std::abort();  // every number has a text form
      continue;
    }
    _variant_t back;
    if (FAILED(VariantChangeType(&back, &again, 0, vt))) std::abort();
    // Exact types reach a fixed point: the text of the value read back is
    // the text it was read from.
    _variant_t backText;
    if (FAILED(VariantChangeType(&backText, &back, 0, VT_BSTR))) std::abort();
    const bool exact = vt != VT_R4 && vt != VT_R8;
    if (exact && !(backText == again)) std::abort();
  }
  return 0;
}
