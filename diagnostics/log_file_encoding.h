// The byte forms of the debug file (debug_file.h): its three encodings, the
// header that marks the two Unicode ones, the footer that marks where a
// ring file's writing stopped, and the test that tells a file's encoding
// from its first characters.
//
// Encodings (DebugLogEncoding):
//   0 ANSI      one byte per character; every character above U+007F is
//               written as '?'; no header
//   1 UTF-8     header EF BB BF "UTF-8 encoded" CR LF
//   2 UTF-16LE  header FF FE "UTF-16LE encoded" CR LF, every character in
//               two-byte little-endian units (a pair above U+FFFF)
// Text reaches the encoders as UTF-16 units; UTF-8 comes from them through
// ConvertUtf16ToUtf8 in lenient mode (foundation/utf.h).
//
// Footer: "====== END OF LOG ======" CR LF in the file's encoding.
//
// Pure functions; any thread may call them.
#pragma once

#include <cstddef>
#include <string>

inline constexpr int kEncodingAnsi = 0;
inline constexpr int kEncodingUtf8 = 1;
inline constexpr int kEncodingUtf16Le = 2;

inline constexpr wchar_t kLogFooter[] = L"====== END OF LOG ======";

// Appends `units` in `encoding` to `out`.
void EncodeLogText(int encoding, const std::u16string& units, std::string* out);
// The header of `encoding` ("" for ANSI).
std::string LogFileHeader(int encoding);
// The footer line in `encoding`, and the marker alone (without CR LF).
std::string LogFileFooter(int encoding);
std::string LogFileFooterMarker(int encoding);

// The encoding that the first bytes of a file (`bytes`, `size` of them,
// read from its start) declare, when up to 15 characters are read through
// `readAs`: -1 for an empty file; U+FEFF then "UTF-8": 1; U+FEFF then
// "UTF-16BE" or "UTF-16LE": 2; U+FEFF then anything else: -2; without
// U+FEFF, the characters 0xFF 0xFE first (a UTF-16 file read byte by byte):
// -2, anything else 0; no character readable: -2.
int DetectLogFileEncoding(int readAs, const char* bytes, std::size_t size);
