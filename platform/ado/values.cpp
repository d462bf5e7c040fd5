#include "platform/ado/values.h"

#include <cmath>
#include <cstring>

namespace ado {
namespace {

// ODBC SQL type codes (sqlext.h), repeated here because this file may not
// include unixODBC's headers.
enum SqlType : std::int16_t {
  kSqlChar = 1,
  kSqlNumeric = 2,
  kSqlDecimal = 3,
  kSqlInteger = 4,
  kSqlSmallInt = 5,
  kSqlFloat = 6,
  kSqlReal = 7,
  kSqlDouble = 8,
  kSqlVarChar = 12,
  kSqlTypeDate = 91,
  kSqlTypeTime = 92,
  kSqlTypeTimestamp = 93,
  kSqlLongVarChar = -1,
  kSqlBinary = -2,
  kSqlVarBinary = -3,
  kSqlLongVarBinary = -4,
  kSqlBigInt = -5,
  kSqlTinyInt = -6,
  kSqlBit = -7,
  kSqlWChar = -8,
  kSqlWVarChar = -9,
  kSqlWLongVarChar = -10,
  kSqlGuid = -11,
};

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<std::int64_t>(yoe) + era * 400 + (*month <= 2);
}

// Days from 1970-01-01 to 1899-12-30.
constexpr std::int64_t kOleEpoch = -25569;
constexpr double kMillisPerDay = 86400000.0;

SAFEARRAY* ByteArray(std::span<const std::uint8_t> bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (array == nullptr) _com_issue_error(E_OUTOFMEMORY);
  if (!bytes.empty()) {
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
  }
  return array;
}

// A BSTR decoded straight from UTF-8, without an intermediate string.
BSTR BstrFromUtf8(std::string_view text) {
  UINT count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  bool ascii = count == text.size();
  if (ascii) {
    BSTR out = SysAllocStringLen(nullptr, count);
    if (out == nullptr) _com_issue_error(E_OUTOFMEMORY);
    for (UINT i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(text[i]);
    return out;
  }
  std::wstring wide = backend::WideFromUtf8(text);
  BSTR out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (out == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return out;
}

DECIMAL ToDecimal(const backend::Decimal& d) {
  DECIMAL out{};
  out.scale = d.scale;
  out.sign = d.negative ? DECIMAL_NEG : 0;
  out.Hi32 = d.hi;
  out.Lo64 = d.lo;
  return out;
}

_variant_t Converted(const _variant_t& value, VARTYPE vt) {
  _variant_t out;
  HRESULT hr = VariantChangeType(&out, &value, 0, vt);
  if (FAILED(hr)) _com_issue_error(hr);
  return out;
}

}  // namespace

DataTypeEnum AdoTypeOfColumn(const backend::ColumnInfo& column) {
  switch (column.sqlType) {
    case kSqlBit: return adBoolean;
    case kSqlTinyInt: return adUnsignedTinyInt;
    case kSqlSmallInt: return adSmallInt;
    case kSqlInteger: return adInteger;
    case kSqlBigInt: return adBigInt;
    case kSqlReal: return adSingle;
    case kSqlFloat:
    case kSqlDouble: return adDouble;
    case kSqlNumeric:
    case kSqlDecimal: return adNumeric;
    case kSqlChar: return adChar;
    case kSqlVarChar: return adVarChar;
    case kSqlLongVarChar: return adLongVarChar;
    case kSqlWChar: return adWChar;
    case kSqlWVarChar: return adVarWChar;
    case kSqlWLongVarChar: return adLongVarWChar;
    case kSqlBinary: return adBinary;
    case kSqlVarBinary: return adVarBinary;
    case kSqlLongVarBinary: return adLongVarBinary;
    case kSqlTypeDate: return adDBDate;
    case kSqlTypeTime: return adDBTime;
    case kSqlTypeTimestamp: return adDBTimeStamp;
    case kSqlGuid: return adGUID;
    default: return adVarWChar;
  }
}

DATE TimestampToDate(const backend::Timestamp& t) {
  std::int64_t days = DaysFromCivil(t.year, t.month, t.day) - kOleEpoch;
  double millis = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + std::round(t.fraction / 1e6);
  double fraction = millis / kMillisPerDay;
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

bool DateToTimestamp(DATE date, backend::Timestamp* out) {
  if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return false;
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  auto millis = static_cast<std::int64_t>(std::llround(fraction * kMillisPerDay));
  auto days = static_cast<std::int64_t>(whole);
  if (millis >= 86400000) {  // rounded up to the next day
    millis -= 86400000;
    days += date >= 0 ? 1 : -1;
  }
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(days + kOleEpoch, &year, &month, &day);
  out->year = static_cast<std::int16_t>(year);
  out->month = static_cast<std::uint16_t>(month);
  out->day = static_cast<std::uint16_t>(day);
  out->hour = static_cast<std::uint16_t>(millis / 3600000);
  out->minute = static_cast<std::uint16_t>(millis / 60000 % 60);
  out->second = static_cast<std::uint16_t>(millis / 1000 % 60);
  out->fraction = static_cast<std::uint32_t>(millis % 1000) * 1000000u;
  return true;
}

namespace {

// Sets one cell of a column of kind `kind` (not NULL) into `out`, which the
// caller has zeroed.
inline void PutCell(const backend::RowSet& rows, backend::ValueKind kind, std::size_t column, std::size_t row,
                    VARIANT* out) {
  switch (kind) {
    case backend::ValueKind::Bool:
      out->vt = VT_BOOL;
      out->boolVal = rows.Integer(column, row) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case backend::ValueKind::Int16:
      out->vt = VT_I2;
      out->iVal = static_cast<std::int16_t>(rows.Integer(column, row));
      break;
    case backend::ValueKind::Int32:
      out->vt = VT_I4;
      out->lVal = static_cast<LONG>(rows.Integer(column, row));
      break;
    case backend::ValueKind::Int64:
      out->vt = VT_I8;
      out->llVal = rows.Integer(column, row);
      break;
    case backend::ValueKind::Single:
      out->vt = VT_R4;
      out->fltVal = static_cast<float>(rows.Real(column, row));
      break;
    case backend::ValueKind::Double:
      out->vt = VT_R8;
      out->dblVal = rows.Real(column, row);
      break;
    case backend::ValueKind::Decimal: {
      DECIMAL d = ToDecimal(rows.DecimalAt(column, row));
      out->decVal = d;
      out->vt = VT_DECIMAL;
      break;
    }
    case backend::ValueKind::Timestamp:
      out->vt = VT_DATE;
      out->date = TimestampToDate(rows.TimeAt(column, row));
      break;
    case backend::ValueKind::Text:
    case backend::ValueKind::Null:
      out->bstrVal = BstrFromUtf8(rows.TextAt(column, row));
      out->vt = VT_BSTR;
      break;
    case backend::ValueKind::Bytes:
      out->parray = ByteArray(rows.BytesAt(column, row));
      out->vt = VT_ARRAY | VT_UI1;
      break;
  }
}

// The cells of one column from `first` on, each put by PutCell with the
// kind known at compile time, so that the loop carries no dispatch.
template <backend::ValueKind kKind>
void PutRun(const backend::RowSet& rows, std::size_t column, std::size_t first, std::size_t count, VARIANT* out,
            std::size_t stride) {
  for (std::size_t i = 0; i < count; ++i, out += stride) {
    std::memset(static_cast<void*>(out), 0, sizeof *out);
    if (rows.IsNull(column, first + i)) {
      out->vt = VT_NULL;
    } else {
      PutCell(rows, kKind, column, first + i, out);
    }
  }
}

}  // namespace

void CellToVariant(const backend::RowSet& rows, std::size_t column, std::size_t row, VARIANT* out) {
  VariantInit(out);
  if (rows.IsNull(column, row)) {
    out->vt = VT_NULL;
    return;
  }
  PutCell(rows, rows.Columns()[column].kind, column, row, out);
}

void ColumnToVariants(const backend::RowSet& rows, std::size_t column, std::size_t first, std::size_t count,
                      VARIANT* out, std::size_t stride) {
  using backend::ValueKind;
  switch (rows.Columns()[column].kind) {
    case ValueKind::Bool: PutRun<ValueKind::Bool>(rows, column, first, count, out, stride); break;
    case ValueKind::Int16: PutRun<ValueKind::Int16>(rows, column, first, count, out, stride); break;
    case ValueKind::Int32: PutRun<ValueKind::Int32>(rows, column, first, count, out, stride); break;
    case ValueKind::Int64: PutRun<ValueKind::Int64>(rows, column, first, count, out, stride); break;
    case ValueKind::Single: PutRun<ValueKind::Single>(rows, column, first, count, out, stride); break;
    case ValueKind::Double: PutRun<ValueKind::Double>(rows, column, first, count, out, stride); break;
    case ValueKind::Decimal: PutRun<ValueKind::Decimal>(rows, column, first, count, out, stride); break;
    case ValueKind::Timestamp: PutRun<ValueKind::Timestamp>(rows, column, first, count, out, stride); break;
    case ValueKind::Text:
    case ValueKind::Null: PutRun<ValueKind::Text>(rows, column, first, count, out, stride); break;
    case ValueKind::Bytes: PutRun<ValueKind::Bytes>(rows, column, first, count, out, stride); break;
  }
}

_variant_t ValueToVariant(const backend::Value& v) {
  switch (v.kind) {
    case backend::ValueKind::Null: {
      _variant_t out;
      out.vt = VT_NULL;
      return out;
    }
    case backend::ValueKind::Bool: return _variant_t(v.integer != 0);
    case backend::ValueKind::Int16: return _variant_t(static_cast<std::int16_t>(v.integer));
    case backend::ValueKind::Int32: return _variant_t(static_cast<INT>(v.integer));
    case backend::ValueKind::Int64: return _variant_t(static_cast<LONGLONG>(v.integer));
    case backend::ValueKind::Single: return _variant_t(static_cast<float>(v.real));
    case backend::ValueKind::Double: return _variant_t(v.real);
    case backend::ValueKind::Decimal: return _variant_t(ToDecimal(v.decimal));
    case backend::ValueKind::Timestamp: return _variant_t(TimestampToDate(v.time), VT_DATE);
    case backend::ValueKind::Text: {
      _variant_t out;
      out.bstrVal = SysAllocStringLen(v.text.data(), static_cast<UINT>(v.text.size()));
      if (out.bstrVal == nullptr) _com_issue_error(E_OUTOFMEMORY);
      out.vt = VT_BSTR;
      return out;
    }
    case backend::ValueKind::Bytes: {
      _variant_t out;
      out.parray = ByteArray(v.bytes);
      out.vt = VT_ARRAY | VT_UI1;
      return out;
    }
  }
  return _variant_t();
}

backend::Param ToBackendParam(const _bstr_t& name, DataTypeEnum type, ParameterDirectionEnum direction, LONG size,
                              BYTE precision, BYTE scale, const _variant_t& value) {
  using backend::ValueKind;
  backend::Param p;
  if (static_cast<const wchar_t*>(name) != nullptr) p.name.assign(name, name.length());
  switch (direction) {
    case adParamOutput: p.direction = backend::ParamDirection::Output; break;
    case adParamInputOutput: p.direction = backend::ParamDirection::InputOutput; break;
    case adParamReturnValue: p.direction = backend::ParamDirection::ReturnValue; break;
    default: p.direction = backend::ParamDirection::Input; break;
  }
  p.size = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  p.precision = precision;
  p.scale = scale;
  switch (type) {
    case adBoolean: p.kind = ValueKind::Bool; break;
    case adTinyInt:
    case adUnsignedTinyInt:
    case adSmallInt: p.kind = ValueKind::Int16; break;
    case adInteger:
    case adUnsignedSmallInt: p.kind = ValueKind::Int32; break;
    case adUnsignedInt:
    case adBigInt:
    case adUnsignedBigInt: p.kind = ValueKind::Int64; break;
    case adSingle: p.kind = ValueKind::Single; break;
    case adDouble:
    case adCurrency: p.kind = ValueKind::Double; break;
    case adDecimal:
    case adNumeric: p.kind = ValueKind::Decimal; break;
    case adDate:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp: p.kind = ValueKind::Timestamp; break;
    case adChar:
    case adVarChar:
    case adLongVarChar:
      p.kind = ValueKind::Text;
      p.wide = false;
      p.longData = type == adLongVarChar;
      break;
    case adBSTR:
    case adWChar:
    case adVarWChar:
    case adLongVarWChar:
    case adGUID:
      p.kind = ValueKind::Text;
      p.longData = type == adLongVarWChar;
      break;
    case adBinary:
    case adVarBinary:
    case adLongVarBinary:
      p.kind = ValueKind::Bytes;
      p.longData = type == adLongVarBinary;
      break;
    default: _com_issue_error(adErrInvalidArgument);
  }
  const bool input = p.direction == backend::ParamDirection::Input ||
                     p.direction == backend::ParamDirection::InputOutput;
  if (!input || value.vt == VT_NULL || value.vt == VT_EMPTY ||
      (value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND)) {
    return p;
  }
  backend::Value& v = p.value;
  v.kind = p.kind;
  switch (p.kind) {
    case ValueKind::Bool: v.integer = static_cast<bool>(value) ? 1 : 0; break;
    case ValueKind::Int16: v.integer = static_cast<std::int16_t>(value); break;
    case ValueKind::Int32: v.integer = static_cast<INT>(value); break;
    case ValueKind::Int64: v.integer = static_cast<LONGLONG>(value); break;
    case ValueKind::Single:
    case ValueKind::Double: v.real = static_cast<double>(value); break;
    case ValueKind::Decimal: {
      DECIMAL d = static_cast<DECIMAL>(value);
      v.decimal.lo = d.Lo64;
      v.decimal.hi = d.Hi32;
      v.decimal.scale = d.scale;
      v.decimal.negative = (d.sign & DECIMAL_NEG) != 0;
      break;
    }
    case ValueKind::Timestamp: {
      // adDBTimeStamp values arrive as VT_DATE or as the double of one.
      DATE date = value.vt == VT_DATE ? value.date : static_cast<double>(value);
      if (!DateToTimestamp(date, &v.time)) _com_issue_error(DISP_E_OVERFLOW);
      break;
    }
    case ValueKind::Text: {
      _variant_t text = value.vt == VT_BSTR ? value : Converted(value, VT_BSTR);
      if (text.bstrVal != nullptr) v.text.assign(text.bstrVal, SysStringLen(text.bstrVal));
      break;
    }
    case ValueKind::Bytes: {
      if (value.vt != (VT_ARRAY | VT_UI1) || value.parray == nullptr) _com_issue_error(DISP_E_TYPEMISMATCH);
      LONG lower = 0, upper = -1;
      SafeArrayGetLBound(value.parray, 1, &lower);
      SafeArrayGetUBound(value.parray, 1, &upper);
      std::size_t count = upper >= lower ? static_cast<std::size_t>(upper - lower + 1) : 0;
      void* data = nullptr;
      if (FAILED(SafeArrayAccessData(value.parray, &data))) _com_issue_error(E_INVALIDARG);
      const auto* bytes = static_cast<const std::uint8_t*>(data);
      v.bytes.assign(bytes, bytes + count);
      SafeArrayUnaccessData(value.parray);
      break;
    }
    case ValueKind::Null: break;
  }
  return p;
}

}  // namespace ado
