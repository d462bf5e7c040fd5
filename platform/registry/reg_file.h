// The in-memory tree of one registry root and its text file form.
//
// Each root (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT) is kept
// in one file in the registry export format. The file is UTF-8 text (a
// UTF-16LE file that starts with its byte-order mark is read as well; a UTF-8
// byte-order mark is skipped), lines end in LF (CR LF is read as well):
//
//   Windows Registry Editor Version 5.00          first non-blank line
//   ; comment                                     anywhere between entries
//   [HKEY_LOCAL_MACHINE\Software\Vendor]          a key; all text up to the
//                                                 line's last ']' is its path
//   @="text"                                      the key's default value
//   "Name"="text with \\ and \""                  REG_SZ (one terminator)
//   "Count"=dword:0000002a                        REG_DWORD (1-8 hex digits)
//   "Blob"=hex:01,02,ff                           REG_BINARY
//   "Path"=hex(2):25,00,41,00,25,00,00,00         REG_EXPAND_SZ, UTF-16LE
//   "List"=hex(7):61,00,00,00,00,00               REG_MULTI_SZ, UTF-16LE
//   "Big"=hex(b):01,00,00,00,00,00,00,00          REG_QWORD, little-endian
//   "Odd"=hex(N):...                              any other type N (hex)
//
// A hex list may go on over several lines: a line that ends in a backslash
// continues on the next one. Every key of the root gets its own section, so
// empty keys survive. Text values whose form "..." cannot hold them exactly
// (no single terminator, embedded NULs, control characters, characters that
// UTF-8 cannot encode) are written as hex(1), hex(2) or hex(7) lists. Sub-keys
// are kept sorted by their case-folded names, values in the order they were
// first set; names compare without regard to case and keep the case they were
// written with.
//
// Comment lines are kept with the entry they stand before: the lines just
// above a section header with its key, the lines above a value with that
// value, the lines after a section's values (up to a blank line or the end of
// the file) with the key as its closing comments, and the lines above the
// first line, or below it but parted from the first section by a blank line,
// with the file (above the root's section). They are written back there, so a
// hand-edited file keeps its comments across writes; a comment goes with its
// entry when the entry is deleted. Blank lines and the layout of values are
// the writer's own.
//
// A file that the store wrote names its generation on its second line,
// "; generation 7 of this file; later changes are in its journal": no comment
// of the file's, but the number that a journal (below) names. A file without
// one is of generation 0.
//
// The parser is strict: anything else (a section of another root, a value
// before the first section, an unknown escape, bytes that are not UTF-8)
// rejects the whole file, so that a damaged file is reported instead of being
// silently rewritten without the lines it could not read.
//
// Plain data and functions; a tree is used by one thread at a time (a tree
// that is no longer changed may be read by any number of threads).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win32/types.h"

namespace morvale::registry {

enum class Root { kClassesRoot, kCurrentUser, kLocalMachine };

// "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
const char* RootName(Root root);

// True for REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: values kept as characters.
bool IsTextType(DWORD type);

// A name folded for case-insensitive comparison (simple Unicode upper case,
// independent of the process's locale).
std::wstring FoldName(std::wstring_view name);

// True when `name` can be stored as a key or value name: no control
// characters and only Unicode scalar values.
bool IsStorableName(std::wstring_view name);

// The longest key name (one level of a path) and value name, in UTF-16
// code units, and the deepest key below a root, in levels, that a write
// accepts.
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxKeyDepth = 512;

// The length of `name` in UTF-16 code units.
size_t Utf16Length(std::wstring_view name);

struct Value {
  std::wstring name;  // as first written; empty for the default value
  DWORD type = 0;
  std::wstring text;        // text types: the characters, terminators included
  std::vector<BYTE> bytes;  // every other type
  std::vector<std::string> comments;  // the comment lines above it, UTF-8
};

class Key {
 public:
  Key() = default;
  // A deep copy: the values, the comments and every key below.
  Key(const Key& other);
  Key(Key&&) = default;
  Key& operator=(const Key&) = delete;

