// Small text helpers shared by the whole system: trimming and splitting of
// standard strings, a case-insensitive wildcard match, the decimal text of
// numbers, the text of an SQL literal, and printf-style output of any length.
//
// Pure functions of their arguments; any thread may call them. Printability
// (TrimWideString) follows the Unicode character tables whatever the locale;
// case (WildcardMatchW) follows the calling thread's C locale (LC_CTYPE).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>

// Removes leading and trailing blanks and tabs (only ' ' and '\t') in place.
void TrimWhitespace(std::string& s);

// The text with every single quote doubled: what stands between the quotes
// of an SQL literal, so that no quote in it ends the literal.
std::wstring DoubleSingleQuotes(std::wstring_view text);

// Clears *out, then cuts text at every occurrence of delimiter, left to
// right, and appends the tokens, the one after the last delimiter included.
// trimTokens trims each token with TrimWhitespace; skipEmpty drops the
// tokens that are then empty. Returns the number of tokens appended; 0 when
// text or delimiter is empty or out is null.
int SplitString(const std::string& text, const std::string& delimiter,
                std::list<std::string>* out, bool skipEmpty, bool trimTokens);

// A copy of in without the leading and trailing characters that are in set
// or are not printable (iswprint over the Unicode tables: controls, unassigned
// code points). A null or empty set gives an unchanged
// copy.
std::wstring TrimWideString(const std::wstring& in, const wchar_t* set);

// Case-insensitive match of name against pattern, where a star is a
// wildcard only at the start or the end of the pattern:
//   ""  or "*"  every non-empty name
//   "*text*"    names that contain text
//   "*text"     names that end with text
//   "text*"     names that begin with text
//   otherwise   names equal to the pattern (a star inside is a character)
// An empty name or a null pattern matches nothing.
bool WildcardMatchW(const std::wstring& name, const wchar_t* pattern);

// Signed decimal text.
std::string Int64ToString(std::int64_t value);
std::wstring Int64ToWString(std::int64_t value);
std::string IntToString(int value);
std::wstring IntToWString(int value);

// Appends printf-style output in the Windows dialect (platform/crt), of any
// length, to `out`. False, with `out` unchanged, when the formatter refuses
// the format or an argument (a wide text the locale cannot show, say).
bool AppendFormatV(std::string& out, const char* format, va_list args);
bool AppendFormat(std::string& out, const char* format, ...);
