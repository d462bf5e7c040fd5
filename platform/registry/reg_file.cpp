#include "platform/registry/reg_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "platform/win32/codepage.h"
#include "platform/win32/text.h"
#include "platform/registry/registry.h"

namespace morvale::registry {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kStampStart = "; generation ";
constexpr std::string_view kStampEnd = " of this file; later changes are in its journal";
constexpr std::string_view kJournalStart = "; changes since generation ";
constexpr std::string_view kEndLineStart = "; end ";
constexpr size_t kHexBytesPerLine = 25;

bool IsScalarValue(wchar_t c) {
  const auto u = static_cast<std::uint32_t>(c);
  return u <= 0x10FFFF && (u < 0xD800 || u > 0xDFFF);
}

// Text that is known to hold only scalar values, as UTF-8.
std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  }
  return out;
}

bool FromUtf8(std::string_view text, std::wstring* out) {
  out->clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), out->data(), n) == n;
}

// Characters as UTF-16LE bytes; code points above U+FFFF become surrogate pairs.
std::vector<BYTE> ToUtf16Le(std::wstring_view text) {
  std::vector<BYTE> out;
  out.reserve(text.size() * 2);
  auto unit = [&out](std::uint32_t u) {
    out.push_back(static_cast<BYTE>(u & 0xFF));
    out.push_back(static_cast<BYTE>((u >> 8) & 0xFF));
  };
  for (wchar_t c : text) {
    auto u = static_cast<std::uint32_t>(c);
    if (u > 0xFFFF && u <= 0x10FFFF) {
      u -= 0x10000;
      unit(0xD800 + (u >> 10));
      unit(0xDC00 + (u & 0x3FF));
    } else {
      unit(u & 0xFFFF);
    }
  }
  return out;
}

// UTF-16LE bytes as characters; pairs are combined, a lone surrogate is kept
// as it stands. False for an odd byte count.
bool FromUtf16Le(const std::vector<BYTE>& bytes, std::wstring* out) {
  if (bytes.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t u = bytes[i] | (bytes[i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      const std::uint32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    out->push_back(static_cast<wchar_t>(u));
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits.
bool ParseHexNumber(std::string_view s, DWORD* out) {
  if (s.empty() || s.size() > 8) return false;
  DWORD v = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<DWORD>(d);
  }
  *out = v;
  return true;
}

bool ParseHexList(std::string_view s, std::vector<BYTE>* out) {
  s = Trim(s);
  out->clear();
  if (s.empty()) return true;
  while (true) {
    const size_t comma = s.find(',');
    const std::string_view token = Trim(s.substr(0, comma));
    if (token.empty() || token.size() > 2) return false;
    DWORD v = 0;
    if (!ParseHexNumber(token, &v)) return false;
    out->push_back(static_cast<BYTE>(v));
    if (comma == std::string_view::npos) return true;
    s.remove_prefix(comma + 1);
  }
}

// A quoted text with the escapes \\ and \" at the start of *s; *s is left
// after the closing quote.
bool ParseQuoted(std::string_view* s, std::wstring* out) {
  if (s->empty() || s->front() != '"') return false;
  std::string raw;
  size_t i = 1;
  for (; i < s->size(); ++i) {
    const char c = (*s)[i];
    if (c == '"') break;
    if (c == '\\') {
      if (i + 1 >= s->size()) return false;
      const char next = (*s)[++i];
      if (next != '\\' && next != '"') return false;
      raw.push_back(next);
    } else {
      raw.push_back(c);
    }
  }
  if (i >= s->size()) return false;
  s->remove_prefix(i + 1);
  return FromUtf8(raw, out);
}

// Appends `text` as "..." with '\\' and '"' escaped. Names and texts are
// mostly ASCII, which needs no conversion.
void AppendQuoted(std::wstring_view text, std::string* out) {
  out->push_back('"');
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](wchar_t c) { return static_cast<std::uint32_t>(c) < 0x80; });
  const auto escape = [out](char c) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  };
  if (ascii) {
    for (wchar_t c : text) escape(static_cast<char>(c));
  } else {
    for (char c : ToUtf8(text)) escape(c);
  }
  out->push_back('"');
}

