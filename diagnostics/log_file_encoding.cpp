#include "diagnostics/log_file_encoding.h"

#include "foundation/utf.h"

namespace {

constexpr std::size_t kDetectChars = 15;

bool IsSurrogatePair(const std::u16string& units, std::size_t i) {
  return units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size() &&
         units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
}

std::u16string Units(const wchar_t* text) {
  std::u16string units;
  AppendUtf16FromWide(text, std::char_traits<wchar_t>::length(text), &units);
  return units;
}

// Whether `chars` continues `text` after its first character.
bool Follows(const std::u16string& chars, const char16_t* text) {
  return chars.compare(1, std::char_traits<char16_t>::length(text), text) == 0;
}

}  // namespace

void EncodeLogText(int encoding, const std::u16string& units, std::string* out) {
  if (encoding == kEncodingUtf8) {
    const std::size_t start = out->size();
    out->resize(start + units.size() * 3);
    const char16_t* source = units.data();
    char* target = out->data() + start;
    ConvertUtf16ToUtf8(&source, units.data() + units.size(), &target, out->data() + out->size(),
                       false);
    out->resize(static_cast<std::size_t>(target - out->data()));
  } else if (encoding == kEncodingUtf16Le) {
    for (char16_t unit : units) {
      out->push_back(static_cast<char>(unit & 0xFF));
      out->push_back(static_cast<char>(unit >> 8));
    }
  } else {
    for (std::size_t i = 0; i < units.size(); ++i) {
      if (IsSurrogatePair(units, i)) ++i;  // one character, one '?'
      out->push_back(units[i] <= 0x7F ? static_cast<char>(units[i]) : '?');
    }
  }
}

std::string LogFileHeader(int encoding) {
  std::string header;
  if (encoding == kEncodingUtf8) EncodeLogText(encoding, u"\uFEFFUTF-8 encoded\r\n", &header);
  if (encoding == kEncodingUtf16Le) {
    EncodeLogText(encoding, u"\uFEFFUTF-16LE encoded\r\n", &header);
  }
  return header;
}

std::string LogFileFooter(int encoding) {
  std::string footer;
  EncodeLogText(encoding, Units(kLogFooter) + u"\r\n", &footer);
  return footer;
}

std::string LogFileFooterMarker(int encoding) {
  std::string marker;
  EncodeLogText(encoding, Units(kLogFooter), &marker);
  return marker;
}

int DetectLogFileEncoding(int readAs, const char* bytes, std::size_t size) {
  if (size == 0) return -1;
  std::u16string chars;
  if (readAs == kEncodingUtf8) {
    chars.resize(kDetectChars);
    const char* source = bytes;
    char16_t* target = chars.data();
    ConvertUtf8ToUtf16(&source, bytes + size, &target, chars.data() + chars.size(), false);
    chars.resize(static_cast<std::size_t>(target - chars.data()));
  } else if (readAs == kEncodingUtf16Le) {
    for (std::size_t i = 0; i + 1 < size && chars.size() < kDetectChars; i += 2) {
      chars.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
  } else {
    for (std::size_t i = 0; i < size && chars.size() < kDetectChars; ++i) {
      chars.push_back(static_cast<unsigned char>(bytes[i]));
    }
  }
  if (chars.empty()) return -2;
  if (chars[0] == 0xFEFF) {
    if (Follows(chars, u"UTF-8")) return kEncodingUtf8;
    if (Follows(chars, u"UTF-16BE") || Follows(chars, u"UTF-16LE")) return kEncodingUtf16Le;
    return -2;
  }
  if (chars.size() >= 2 && chars[0] == 0xFF && chars[1] == 0xFE) return -2;
  return kEncodingAnsi;
}
