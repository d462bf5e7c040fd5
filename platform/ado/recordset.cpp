#include <algorithm>
#include <string>

#include "platform/ado/objects.h"
#include "platform/ado/values.h"

namespace ado {
namespace {

constexpr const wchar_t* kClosed = L"Operation is not allowed when the object is closed.";
constexpr const wchar_t* kNoCurrent =
    L"Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.";

// The object behind a VT_DISPATCH/VT_UNKNOWN variant, asked for interface T.
template <typename T>
_com_ptr_t<T> ObjectOf(const VARIANT& value) {
  const VARIANT* v = &value;
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) v = v->pvarVal;
  if ((v->vt != VT_DISPATCH && v->vt != VT_UNKNOWN) || v->punkVal == nullptr) return nullptr;
  void* object = nullptr;
  if (FAILED(v->punkVal->QueryInterface(T::kInterfaceId, &object))) return nullptr;
  return _com_ptr_t<T>(static_cast<T*>(object), false);
}

bool Missing(const VARIANT& v) { return v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND); }

}  // namespace

_Recordset::_Recordset() : fields_(this) { fields_.recordset_ = this; }

_Recordset::~_Recordset() = default;

void _Recordset::CheckOpen() const {
  if (!open_) Raise(adErrObjectClosed, kClosed);
}

void _Recordset::CheckCurrent() const {
  CheckOpen();
  if (position_ < 0 || static_cast<std::size_t>(position_) >= rows_->RowCount()) Raise(adErrNoCurrentRecord, kNoCurrent);
}

void _Recordset::Attach(backend::Response response, std::size_t first, _ConnectionPtr connection) {
  results_ = std::move(response.results);
  result_ = first;
  connection_ = connection;
  rows_ = result_ < results_.size() ? results_[result_].rows : nullptr;
  open_ = rows_ != nullptr;
  position_ = 0;
}

void _Recordset::Open(const _variant_t& source, const _variant_t& connection, CursorTypeEnum, LockTypeEnum, LONG) {
  if (open_) Raise(adErrObjectOpen, L"Operation is not allowed when the object is open.");
  const std::int64_t limit = maxRecords_ > 0 ? maxRecords_ : 0;
  if (_CommandPtr command = ObjectOf<_Command>(source)) {
    backend::Response response = command->Run(limit);
    Attach(std::move(response), 0, command->GetActiveConnection());
    return;
  }
  if (source.vt != VT_BSTR) Raise(adErrInvalidArgument, L"The source of the recordset is neither a command nor a text.");
  _ConnectionPtr target = ObjectOf<_Connection>(connection);
  bool own = false;
  if (!target) {
    if (connection.vt != VT_BSTR) {
      Raise(adErrInvalidConnection,
            L"The connection cannot be used to perform this operation. It is either closed or invalid in this context.");
    }
    target.Attach(MakeConnection().Detach());
    target->Open(_bstr_t(connection.bstrVal, true), _bstr_t(L""), _bstr_t(L""));
    own = true;
  }
  _CommandPtr command = MakeCommand();
  command->PutRefActiveConnection(target);
  command->PutCommandText(_bstr_t(source.bstrVal, true));
  command->PutCommandType(adCmdText);
  command->PutCommandTimeout(target->GetCommandTimeout());
  backend::Response response = command->Run(limit);
  if (own) target->Close();
  Attach(std::move(response), 0, own ? nullptr : target);
}

void _Recordset::Close() {
  CheckOpen();
  open_ = false;
  rows_ = nullptr;
  results_.clear();
}

bool _Recordset::GetEndOfFile() const {
  CheckOpen();
  return static_cast<std::size_t>(position_) >= rows_->RowCount() || rows_->RowCount() == 0;
}

bool _Recordset::GetBOF() const {
  CheckOpen();
  return position_ < 0 || rows_->RowCount() == 0;
}

LONG _Recordset::GetRecordCount() const {
  CheckOpen();
  return static_cast<LONG>(rows_->RowCount());
}

void _Recordset::MoveNext() {
  CheckOpen();
  if (position_ >= static_cast<std::int64_t>(rows_->RowCount())) Raise(adErrNoCurrentRecord, kNoCurrent);
  ++position_;
}

