// CharsetTable: the MIME character sets this machine knows, each with its
// Windows code page, read once from the registry when the table is built.
//
// Every sub-key of HKEY_CLASSES_ROOT "MIME\Database\Charset" is a charset
// name: one with the DWORD "InternetEncoding" maps to that code page; one
// without it but with the string "AliasForCharset" (at most 256
// characters) takes the code page of the charset it names. Aliases are
// resolved in passes, so an alias of an alias resolves whatever the order of
// the keys; aliases whose target never resolves (missing, or a loop of
// aliases) are dropped once a pass resolves nothing. Without the key the
// table is empty. Names compare without regard to ASCII case, as MIME
// charset names do.
//
// Thread safety: built on one thread; afterwards read-only, so any thread
// may look names up.
#pragma once

#include <cstddef>
#include <map>
#include <string>

class CharsetTable {
 public:
  CharsetTable();
  CharsetTable(const CharsetTable&) = delete;
  CharsetTable& operator=(const CharsetTable&) = delete;

  // The code page of charset `name`; false when the table does not know it.
  bool Find(const std::wstring& name, int* codePage) const;
  std::size_t size() const { return codePages_.size(); }

 private:
  struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };
  std::map<std::wstring, int, NoCase> codePages_;
};
