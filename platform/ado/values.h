// Conversions between the driver's values (backend.h) and ADO's VARIANTs
// and type codes. Internal to platform/ado; pure functions, any thread.
//
// Dates: an OLE date is days since 1899-12-30 with the time of day as the
// fraction; before that day the whole part counts back while the fraction
// still counts forward (-1.25 is 1899-12-29 06:00). These converters keep
// milliseconds, which a database timestamp carries and the whole-second
// converters of platform/win32 would drop.
#pragma once

#include "platform/ado/ado.h"
#include "platform/ado/backend.h"

namespace ado {

// The ADO type code of a result column.
DataTypeEnum AdoTypeOfColumn(const backend::ColumnInfo& column);

// The VARIANT of one cell (VT_NULL for NULL).
void CellToVariant(const backend::RowSet& rows, std::size_t column, std::size_t row, VARIANT* out);
// The VARIANTs of `count` cells of `column` from row `first` on, as
// CellToVariant makes them, into out[0], out[stride], out[2 * stride], ...
// (the rows of one field in a GetRows array). Throws E_OUTOFMEMORY; the
// cells put before stay valid.
void ColumnToVariants(const backend::RowSet& rows, std::size_t column, std::size_t first, std::size_t count,
                      VARIANT* out, std::size_t stride);
// The VARIANT of a scalar value.
_variant_t ValueToVariant(const backend::Value& value);

// A parameter for the driver from an ADO parameter's type, size and value.
// Throws `_com_error` (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW,
// adErrInvalidArgument for a type this layer cannot bind).
backend::Param ToBackendParam(const _bstr_t& name, DataTypeEnum type, ParameterDirectionEnum direction, LONG size,
                              BYTE precision, BYTE scale, const _variant_t& value);

DATE TimestampToDate(const backend::Timestamp& time);
// False for a date outside years 100..9999.
bool DateToTimestamp(DATE date, backend::Timestamp* out);

}  // namespace ado