void _Recordset::MovePrevious() {
  CheckOpen();
  if (position_ < 0) Raise(adErrNoCurrentRecord, kNoCurrent);
  --position_;
}

void _Recordset::MoveFirst() {
  CheckOpen();
  position_ = 0;
}

void _Recordset::MoveLast() {
  CheckOpen();
  position_ = rows_->RowCount() == 0 ? 0 : static_cast<std::int64_t>(rows_->RowCount()) - 1;
}

void _Recordset::PutMaxRecords(LONG rows) {
  if (open_) Raise(adErrObjectOpen, L"Operation is not allowed when the object is open.");
  maxRecords_ = rows;
}

FieldsPtr _Recordset::GetFields() {
  CheckOpen();
  return FieldsPtr(&fields_);
}

_variant_t _Recordset::GetRows(LONG rows, const _variant_t& start, const _variant_t& fields) {
  CheckOpen();
  const std::size_t total = rows_->RowCount();
  std::int64_t from = position_;
  if (!Missing(start)) {
    _variant_t bookmark;
    if (FAILED(VariantChangeType(&bookmark, &start, 0, VT_I4))) Raise(adErrInvalidArgument, L"Unknown bookmark.");
    if (bookmark.lVal == adBookmarkFirst) {
      from = 0;
    } else if (bookmark.lVal == adBookmarkLast) {
      from = static_cast<std::int64_t>(total) - 1;
    } else if (bookmark.lVal != adBookmarkCurrent) {
      Raise(adErrInvalidArgument, L"Unknown bookmark.");
    }
  }
  if (from < 0 || static_cast<std::size_t>(from) >= total) Raise(adErrNoCurrentRecord, kNoCurrent);

  std::vector<std::size_t> columns;
  auto nameAt = [this](std::size_t i) { return std::wstring_view(rows_->Columns()[i].name); };
  if (Missing(fields)) {
    for (std::size_t c = 0; c < rows_->ColumnCount(); ++c) columns.push_back(c);
  } else if ((fields.vt & VT_ARRAY) != 0 && fields.parray != nullptr) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(fields.parray, 1, &lower);
    SafeArrayGetUBound(fields.parray, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
      _variant_t item;
      if ((fields.vt & VT_TYPEMASK) == VT_VARIANT) {
        SafeArrayGetElement(fields.parray, &i, &item);
      } else if ((fields.vt & VT_TYPEMASK) == VT_BSTR) {
        BSTR name = nullptr;
        SafeArrayGetElement(fields.parray, &i, &name);
        item = _variant_t(_bstr_t(name, false));
      } else {
        LONG position = 0;
        SafeArrayGetElement(fields.parray, &i, &position);
        item = _variant_t(static_cast<INT>(position));
      }
      columns.push_back(ItemPosition(item, rows_->ColumnCount(), nameAt));
    }
  } else {
    columns.push_back(ItemPosition(fields, rows_->ColumnCount(), nameAt));
  }

  std::size_t count = total - static_cast<std::size_t>(from);
  if (rows >= 0 && static_cast<std::size_t>(rows) < count) count = static_cast<std::size_t>(rows);
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(columns.size()), 0}, {static_cast<ULONG>(count), 0}};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
  if (array == nullptr) _com_issue_error(E_OUTOFMEMORY);
  _variant_t out;
  out.parray = array;
  out.vt = VT_ARRAY | VT_VARIANT;
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  auto* cells = static_cast<VARIANT*>(data);
  try {
    // Field by field within tiles of rows: each field's loop is of one
    // type, and a tile of the array stays in the cache while its fields
    // are written.
    constexpr std::size_t kTileRows = 256;
    for (std::size_t tile = 0; tile < count; tile += kTileRows) {
      const std::size_t rowsInTile = std::min(kTileRows, count - tile);
      for (std::size_t c = 0; c < columns.size(); ++c) {
        ColumnToVariants(*rows_, columns[c], static_cast<std::size_t>(from) + tile, rowsInTile,
                         &cells[tile * columns.size() + c], columns.size());
      }
    }
  } catch (...) {
    SafeArrayUnaccessData(array);
    throw;
  }
  SafeArrayUnaccessData(array);
  position_ = from + static_cast<std::int64_t>(count);
  return out;
}