// True when a REG_SZ text can be written as "...": one terminator at its end,
// nothing that would break the line, only scalar values.
bool FitsQuotedForm(std::wstring_view text) {
  if (text.empty() || text.back() != L'\0') return false;
  text.remove_suffix(1);
  for (wchar_t c : text) {
    if ((c < 0x20 && c != L'\t') || !IsScalarValue(c)) return false;
  }
  return true;
}

void AppendHexByte(BYTE byte, std::string* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out->push_back(kDigits[byte >> 4]);
  out->push_back(kDigits[byte & 0xF]);
}

void AppendHexList(const std::vector<BYTE>& bytes, std::string* out) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    AppendHexByte(bytes[i], out);
    if (i + 1 < bytes.size()) {
      out->push_back(',');
      if ((i + 1) % kHexBytesPerLine == 0) out->append("\\\n  ");
    }
  }
}

void AppendValueData(const Value& value, std::string* out) {
  if (value.type == REG_SZ && FitsQuotedForm(value.text)) {
    AppendQuoted(std::wstring_view(value.text).substr(0, value.text.size() - 1), out);
    return;
  }
  if (value.type == REG_DWORD && value.bytes.size() == 4) {
    out->append("dword:");
    for (int i = 3; i >= 0; --i) AppendHexByte(value.bytes[i], out);
    return;
  }
  if (value.type == REG_BINARY) {
    out->append("hex:");
  } else {
    char buf[32];
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
    out->append(buf);
  }
  AppendHexList(IsTextType(value.type) ? ToUtf16Le(value.text) : value.bytes, out);
}

// The name of a value line up to its '=': "name" or @ for the default value.
void AppendValueName(std::wstring_view name, std::string* out) {
  if (name.empty()) {
    out->push_back('@');
  } else {
    AppendQuoted(name, out);
  }
  out->push_back('=');
}

void AppendLines(const std::vector<std::string>& lines, std::string* out) {
  for (const std::string& line : lines) out->append(line).push_back('\n');
}

// A key's comments stand right above its section header, a value's right
// above the value, and the closing comments before the blank line that ends
// the section: where the parser gives them back to the same entries.
void SerializeKey(const Key& key, const std::string& path, std::string* out) {
  AppendLines(key.comments, out);
  out->append("[").append(path).append("]\n");
  for (const Value& value : key.values()) {
    AppendLines(value.comments, out);
    AppendValueName(value.name, out);
    AppendValueData(value, out);
    out->push_back('\n');
  }
  AppendLines(key.closing, out);
  out->push_back('\n');
  for (const auto& [folded, sub] : key.subkeys) {
    SerializeKey(*sub, path + "\\" + ToUtf8(sub->name), out);
  }
}

// The bytes of a UTF-16LE file (after its byte-order mark) as UTF-8.
bool Utf16FileToUtf8(std::string_view bytes, std::string* out) {
  std::vector<BYTE> units(bytes.begin(), bytes.end());
  std::wstring text;
  if (!FromUtf16Le(units, &text)) return false;
  for (wchar_t c : text) {
    if (!IsScalarValue(c)) return false;
  }
  *out = ToUtf8(text);
  return true;
}

// A decimal number at the start of *s, which is left after it.
bool TakeNumber(std::string_view* s, std::uint64_t* out) {
  const auto [end, ec] = std::from_chars(s->data(), s->data() + s->size(), *out);
  if (ec != std::errc() || end == s->data()) return false;
  s->remove_prefix(static_cast<size_t>(end - s->data()));
  return true;
}

// 8 hex digits at the start of *s, which is left after them.
bool TakeHex8(std::string_view* s, std::uint32_t* out) {
  DWORD v = 0;
  if (s->size() < 8 || !ParseHexNumber(s->substr(0, 8), &v)) return false;
  *out = v;
  s->remove_prefix(8);
  return true;
}