  std::wstring name;  // as first written; empty for the root
  std::map<std::wstring, std::unique_ptr<Key>> subkeys;  // by FoldName
  std::vector<std::string> comments;  // the comment lines above its section
  std::vector<std::string> closing;   // the comment lines after its values

  // In the order they were first set.
  const std::vector<Value>& values() const { return values_; }

  Value* FindValue(std::wstring_view name);
  const Value* FindValue(std::wstring_view name) const;
  Key* FindSubKey(std::wstring_view name);
  const Key* FindSubKey(std::wstring_view name) const;
  // The sub-key of that name, created when missing.
  Key& AddSubKey(std::wstring_view name);
  // Replaces the value of that name, or appends it; keeps the stored name and
  // adds the new value's comments to those of the value it replaces.
  void SetValue(Value value);
  bool DeleteValue(std::wstring_view name);

 private:
  std::vector<Value> values_;
  std::unordered_map<std::wstring, size_t> index_;  // FoldName -> place in values_
};

// Reads the file text of `root` into `tree` (which must be empty), and the
// file's generation into *generation when given (0 when it has no stamp). On
// failure returns false and tells the line and what is wrong in *error.
bool ParseRegFile(std::string_view bytes, Root root, Key* tree, std::string* error,
                  std::uint64_t* generation = nullptr);

// The file text of `tree`, readable by ParseRegFile; a generation other than
// 0 is stamped on the line after the first.
std::string SerializeRegFile(const Key& tree, Root root, std::uint64_t generation = 0);

// The journal: the changes made to a root since its file was last written,
// appended one record at a time beside the file. It is a file of the same
// format that names the version of the root file it applies to on its second
// line:
//
//   Windows Registry Editor Version 5.00
//   ; changes since generation 7 of the registry file (88123 bytes, CRC-32 0a1b2c3d)
//
// (the generation stamped in the root file, the file's size and its CRC-32),
// then its records. A record holds one change: the section of a key, alone to
// create it or followed by one value line, or a deletion, which only a journal
// may hold:
//
//   [HKEY_LOCAL_MACHINE\Software\Vendor]
//   "Name"=-                                      deletes a value (@=- the default)
//   [-HKEY_LOCAL_MACHINE\Software\Vendor\Old]    deletes a key and all below it
//
// A change starts with a blank line; its record adds a line "; end N C": the
// change's length in bytes, in decimal, and its CRC-32, in 8 hex digits. A record cut short by a crash does not match its
// end line, or has none.

// The version of a root file that a journal applies to.
struct JournalBase {
  std::uint64_t generation = 0;
  std::uint64_t size = 0;
  std::uint32_t checksum = 0;
  bool operator==(const JournalBase& other) const {
    return generation == other.generation && size == other.size && checksum == other.checksum;
  }
};

// The CRC-32 of `bytes` (the common reflected polynomial 0xEDB88320).
std::uint32_t Crc32(std::string_view bytes);

// The first two lines of a journal over `base`.
std::string JournalHeader(const JournalBase& base);

// Reads the first two lines of a journal: false when they are not a
// journal's header. *length is their length.
bool ParseJournalHeader(std::string_view bytes, JournalBase* base, size_t* length);

// The text of one change (which starts with a blank line). `path` names a
// key below the root; a name that exists may be given in any case.
std::string SetValueChange(Root root, const std::vector<std::wstring>& path, const Value& value);
std::string DeleteValueChange(Root root, const std::vector<std::wstring>& path, std::wstring_view name);
std::string CreateKeyChange(Root root, const std::vector<std::wstring>& path);
std::string DeleteKeyChange(Root root, const std::vector<std::wstring>& path);

// `change` as a record: followed by its end line. A change ends in a newline
// and has no line that starts with ';', as those above.
std::string JournalRecord(std::string_view change);

// Applies the records of `bytes`, which starts where a record starts, to
// `tree` in turn. A last record cut short is left out: *used is the length of
// the whole records applied. Returns false, telling why in *error, for a
// record that does not match its end line while more follows it, or one that
// cannot be read; `tree` may then hold part of the records.
bool ApplyJournalRecords(std::string_view bytes, Root root, Key* tree, size_t* used, std::string* error);

}  // namespace morvale::registry
