// Property values owned by the device object's property stores: freeing,
// deep copying, comparing and measuring one SPropValue, and reading a text
// or binary value from a property stream.
//
// A value made by these routines owns everything it points to, in the
// process heap (never in MAPI-allocated memory): texts with their
// terminator, the 16-byte GUID, binary blocks, and the one array of a
// multi-valued value with, for texts and binaries, each element. An empty
// text or block may be held as a null pointer. Only values made here (or
// zeroed records) may be given to PropValueFree.
//
// Pure functions over the caller's records; any thread, one record at a time.
#pragma once

#include <cstdint>

#include "platform/mapi/mapi.h"

// Frees what `value` owns and zeroes the record (tag 0); binary blocks,
// which hold the device's keys, are wiped first.
void PropValueFree(SPropValue* value);

// Makes a deep copy of `source` and, once it is made, frees `destination`'s
// old value and stores {source tag, pad 0, copy}. False, with `destination`
// untouched, when memory runs out.
bool PropValueCopy(SPropValue* destination, const SPropValue& source);

// True when both values have the same tag and equal data (texts compared
// character by character, case counting; an empty block or array equals
// another empty one, null or not). Values of PT_NULL, PT_ERROR and other
// types without data are never equal.
bool PropValueEquals(const SPropValue& a, const SPropValue& b);

// The bytes of a value's data: 2, 4, 8 or 16 for the fixed sizes, a text's
// characters without terminator (times sizeof(wchar_t) for wide text), a
// block's count, the sum over the elements of a multi-valued value; 0 for
// other types and null pointers.
std::uint64_t PropValueDataSize(const SPropValue& value);

// Reads `size` bytes of property `tag` (PT_STRING8, PT_UNICODE or
// PT_BINARY) from `stream`, positioned at its start, in one Read. On
// success frees `value`'s old value and stores {tag, 0, data}; a text gets
// its terminator (a wide text is cut to whole characters). False for other
// types, a short read, a failed read or no memory, `value` then untouched.
bool ReadPropertyStream(SPropValue* value, ULONG tag, IStream* stream, std::uint64_t size);