void AppendHex8(std::uint32_t value, std::string* out) {
  for (int shift = 24; shift >= 0; shift -= 8) AppendHexByte(static_cast<BYTE>(value >> shift), out);
}

// True when *s starts with `text`, which is taken off it.
bool TakeText(std::string_view* s, std::string_view text) {
  if (s->substr(0, text.size()) != text) return false;
  s->remove_prefix(text.size());
  return true;
}

// The generation of a stamp line.
bool ParseStamp(std::string_view line, std::uint64_t* generation) {
  std::uint64_t number = 0;
  if (!TakeText(&line, kStampStart) || !TakeNumber(&line, &number) || line != kStampEnd) return false;
  *generation = number;
  return true;
}

// Reads a root's file, or, in a journal, the text of one record, which may
// also delete values and keys and needs no first line.
class Parser {
 public:
  Parser(Root root, Key* tree, std::string* error, bool journal)
      : root_(root), tree_(tree), error_(error), journal_(journal) {}

  // The generation stamped in the file read, 0 when none is.
  std::uint64_t generation() const { return generation_; }

  bool Run(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
      const size_t nl = text.find('\n');
      lines.push_back(text.substr(0, nl));
      if (nl == std::string_view::npos) break;
      text.remove_prefix(nl + 1);
    }
    bool header = journal_;
    for (size_t i = 0; i < lines.size(); ++i) {
      line_ = i + 1;
      std::string_view line = Trim(lines[i]);
      if (line.empty()) {
        // Comments that a blank line parts from what follows close the
        // section; before the first section they are the file's own.
        if (header) Give(Closing(&tree_->comments));
        continue;
      }
      if (line.front() == ';') {
        pending_.emplace_back(line);
        continue;
      }
      if (!header) {
        if (line != kHeader) return Fail("the file does not start with \"" + std::string(kHeader) + "\"");
        header = true;
        Give(&tree_->comments);
        if (i + 1 < lines.size() && ParseStamp(Trim(lines[i + 1]), &generation_)) ++i;
        continue;
      }
      if (line.front() == '[') {
        if (!Section(line)) return false;
        Give(current_ != nullptr ? &current_->comments : nullptr);
        continue;
      }
      if (line.front() != '@' && line.front() != '"') return Fail("not a section or a value");
      // A hex list goes on over the lines that end in a backslash.
      std::string joined(line);
      while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
        joined.pop_back();
        joined.append(Trim(lines[++i]));
      }
      if (!ValueLine(joined)) return false;
    }
    Give(Closing(&tree_->closing));
    return true;
  }

 private:
  // Hands the comment lines read since the last entry to `to`, or drops them
  // (the comments of a deleted key) when it is null.
  void Give(std::vector<std::string>* to) {
    if (to != nullptr) {
      to->insert(to->end(), std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()));
    }
    pending_.clear();
  }

  // Where comments that end a section go: to the current key, to `before`
  // ahead of the first section, nowhere after a deleted key.
  std::vector<std::string>* Closing(std::vector<std::string>* before) {
    if (current_ != nullptr) return &current_->closing;
    return sections_ ? nullptr : before;
  }

  bool Fail(const std::string& what) {
    *error_ = "line " + std::to_string(line_) + ": " + what;
    return false;
  }

  bool Section(std::string_view line) {
    const size_t close = line.rfind(']');
    if (close == std::string_view::npos || !Trim(line.substr(close + 1)).empty()) {
      return Fail("a section must end in ']'");
    }
    sections_ = true;
    std::string_view path = line.substr(1, close - 1);
    const bool deletion = !path.empty() && path.front() == '-';
    if (deletion) {
      if (!journal_) return Fail("a key is deleted only in a journal");
      path.remove_prefix(1);
    }
    size_t slash = path.find('\\');
    if (!EqualsIgnoringAsciiCase(path.substr(0, slash), RootName(root_))) {
      return Fail("a section of another root than " + std::string(RootName(root_)));
    }
    std::vector<std::wstring> names;
    while (slash != std::string_view::npos) {
      path.remove_prefix(slash + 1);
      slash = path.find('\\');
      std::wstring name;
      if (!FromUtf8(path.substr(0, slash), &name) || name.empty() || !IsStorableName(name)) {
        return Fail("a key name that is empty or not UTF-8 text");
      }
      names.push_back(std::move(name));
    }
    current_ = tree_;
    if (!deletion) {
      for (const std::wstring& name : names) current_ = &current_->AddSubKey(name);
      return true;
    }
    if (names.empty()) return Fail("a root cannot be deleted");
    for (size_t i = 0; i + 1 < names.size() && current_ != nullptr; ++i) current_ = current_->FindSubKey(names[i]);
    if (current_ != nullptr) current_->subkeys.erase(FoldName(names.back()));
    current_ = nullptr;
    return true;
  }

  bool ValueLine(std::string_view line) {
    if (current_ == nullptr) return Fail("a value outside a key's section");
    Value value;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!ParseQuoted(&line, &value.name) || !IsStorableName(value.name)) {
      return Fail("a value name must be quoted UTF-8 text with the escapes \\\\ and \\\"");
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') return Fail("'=' expected after the value name");
    line = Trim(line.substr(1));
    if (line == "-") {
      if (!journal_) return Fail("a value is deleted only in a journal");
      current_->DeleteValue(value.name);
      pending_.clear();
      return true;
    }
    if (!line.empty() && line.front() == '"') {
      std::wstring text;
      if (!ParseQuoted(&line, &text) || !Trim(line).empty()) {
        return Fail("a text value must be quoted UTF-8 text with the escapes \\\\ and \\\"");
      }
      value.type = REG_SZ;
      value.text = text + L'\0';
    } else if (line.substr(0, 6) == "dword:") {
      DWORD v = 0;
      if (!ParseHexNumber(Trim(line.substr(6)), &v)) return Fail("dword: takes 1 to 8 hex digits");
      value.type = REG_DWORD;
      value.bytes = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                     static_cast<BYTE>(v >> 24)};
    } else if (line.substr(0, 3) == "hex") {
      line.remove_prefix(3);
      value.type = REG_BINARY;
      if (!line.empty() && line.front() == '(') {
        const size_t close = line.find(')');
        if (close == std::string_view::npos || !ParseHexNumber(line.substr(1, close - 1), &value.type)) {
          return Fail("hex( takes a type of 1 to 8 hex digits and ')'");
        }
        line.remove_prefix(close + 1);
      }
      if (line.empty() || line.front() != ':') return Fail("':' expected after hex");
      std::vector<BYTE> bytes;
      if (!ParseHexList(line.substr(1), &bytes)) return Fail("a hex list is bytes of 2 hex digits split by ','");
      if (IsTextType(value.type)) {
        if (!FromUtf16Le(bytes, &value.text)) return Fail("a text value needs an even number of bytes");
      } else {
        value.bytes = std::move(bytes);
      }
    } else {
      return Fail("a value must be \"text\", dword:, hex: or hex(type):");
    }
    value.comments = std::move(pending_);
    pending_.clear();
    current_->SetValue(std::move(value));
    return true;
  }

  Root root_;
  Key* tree_;
  std::string* error_;
  bool journal_;
  std::uint64_t generation_ = 0;
  Key* current_ = nullptr;            // the key of the section read last; null after a deletion
  bool sections_ = false;             // a section has been read
  std::vector<std::string> pending_;  // comment lines not yet given to an entry
  size_t line_ = 0;
};

}  // namespace

