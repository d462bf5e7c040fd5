#include "platform/ado/objects.h"

#include <atomic>
#include <cwctype>
#include <mutex>

#include "platform/ado/odbc_backend.h"
#include "platform/com/apartment.h"

namespace ado {
namespace {

class ErrorObject final : public ComObject<Error> {
 public:
  ErrorObject(HRESULT number, const std::wstring& source, const std::wstring& description,
              const std::string& sqlState, LONG nativeError) {
    number_ = number;
    source_ = source.c_str();
    description_ = description.c_str();
    sqlState_ = sqlState.c_str();
    nativeError_ = nativeError;
  }
};

class ErrorsObject final : public ComObject<Errors> {};

class PropertyObject final : public ComObject<Property> {
 public:
  PropertyObject(const std::wstring& name, const _variant_t& value) {
    name_ = name.c_str();
    value_ = value;
  }
};

class PropertiesObject final : public ComObject<Properties> {};

class ConnectionObject final : public ComObject<_Connection> {};
class CommandObject final : public ComObject<_Command> {};
class RecordsetObject final : public ComObject<_Recordset> {};
class ParameterObject final : public ComObject<_Parameter> {};

std::atomic<backend::Driver*> driverOverride{nullptr};

}  // namespace

void Raise(HRESULT hr, const wchar_t* description) { throw _com_error(hr, _bstr_t(L"ADO"), _bstr_t(description)); }

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  }
  return true;
}

std::size_t ItemPosition(const _variant_t& index, std::size_t count,
                         const std::function<std::wstring_view(std::size_t)>& nameAt) {
  const VARIANT* v = &index;
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) v = v->pvarVal;
  if (v->vt == VT_BSTR) {
    std::wstring_view name(v->bstrVal != nullptr ? v->bstrVal : L"", SysStringLen(v->bstrVal));
    for (std::size_t i = 0; i < count; ++i) {
      if (SameName(nameAt(i), name)) return i;
    }
    Raise(adErrItemNotFound, kItemNotFound);
  }
  // The usual integer types are read as they are; the others converted.
  LONGLONG at;
  switch (v->vt) {
    case VT_I2: at = v->iVal; break;
    case VT_I4: at = v->lVal; break;
    case VT_INT: at = v->intVal; break;
    case VT_I8: at = v->llVal; break;
    default: {
      _variant_t position;
      if (FAILED(VariantChangeType(&position, v, 0, VT_I8))) Raise(adErrItemNotFound, kItemNotFound);
      at = position.llVal;
      break;
    }
  }
  if (at < 0 || static_cast<std::uint64_t>(at) >= count) Raise(adErrItemNotFound, kItemNotFound);
  return static_cast<std::size_t>(at);
}

ErrorsPtr ErrorList::Make() { return ErrorsPtr(new ErrorsObject()); }

void ErrorList::Add(Errors* errors, HRESULT number, const std::wstring& source, const std::wstring& description,
                    const std::string& sqlState, LONG nativeError) {
  errors->items_.push_back(ErrorPtr(new ErrorObject(number, source, description, sqlState, nativeError)));
}

ErrorPtr Errors::GetItem(const _variant_t& index) const {
  return items_[ItemPosition(index, items_.size(), [](std::size_t) { return std::wstring_view(); })];
}

PropertiesPtr PropertyList::Make(const std::vector<std::pair<std::wstring, _variant_t>>& items) {
  PropertiesPtr properties(new PropertiesObject());
  for (const auto& [name, value] : items) properties->items_.push_back(PropertyPtr(new PropertyObject(name, value)));
  return properties;
}

PropertyPtr Properties::GetItem(const _variant_t& index) const {
  return items_[ItemPosition(index, items_.size(), [this](std::size_t i) {
    const wchar_t* name = items_[i]->GetName();
    return std::wstring_view(name != nullptr ? name : L"");
  })];
}

void Parameters::Append(_Parameter* parameter) {
  if (parameter == nullptr) Raise(E_INVALIDARG, L"Null parameter appended.");
  items_.push_back(_ParameterPtr(parameter));
}

std::size_t Parameters::IndexOf(const _variant_t& index) const {
  return ItemPosition(index, items_.size(), [this](std::size_t i) {
    const wchar_t* name = items_[i]->GetName();
    return std::wstring_view(name != nullptr ? name : L"");
  });
}

void Parameters::Delete(const _variant_t& index) {
  const std::size_t gone = IndexOf(index);
  std::vector<_ParameterPtr> kept;
  kept.reserve(items_.size() - 1);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i != gone) kept.push_back(items_[i]);
  }
  items_.swap(kept);
}

_ParameterPtr Parameters::GetItem(const _variant_t& index) const { return items_[IndexOf(index)]; }

_ConnectionPtr MakeConnection() { return _ConnectionPtr(new ConnectionObject()); }
_CommandPtr MakeCommand() { return _CommandPtr(new CommandObject()); }
_RecordsetPtr MakeRecordset() { return _RecordsetPtr(new RecordsetObject()); }
_ParameterPtr MakeParameter() { return _ParameterPtr(new ParameterObject()); }

void RegisterAdoClass(REFCLSID clsid) {
  if (clsid == CLSID_Connection) ComRegisterClass(clsid, &ComCreateObject<ConnectionObject>);
  if (clsid == CLSID_Command) ComRegisterClass(clsid, &ComCreateObject<CommandObject>);
  if (clsid == CLSID_Recordset) ComRegisterClass(clsid, &ComCreateObject<RecordsetObject>);
}

void RegisterAdoClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterAdoClass(CLSID_Connection);
    RegisterAdoClass(CLSID_Command);
    RegisterAdoClass(CLSID_Recordset);
  });
}

backend::Driver& CurrentDriver() {
  backend::Driver* driver = driverOverride.load();
  return driver != nullptr ? *driver : backend::OdbcDriver();
}

backend::Driver* SetDriver(backend::Driver* driver) { return driverOverride.exchange(driver); }

}  // namespace ado
