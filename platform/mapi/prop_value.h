// Property values as the messaging library keeps them: a type and the data
// in one canonical form, independent of the caller's SPropValue layout, with
// the conversions from and to SPropValue, the storage encoding, comparison
// and the building of GetProps-style value arrays. Internal to
// platform/mapi; pure functions, any thread.
//
// Canonical form. Narrow and wide texts are one type, PT_UNICODE, held as
// UTF-8 (lists of texts: PT_MV_UNICODE). Fixed-size values hold their bytes
// in the machine's order (little-endian here): 2 bytes for PT_I2 and
// PT_BOOLEAN (0 or 1), 4 for PT_LONG, PT_R4 and PT_ERROR, 8 for PT_DOUBLE,
// PT_APPTIME, PT_CURRENCY, PT_I8 and PT_SYSTIME, 16 for PT_CLSID. A binary
// holds its bytes. A multi-valued value holds one such element per item.
//
// Storage encoding (the `value` column of a profile): a single value is its
// data as it stands; a multi-valued one is a 4-byte little-endian count,
// then per element a 4-byte little-endian length and the element's bytes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapi.h"

namespace mapi_internal {

struct Value {
  ULONG type = PT_NULL;
  std::string data;                // single values
  std::vector<std::string> items;  // multi-valued ones
};

// The properties of one object or row, by property identifier.
using PropertyBag = std::map<ULONG, Value>;

Value TextValue(std::string utf8);
Value TextListValue(std::vector<std::string> utf8);
Value LongValue(std::int32_t value);
Value BoolValue(bool value);
Value BinaryValue(std::string bytes);
Value TimeValue(std::uint64_t fileTime);

// The canonical type of a tag's type (PT_STRING8 is PT_UNICODE).
ULONG CanonicalType(ULONG type);

// The value of a caller's property: MAPI_E_INVALID_TYPE for a type that is
// no stored value (PT_UNSPECIFIED, PT_NULL, PT_ERROR, PT_OBJECT, unknown
// types), MAPI_E_INVALID_PARAMETER for a count without its array, a binary
// count without its bytes, or a null GUID. A null text is the empty text.
HRESULT ValueFromProp(const SPropValue& prop, Value* out);

// The bytes of a value's data (for the size limit and streams' sizes).
std::size_t DataSize(const Value& value);

std::string EncodeForStorage(const Value& value);
// False when `bytes` is no encoding of `type`.
bool DecodeFromStorage(ULONG type, std::string_view bytes, Value* out);

// Orders two values of one type: true with *order < 0, 0 or > 0; false
// when they cannot be compared (different types, multi-valued values).
// Texts are compared without regard to case.
bool CompareValues(const Value& a, const Value& b, int* order);

// Builds the values of `bag` asked by `tags` (every value of the bag, by
// identifier, when `tags` is null) in one block from MAPIAllocateBuffer,
// data linked to it. An absent value, or one whose type does not fit the
// asked type, comes as PT_ERROR with MAPI_E_NOT_FOUND; with `limitSize`, a
// value larger than kMapiLargeValueBytes as PT_ERROR with
// MAPI_E_NOT_ENOUGH_MEMORY; *errors tells whether any error value came.
// PT_UNSPECIFIED asks for the value's own type, texts wide under `unicode`.
// Fails only when memory runs out (nothing is left allocated then).
HRESULT BuildPropArray(const PropertyBag& bag, const SPropTagArray* tags, bool unicode,
                       bool limitSize, ULONG* count, LPSPropValue* values, bool* errors);

// Fills `out` with `value` under the asked tag, its data linked to
// `parent`; used by BuildPropArray and by the address book.
HRESULT FillProp(const Value* value, ULONG tag, bool unicode, bool limitSize, void* parent,
                 SPropValue* out);

// A copy of `count` values and what they point to, linked to `parent`.
HRESULT CopyProps(const SPropValue* source, ULONG count, void* parent, SPropValue* out);

}  // namespace mapi_internal