const char* RootName(Root root) {
  switch (root) {
    case Root::kClassesRoot: return "HKEY_CLASSES_ROOT";
    case Root::kCurrentUser: return "HKEY_CURRENT_USER";
    case Root::kLocalMachine: return "HKEY_LOCAL_MACHINE";
  }
  return "";
}

bool IsTextType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::wstring FoldName(std::wstring_view name) {
  return win32_internal::FoldCase(name, win32_internal::Fold::kUpper);
}

bool IsStorableName(std::wstring_view name) {
  for (wchar_t c : name) {
    if (c < 0x20 || c == 0x7F || !IsScalarValue(c)) return false;
  }
  return true;
}

size_t Utf16Length(std::wstring_view name) {
  size_t units = name.size();
  for (wchar_t c : name) {
    if (static_cast<std::uint32_t>(c) > 0xFFFF) ++units;
  }
  return units;
}

Key::Key(const Key& other)
    : name(other.name),
      comments(other.comments),
      closing(other.closing),
      values_(other.values_),
      index_(other.index_) {
  for (const auto& [folded, sub] : other.subkeys) subkeys.emplace(folded, std::make_unique<Key>(*sub));
}

Value* Key::FindValue(std::wstring_view name) {
  const auto it = index_.find(FoldName(name));
  return it == index_.end() ? nullptr : &values_[it->second];
}

