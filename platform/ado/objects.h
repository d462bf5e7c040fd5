// Internal to platform/ado: the concrete classes behind ado.h's interfaces
// and the helpers its .cpp files share. Same thread rules as ado.h.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado/ado.h"

namespace ado {

// Builds Errors collections.
class ErrorList {
 public:
  static ErrorsPtr Make();
  static void Add(Errors* errors, HRESULT number, const std::wstring& source, const std::wstring& description,
                  const std::string& sqlState, LONG nativeError);
};

// Builds Properties collections.
class PropertyList {
 public:
  static PropertiesPtr Make(const std::vector<std::pair<std::wstring, _variant_t>>& items);
};

_ParameterPtr MakeParameter();

// The description of adErrItemNotFound.
inline constexpr const wchar_t* kItemNotFound =
    L"Item cannot be found in the collection corresponding to the requested name or ordinal.";

// The position an Item index names in a collection of `count` items, whose
// names `nameAt` gives: an integer position, or a name compared without
// regard to case. Throws adErrItemNotFound.
std::size_t ItemPosition(const _variant_t& index, std::size_t count,
                         const std::function<std::wstring_view(std::size_t)>& nameAt);

// Case-insensitive equality of names (ASCII and Latin letters by towlower).
bool SameName(std::wstring_view a, std::wstring_view b);

// Throws `_com_error` with a description of ours.
[[noreturn]] void Raise(HRESULT hr, const wchar_t* description);

}  // namespace ado
