#include "platform/com/com_error.h"

#include <cwchar>

namespace {

struct KnownMessage {
  HRESULT hr;
  const wchar_t* text;
};

// The system's texts of the codes this platform raises itself.
constexpr KnownMessage kMessages[] = {
    {S_OK, L"The operation completed successfully."},
    {S_FALSE, L"Incorrect function."},
    {E_NOTIMPL, L"Not implemented"},
    {E_NOINTERFACE, L"No such interface supported"},
    {E_POINTER, L"Invalid pointer"},
    {E_ABORT, L"Operation aborted"},
    {E_FAIL, L"Unspecified error"},
    {E_UNEXPECTED, L"Catastrophic failure"},
    {E_ACCESSDENIED, L"Access is denied."},
    {E_OUTOFMEMORY, L"Not enough storage is available to complete this operation."},
    {E_INVALIDARG, L"The parameter is incorrect."},
    {RPC_E_CHANGED_MODE, L"Cannot change thread mode after it is set."},
    {CO_E_NOTINITIALIZED, L"CoInitialize has not been called."},
    {REGDB_E_CLASSNOTREG, L"Class not registered"},
    {CLASS_E_NOAGGREGATION, L"Class does not support aggregation (or class object is remote)"},
    {DISP_E_PARAMNOTFOUND, L"Parameter not found."},
    {DISP_E_TYPEMISMATCH, L"Type mismatch."},
    {DISP_E_BADVARTYPE, L"Bad variable type."},
    {DISP_E_OVERFLOW, L"Out of present range."},
    {DISP_E_BADINDEX, L"Invalid index."},
    {DISP_E_ARRAYISLOCKED, L"Memory is locked."},
};

}  // namespace

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

const wchar_t* _com_error::ErrorMessage() const {
  if (!message_.empty()) return message_.c_str();
  for (const KnownMessage& known : kMessages) {
    if (known.hr == hr_) {
      message_ = known.text;
      return message_.c_str();
    }
  }
  const auto bits = static_cast<std::uint32_t>(hr_);
  wchar_t text[64];
  if (bits >= 0x80040200u && bits <= 0x8004FFFFu) {
    std::swprintf(text, 64, L"IDispatch error #%u", bits - 0x80040200u);
  } else {
    std::swprintf(text, 64, L"Unknown error 0x%08X", bits);
  }
  message_ = text;
  return message_.c_str();
}