const Value* Key::FindValue(std::wstring_view name) const {
  return const_cast<Key*>(this)->FindValue(name);
}

Key* Key::FindSubKey(std::wstring_view name) {
  const auto it = subkeys.find(FoldName(name));
  return it == subkeys.end() ? nullptr : it->second.get();
}

const Key* Key::FindSubKey(std::wstring_view name) const {
  return const_cast<Key*>(this)->FindSubKey(name);
}

Key& Key::AddSubKey(std::wstring_view name) {
  std::unique_ptr<Key>& slot = subkeys[FoldName(name)];
  if (!slot) {
    slot = std::make_unique<Key>();
    slot->name = name;
  }
  return *slot;
}

void Key::SetValue(Value value) {
  const auto [it, added] = index_.try_emplace(FoldName(value.name), values_.size());
  if (added) {
    values_.push_back(std::move(value));
    return;
  }
  Value& existing = values_[it->second];
  value.name = std::move(existing.name);
  existing.comments.insert(existing.comments.end(), std::make_move_iterator(value.comments.begin()),
                           std::make_move_iterator(value.comments.end()));
  value.comments = std::move(existing.comments);
  existing = std::move(value);
}

bool Key::DeleteValue(std::wstring_view name) {
  const auto it = index_.find(FoldName(name));
  if (it == index_.end()) return false;
  const size_t place = it->second;
  index_.erase(it);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(place));
  for (auto& [folded, at] : index_) {
    if (at > place) --at;
  }
  return true;
}

bool ParseRegFile(std::string_view bytes, Root root, Key* tree, std::string* error, std::uint64_t* generation) {
  std::string utf8;
  if (bytes.size() >= 2 && static_cast<BYTE>(bytes[0]) == 0xFF && static_cast<BYTE>(bytes[1]) == 0xFE) {
    if (!Utf16FileToUtf8(bytes.substr(2), &utf8)) {
      *error = "a UTF-16LE file with an odd byte count or a lone surrogate";
      return false;
    }
    bytes = utf8;
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  }
  Parser parser(root, tree, error, false);
  const bool ok = parser.Run(bytes);
  if (generation != nullptr) *generation = parser.generation();
  return ok;
}

std::string SerializeRegFile(const Key& tree, Root root, std::uint64_t generation) {
  std::string out(kHeader);
  out.push_back('\n');
  if (generation != 0) {
    out.append(kStampStart).append(std::to_string(generation)).append(kStampEnd).push_back('\n');
  }
  out.push_back('\n');
  SerializeKey(tree, RootName(root), &out);
  return out;
}

