#include "platform/mapi/profile_description.h"

#include <map>
#include <set>

#include "platform/mapi/text.h"

namespace mapi_profile {
namespace {

using mapi_internal::FoldedKey;
using mapi_internal::TrimBlanks;

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length;
    std::uint32_t code;
    if (c < 0x80) {
      length = 1;
      code = c;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

bool IsName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

class Parser {
 public:
  bool Parse(std::string_view text, Organisation* out, std::string* error) {
    std::size_t start = 0;
    while (start <= text.size() && ok_) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      ++line_;
      Line(line);
      start = end + 1;
    }
    if (ok_) FinishSection();
    if (ok_) CheckReferences();
    if (!ok_) {
      *error = error_;
      return false;
    }
    *out = std::move(organisation_);
    return true;
  }

 private:
  enum class Section { kNone, kContainer, kUser, kStore };

  void Fail(int line, const std::string& message) {
    if (!ok_) return;
    ok_ = false;
    error_ = "line " + std::to_string(line) + ": " + message;
  }
  void Fail(const std::string& message) { Fail(line_, message); }

  void Line(std::string_view line) {
    for (char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return Fail("control character");
      if (c == 0x7F) return Fail("control character");
    }
    if (!IsValidUtf8(line)) return Fail("not UTF-8 text");
    const std::string_view content = TrimBlanks(line);
    if (content.empty() || content.front() == '#') return;
    if (content.front() == '[') return Header(content);
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) return Fail("expected \"key = value\" or a section");
    const std::string key(TrimBlanks(content.substr(0, equals)));
    const std::string value(TrimBlanks(content.substr(equals + 1)));
    if (value.empty()) return Fail("\"" + key + "\" has no value");
    if (value.find('\t') != std::string::npos) return Fail("control character");
    Field(key, value);
  }

  void Header(std::string_view header) {
    if (header.back() != ']') return Fail("a section header ends with ']'");
    FinishSection();
    if (!ok_) return;
    const std::string_view inside = TrimBlanks(header.substr(1, header.size() - 2));
    seen_.clear();
    sectionLine_ = line_;
    if (inside == "user") {
      section_ = Section::kUser;
      organisation_.users.emplace_back();
    } else if (inside == "store") {
      section_ = Section::kStore;
      organisation_.stores.emplace_back();
    } else if (inside.substr(0, 10) == "container ") {
      const std::string name(TrimBlanks(inside.substr(10)));
      if (!IsName(name)) return Fail("a container's name is letters, digits, '.', '-' and '_'");
      if (containerLines_.count(name) != 0) return Fail("container \"" + name + "\" is defined twice");
      containerLines_[name] = line_;
      section_ = Section::kContainer;
      organisation_.containers.emplace_back();
      organisation_.containers.back().name = name;
    } else {
      Fail("unknown section \"[" + std::string(inside) + "]\"");
    }
  }

  // Records a key of the current section; false (failed) when it repeats
  // and may not.
  bool Once(const std::string& key) {
    if (!seen_.insert(key).second) {
      Fail("\"" + key + "\" is given twice");
      return false;
    }
    return true;
  }