_RecordsetPtr _Recordset::NextRecordset(VARIANT* recordsAffected) {
  if (results_.empty() && !open_) Raise(adErrObjectClosed, kClosed);
  const std::size_t next = result_ + 1;
  _RecordsetPtr following = next < results_.size() ? MakeRecordset() : nullptr;
  if (following) {
    if (recordsAffected != nullptr) {
      VariantClear(recordsAffected);
      recordsAffected->vt = VT_I4;
      recordsAffected->lVal = results_[next].rows ? -1 : static_cast<LONG>(results_[next].rowsAffected);
    }
    backend::Response rest;
    rest.results = std::move(results_);
    following->Attach(std::move(rest), next, connection_);
  }
  open_ = false;
  rows_ = nullptr;
  results_.clear();
  return following;
}

LONG Fields::GetCount() const {
  recordset_->CheckOpen();
  return static_cast<LONG>(recordset_->rows_->ColumnCount());
}

FieldPtr Fields::GetItem(const _variant_t& index) const {
  recordset_->CheckOpen();
  const backend::RowSet& rows = *recordset_->rows_;
  const std::size_t column = ItemPosition(index, rows.ColumnCount(),
                                          [&rows](std::size_t i) { return std::wstring_view(rows.Columns()[i].name); });
  std::vector<ComPart<Field>>& items = recordset_->fieldItems_;
  if (column >= items.size()) {
    // Field objects handed out stay where they are: a new set for all the
    // columns replaces the former one, which is kept.
    if (!items.empty()) recordset_->formerFieldItems_.push_back(std::move(items));
    items = std::vector<ComPart<Field>>();
    items.reserve(rows.ColumnCount());
    for (std::size_t c = 0; c < rows.ColumnCount(); ++c) {
      ComPart<Field>& field = items.emplace_back(recordset_);
      field.recordset_ = recordset_;
      field.column_ = c;
    }
  }
  return FieldPtr(&items[column]);
}

const backend::ColumnInfo& Field::Column(bool current) const {
  if (current) {
    recordset_->CheckCurrent();
  } else {
    recordset_->CheckOpen();
  }
  if (column_ >= recordset_->rows_->ColumnCount()) Raise(adErrItemNotFound, kItemNotFound);
  return recordset_->rows_->Columns()[column_];
}

_bstr_t Field::GetName() const { return _bstr_t(Column(false).name.c_str()); }

DataTypeEnum Field::GetType() const { return AdoTypeOfColumn(Column(false)); }

LONG Field::GetDefinedSize() const {
  const std::uint64_t size = Column(false).columnSize;
  return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<LONG>(size);
}

BYTE Field::GetPrecision() const {
  const backend::ColumnInfo& column = Column(false);
  return column.kind == backend::ValueKind::Decimal ? static_cast<BYTE>(column.columnSize) : 255;
}

BYTE Field::GetNumericScale() const {
  const backend::ColumnInfo& column = Column(false);
  return column.kind == backend::ValueKind::Decimal ? static_cast<BYTE>(column.decimalDigits) : 255;
}

_variant_t Field::GetValue() const {
  Column(true);
  _variant_t value;
  CellToVariant(*recordset_->rows_, column_, static_cast<std::size_t>(recordset_->position_), &value);
  return value;
}

LONG Field::GetActualSize() const {
  const backend::ColumnInfo& column = Column(true);
  const backend::RowSet& rows = *recordset_->rows_;
  const auto row = static_cast<std::size_t>(recordset_->position_);
  if (rows.IsNull(column_, row)) return 0;
  switch (column.kind) {
    case backend::ValueKind::Text: {
      std::size_t characters = 0;
      for (unsigned char c : rows.TextAt(column_, row)) characters += (c & 0xC0) != 0x80;
      const DataTypeEnum type = AdoTypeOfColumn(column);
      const bool wide = type == adWChar || type == adVarWChar || type == adLongVarWChar;
      return static_cast<LONG>(wide ? characters * 2 : characters);
    }
    default: return static_cast<LONG>(rows.SizeAt(column_, row));
  }
}

}  // namespace ado