std::uint32_t Crc32(std::string_view bytes) {
  static constexpr std::array<std::uint32_t, 256> kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return table;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : bytes) crc = kTable[(crc ^ static_cast<BYTE>(c)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string JournalHeader(const JournalBase& base) {
  std::string out(kHeader);
  out.append("\n").append(kJournalStart).append(std::to_string(base.generation));
  out.append(" of the registry file (").append(std::to_string(base.size)).append(" bytes, CRC-32 ");
  AppendHex8(base.checksum, &out);
  return out.append(")\n");
}

bool ParseJournalHeader(std::string_view bytes, JournalBase* base, size_t* length) {
  std::string_view s = bytes;
  if (!TakeText(&s, kHeader) || !TakeText(&s, "\n") || !TakeText(&s, kJournalStart) ||
      !TakeNumber(&s, &base->generation) || !TakeText(&s, " of the registry file (") ||
      !TakeNumber(&s, &base->size) || !TakeText(&s, " bytes, CRC-32 ") || !TakeHex8(&s, &base->checksum) ||
      !TakeText(&s, ")\n")) {
    return false;
  }
  *length = bytes.size() - s.size();
  return true;
}

namespace {

// The first line of a change: a blank line, then the section of the key at
// `path`, or its deletion.
std::string SectionLine(Root root, const std::vector<std::wstring>& path, bool deletion) {
  std::string out = deletion ? "\n[-" : "\n[";
  out.append(RootName(root));
  for (const std::wstring& name : path) out.append("\\").append(ToUtf8(name));
  out.append("]\n");
  return out;
}

// True when `line` is the end line of `body`.
bool EndLineMatches(std::string_view line, std::string_view body) {
  std::uint64_t length = 0;
  std::uint32_t checksum = 0;
  return TakeText(&line, kEndLineStart) && TakeNumber(&line, &length) && TakeText(&line, " ") &&
         TakeHex8(&line, &checksum) && line.empty() && length == body.size() && checksum == Crc32(body);
}

}  // namespace

std::string SetValueChange(Root root, const std::vector<std::wstring>& path, const Value& value) {
  std::string change = SectionLine(root, path, false);
  AppendValueName(value.name, &change);
  AppendValueData(value, &change);
  change.push_back('\n');
  return change;
}

std::string DeleteValueChange(Root root, const std::vector<std::wstring>& path, std::wstring_view name) {
  std::string change = SectionLine(root, path, false);
  AppendValueName(name, &change);
  change.append("-\n");
  return change;
}

std::string CreateKeyChange(Root root, const std::vector<std::wstring>& path) {
  return SectionLine(root, path, false);
}

std::string DeleteKeyChange(Root root, const std::vector<std::wstring>& path) {
  return SectionLine(root, path, true);
}

std::string JournalRecord(std::string_view change) {
  std::string record(change);
  record.append(kEndLineStart).append(std::to_string(change.size())).push_back(' ');
  AppendHex8(Crc32(change), &record);
  record.push_back('\n');
  return record;
}

bool ApplyJournalRecords(std::string_view bytes, Root root, Key* tree, size_t* used, std::string* error) {
  *used = 0;
  while (*used < bytes.size()) {
    // The record ends at the first line that starts with ';', which the
    // lines of a change never do.
    size_t end = *used;
    while (end != std::string_view::npos && end < bytes.size() && bytes[end] != ';') {
      end = bytes.find('\n', end);
      if (end != std::string_view::npos) ++end;
    }
    const size_t newline = end == std::string_view::npos ? end : bytes.find('\n', end);
    if (newline == std::string_view::npos) return true;  // no whole end line: cut short
    const std::string_view body = bytes.substr(*used, end - *used);
    if (!EndLineMatches(bytes.substr(end, newline - end), body)) {
      if (newline + 1 == bytes.size()) return true;  // the last record, cut short
      *error = "the record at byte " + std::to_string(*used) + " of the journal does not match its end line";
      return false;
    }
    if (!Parser(root, tree, error, true).Run(body)) {
      *error = "the record at byte " + std::to_string(*used) + " of the journal, " + *error;
      return false;
    }
    *used = newline + 1;
  }
  return true;
}

}  // namespace morvale::registry