  void Field(const std::string& key, const std::string& value) {
    switch (section_) {
      case Section::kNone:
        return Fail("\"" + key + "\" before any section");
      case Section::kContainer: {
        ContainerDescription& c = organisation_.containers.back();
        if (key == "display-name") {
          if (Once(key)) c.displayName = value;
        } else if (key == "parent") {
          if (!Once(key)) return;
          if (containerLines_.count(value) == 0 || value == c.name) {
            return Fail("parent \"" + value + "\" is no container defined above");
          }
          c.parent = value;
        } else if (key == "global") {
          if (!Once(key)) return;
          if (value != "yes" && value != "no") return Fail("global is \"yes\" or \"no\"");
          c.global = value == "yes";
        } else {
          Fail("unknown key \"" + key + "\" in a container");
        }
        return;
      }
      case Section::kUser: {
        UserDescription& u = organisation_.users.back();
        if (key == "display-name") {
          if (Once(key)) u.displayName = value;
        } else if (key == "email-address") {
          if (Once(key)) u.emailAddress = value;
        } else if (key == "address-type") {
          if (Once(key)) u.addressType = value;
        } else if (key == "alias") {
          if (Once(key)) u.alias = value;
        } else if (key == "smtp-address") {
          if (Once(key)) u.smtpAddress = value;
        } else if (key == "home-mdb") {
          if (Once(key)) u.homeMdb = value;
        } else if (key == "proxy-address") {
          u.proxyAddresses.push_back(value);
        } else if (key == "container") {
          u.containers.push_back(value);
          containerUses_.emplace_back(value, line_);
        } else {
          Fail("unknown key \"" + key + "\" in a user");
        }
        return;
      }
      case Section::kStore: {
        StoreDescription& s = organisation_.stores.back();
        if (key == "dn") {
          if (Once(key)) s.dn = value;
        } else if (key == "display-name") {
          if (Once(key)) s.displayName = value;
        } else if (key == "role") {
          if (!Once(key)) return;
          if (value == "default") {
            s.role = StoreRole::kDefault;
          } else if (value == "public") {
            s.role = StoreRole::kPublic;
          } else if (value == "mailbox") {
            s.role = StoreRole::kMailbox;
          } else {
            Fail("role is \"default\", \"public\" or \"mailbox\"");
          }
        } else {
          Fail("unknown key \"" + key + "\" in a store");
        }
        return;
      }
    }
  }

  // Checks what the section just ended must hold.
  void FinishSection() {
    auto require = [&](const char* key) {
      if (seen_.count(key) == 0) Fail(sectionLine_, std::string("the section needs \"") + key + "\"");
    };
    switch (section_) {
      case Section::kNone:
        return;
      case Section::kContainer:
        require("display-name");
        if (organisation_.containers.back().global) {
          if (globalLine_ != 0) Fail(sectionLine_, "a second global container");
          globalLine_ = sectionLine_;
        }
        break;
      case Section::kUser: {
        require("display-name");
        require("email-address");
        const std::string key = FoldedKey(organisation_.users.back().emailAddress);
        if (ok_ && !emails_.insert(key).second) Fail(sectionLine_, "a second user with that e-mail address");
        if (organisation_.users.back().containers.empty()) usersWithoutContainer_.push_back(sectionLine_);
        break;
      }
      case Section::kStore: {
        require("dn");
        require("display-name");
        const StoreDescription& s = organisation_.stores.back();
        if (ok_ && !storeNames_.insert(FoldedKey(s.dn)).second) Fail(sectionLine_, "a second store with that dn");
        if (s.role == StoreRole::kDefault && defaults_++ > 0) Fail(sectionLine_, "a second default store");
        if (s.role == StoreRole::kPublic && publics_++ > 0) Fail(sectionLine_, "a second public store");
        break;
      }
    }
    section_ = Section::kNone;
  }

  void CheckReferences() {
    for (const auto& [name, line] : containerUses_) {
      if (containerLines_.count(name) == 0) return Fail(line, "no container \"" + name + "\"");
    }
    if (!usersWithoutContainer_.empty() && globalLine_ == 0) {
      Fail(usersWithoutContainer_.front(), "a user names no container and there is no global one");
    }
  }

  Organisation organisation_;
  Section section_ = Section::kNone;
  int line_ = 0;
  int sectionLine_ = 0;
  int globalLine_ = 0;
  int defaults_ = 0;
  int publics_ = 0;
  std::set<std::string> seen_;
  std::map<std::string, int> containerLines_;
  std::vector<std::pair<std::string, int>> containerUses_;
  std::vector<int> usersWithoutContainer_;
  std::set<std::string> emails_;
  std::set<std::string> storeNames_;
  bool ok_ = true;
  std::string error_;
};

}  // namespace

bool ParseOrganisation(std::string_view text, Organisation* organisation, std::string* error) {
  return Parser().Parse(text, organisation, error);
}

}  // namespace mapi_profile
