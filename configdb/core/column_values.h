// Conversions between the VARIANTs that ADO exchanges and the values the
// configuration database object keeps, shared by its row readers (user
// rows, statistics rows, the server row, the table-row object) and by the
// binding of byte parameters.
//
//   if (const VARIANT* v = cell) record->SetCalendarEnableState(VariantInt(*v));
//
// Integers and dates are converted as ADO converts them (VariantChangeType);
// a value that cannot be converted throws _com_error, which the calling
// operation handles at its edge. Texts come from a VT_BSTR; byte values
// from a VT_ARRAY | VT_UI1 (anything else holds no bytes).
//
// Pure functions over the caller's values; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/variant.h"

// The 32-bit integer of the value.
std::int32_t VariantInt(const VARIANT& value);
// The 16-bit integer of the value.
std::int16_t VariantShort(const VARIANT& value);
// The time64 of a date value.
std::int64_t VariantTime(const VARIANT& value);
// The wide text of a text value ("" for a null BSTR); other types are
// converted to text.
std::wstring VariantWide(const VARIANT& value);
// The wide text of the value as a pointer: the BSTR's own text ("" for a
// null BSTR), else VariantWide's kept in *converted. Valid while both live.
const wchar_t* VariantWideText(const VARIANT& value, std::wstring* converted);
// VariantWide converted to narrow text with the ANSI code page; a text of
// ASCII characters alone is taken over as it is when the code page keeps
// ASCII (AnsiCodePageKeepsAscii).
std::string VariantNarrow(const VARIANT& value);
// Whether the ANSI code page writes the characters 1 to 127 as the same
// bytes (UTF-8 and the Windows code pages do): found by converting them
// once for each code page in turn.
bool AnsiCodePageKeepsAscii();
// The bytes of a byte-array value: its data and element count; false (and
// nothing) for another type.
bool VariantBytes(const VARIANT& value, const std::uint8_t** data, std::uint32_t* count);
// A VT_ARRAY | VT_UI1 holding a copy of `length` bytes (an empty array for
// none). Throws _com_error(E_OUTOFMEMORY) when the array cannot be made.
_variant_t BytesVariant(const void* data, std::uint32_t length);
