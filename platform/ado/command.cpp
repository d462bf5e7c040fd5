#include <string>
#include <string_view>

#include "platform/ado/objects.h"
#include "platform/ado/values.h"

namespace ado {
namespace {

std::wstring_view Text(const _bstr_t& text) {
  const wchar_t* p = text;
  return p != nullptr ? std::wstring_view(p, text.length()) : std::wstring_view();
}

}  // namespace

_Command::_Command() : parameters_(this) {}

ParametersPtr _Command::GetParameters() const { return ParametersPtr(const_cast<ComPart<Parameters>*>(&parameters_)); }

_ParameterPtr _Command::CreateParameter(const _bstr_t& name, DataTypeEnum type, ParameterDirectionEnum direction,
                                        LONG size, const _variant_t& value) {
  _ParameterPtr parameter = MakeParameter();
  parameter->name_ = name;
  parameter->type_ = type;
  parameter->direction_ = direction;
  parameter->size_ = size;
  if (!(value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND)) parameter->value_ = value;
  return parameter;
}

backend::Response _Command::Run(std::int64_t maxRows) {
  if (!connection_ || connection_->GetState() != adStateOpen) {
    Raise(adErrInvalidConnection,
          L"The connection cannot be used to perform this operation. It is either closed or invalid in this context.");
  }
  std::vector<backend::Param> params;
  params.reserve(parameters_.items_.size());
  for (const _ParameterPtr& p : parameters_.items_) {
    params.push_back(ToBackendParam(p->name_, p->type_, p->direction_, p->size_, p->precision_, p->scale_, p->value_));
  }

  backend::Request request;
  request.timeoutSeconds = timeout_;
  request.maxRows = maxRows;
  request.procedure = type_ == adCmdStoredProc;
  std::wstring table;
  if (type_ == adCmdTable) table.append(L"SELECT * FROM ").append(Text(text_));
  request.params = &params;

  backend::Response response;
  connection_->Run(request, type_ == adCmdTable ? std::wstring_view(table) : Text(text_), &response);
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (params[i].direction != backend::ParamDirection::Input) {
      parameters_.items_[i]->value_ = ValueToVariant(params[i].value);
    }
  }
  return response;
}

_RecordsetPtr _Command::Execute(VARIANT* recordsAffected, VARIANT*, LONG options) {
  backend::Response response = Run(0);
  if (recordsAffected != nullptr) {
    VariantClear(recordsAffected);
    recordsAffected->vt = VT_I4;
    const bool counted = !response.results.empty() && !response.results.front().rows;
    recordsAffected->lVal = counted ? static_cast<LONG>(response.results.front().rowsAffected) : -1;
  }
  if (options != -1 && (options & adExecuteNoRecords) != 0) return nullptr;
  _RecordsetPtr recordset = MakeRecordset();
  recordset->Attach(std::move(response), 0, connection_);
  return recordset;
}

}  // namespace ado
