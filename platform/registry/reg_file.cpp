#include "platform/registry/reg_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <iterator>
#include <locale.h>

#include "platform/win32/codepage.h"
#include "platform/registry/registry.h"

namespace morvale::registry {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
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
    if (value.name.empty()) {
      out->push_back('@');
    } else {
      AppendQuoted(value.name, out);
    }
    out->push_back('=');
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

class Parser {
 public:
  Parser(Root root, Key* tree, std::string* error) : root_(root), tree_(tree), error_(error) {}

  bool Run(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
      const size_t nl = text.find('\n');
      lines.push_back(text.substr(0, nl));
      if (nl == std::string_view::npos) break;
      text.remove_prefix(nl + 1);
    }
    bool header = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      line_ = i + 1;
      std::string_view line = Trim(lines[i]);
      if (line.empty()) {
        // Comments that a blank line parts from what follows close the
        // section; before the first section they are the file's own.
        if (header) Give(current_ != nullptr ? &current_->closing : &tree_->comments);
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
        continue;
      }
      if (line.front() == '[') {
        if (!Section(line)) return false;
        Give(&current_->comments);
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
    Give(current_ != nullptr ? &current_->closing : &tree_->closing);
    return true;
  }

 private:
  // Hands the comment lines read since the last entry to `to`.
  void Give(std::vector<std::string>* to) {
    to->insert(to->end(), std::make_move_iterator(pending_.begin()),
               std::make_move_iterator(pending_.end()));
    pending_.clear();
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
    std::string_view path = line.substr(1, close - 1);
    size_t slash = path.find('\\');
    if (!EqualsIgnoringAsciiCase(path.substr(0, slash), RootName(root_))) {
      return Fail("a section of another root than " + std::string(RootName(root_)));
    }
    Key* key = tree_;
    while (slash != std::string_view::npos) {
      path.remove_prefix(slash + 1);
      slash = path.find('\\');
      std::wstring name;
      if (!FromUtf8(path.substr(0, slash), &name) || name.empty() || !IsStorableName(name)) {
        return Fail("a key name that is empty or not UTF-8 text");
      }
      key = &key->AddSubKey(name);
    }
    current_ = key;
    return true;
  }

  bool ValueLine(std::string_view line) {
    if (current_ == nullptr) return Fail("a value before the first section");
    Value value;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!ParseQuoted(&line, &value.name) || !IsStorableName(value.name)) {
      return Fail("a value name must be quoted UTF-8 text with the escapes \\\\ and \\\"");
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') return Fail("'=' expected after the value name");
    line = Trim(line.substr(1));
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
  Key* current_ = nullptr;
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
  // One locale for all processes, so that two processes never disagree on
  // which names are the same.
  static const locale_t folding = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  std::wstring out(name);
  for (wchar_t& c : out) {
    if (folding != static_cast<locale_t>(nullptr)) {
      c = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), folding));
    } else if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - 32);
    }
  }
  return out;
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

bool ParseRegFile(std::string_view bytes, Root root, Key* tree, std::string* error) {
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
  return Parser(root, tree, error).Run(bytes);
}

std::string SerializeRegFile(const Key& tree, Root root) {
  std::string out(kHeader);
  out.append("\n\n");
  SerializeKey(tree, RootName(root), &out);
  return out;
}

}  // namespace morvale::registry
