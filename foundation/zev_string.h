// zev::ZEVString, the string class every subsystem keeps its texts in (user
// and distinguished names, PINs, log texts, SQL fragments), and the
// process-wide flag that says how narrow text is read and written.
//
// A string holds wide text (one code point per wchar_t) or no text at all;
// "no text" (GetWide() is null) differs from the empty text. Copies are
// deep. Narrow text is converted one of two ways:
//   - with the built-in Windows-1252 table (foundation/cp1252.h) when the
//     caller's flag is true; this never fails;
//   - otherwise with the thread's ANSI code page (CP_THREAD_ACP), the
//     "conversion code page".
// Operations that take no flag from their caller use ProcessUsesCp1252. The
// narrow forms are cached per way and dropped whenever the text changes.
// Every buffer the class frees (text, narrow copies, format buffers,
// conversion results) is wiped first.
//
// Failures never throw: they leave no text, an empty text or a negative
// Format result, as each operation says. A text may not reach 0x3FFFFFFF
// characters with its terminator: longer ones are refused like a failed
// conversion.
//
// Thread safety: a string belongs to one thread at a time; even GetNarrow
// fills a cache, so two threads may not read one string at once.
// ProcessUsesCp1252 is set once at start-up and may be read from any thread.
#pragma once

#include <atomic>
#include <cstdarg>
#include <string>

#include "foundation/secure_wipe.h"

// True when the process's ANSI code page is 1252: narrow text is then read
// and written through the built-in Windows-1252 table. Set at start-up.
extern std::atomic<bool> ProcessUsesCp1252;

namespace zev {

class ZEVString {
 public:
  // Format writes at most this many characters, terminator included; longer
  // output is cut to kFormatLimit - 1 characters.
  static constexpr int kFormatLimit = 1024;

  ZEVString();
  // A copy of `text`; null gives no text.
  ZEVString(const wchar_t* text);
  // `text` converted with the 1252 table (`use1252`) or the conversion code
  // page; null gives no text. A conversion that fails gives the empty text
  // for inputs under kFormatLimit characters and no text for longer ones.
  ZEVString(const char* text, bool use1252 = ProcessUsesCp1252);
  ZEVString(const ZEVString& other);
  virtual ~ZEVString();

  // Deep copy; self-assignment does nothing.
  ZEVString& operator=(const ZEVString& other);
  // Converted with ProcessUsesCp1252; null or a failed conversion gives no
  // text.
  ZEVString& operator=(const char* text);
  // A copy; null gives no text.
  ZEVString& operator=(const wchar_t* text);

  // Appending a null or text-less operand changes nothing; appending to a
  // string without text sets it. The narrow form converts with
  // ProcessUsesCp1252 and appends nothing when the conversion fails.
  ZEVString& operator+=(const ZEVString& other);
  ZEVString& operator+=(const wchar_t* text);
  ZEVString& operator+=(const char* text);

  // The text converted with ProcessUsesCp1252 (cached until the text
  // changes); null without text, "" when the conversion fails.
  const char* GetNarrow();
  // The same through the Windows-1252 table, cached in its own slot.
  const char* GetNarrow1252();

  // The text, null when there is none.
  const wchar_t* GetWide() const;
  const wchar_t* GetBuffer() const;
  // Characters before the terminator; 0 without text.
  int GetLength() const;

  // Ordinal comparison: -1, 0 or 1. Two strings without text are equal; a
  // string without text is below every string with text (the empty one
  // too). Texts compare unit by unit as UTF-16 would, so characters above
  // U+FFFF sort between U+D7FF and U+E000. No locale, no case folding.
  int Compare(const ZEVString& other) const;
  // Compare with `text` converted with `use1252` (null counts as no text).
  int CompareNarrow(const char* text, bool use1252) const;
  // CompareNarrow(text, ProcessUsesCp1252) == 0.
  bool EqualsNarrow(const char* text) const;

  // Flags: kTrimLeading removes white space (iswspace) at the start,
  // kTrimTrailing at the end. Nothing happens without text.
  static constexpr int kTrimLeading = 1;
  static constexpr int kTrimTrailing = 2;
  ZEVString& Trim(int flags);

  // The address of character `index`; for an index below 0 or at or past
  // the length (or without text) the address of a 0 character that is not
  // part of the text.
  wchar_t* GetAt(int index);

  // Replaces the text with printf-style output in the Windows dialect
  // (platform/crt), cut to kFormatLimit - 1 characters. Returns the
  // formatter's result: the length, or a negative number when the output
  // was cut (the first kFormatLimit - 1 characters stay) or the format is
  // null or bad (the text becomes empty).
  int Format(const wchar_t* format, ...);
  int FormatV(const wchar_t* format, va_list args);
  // The narrow form formats narrow text and converts it with the conversion
  // code page whatever ProcessUsesCp1252 says; it returns the wide length,
  // or the formatter's negative result.
  int Format(const char* format, ...);
  int FormatV(const char* format, va_list args);
  // Formats into a temporary string and appends it; returns the new length.
  int AppendFormat(const wchar_t* format, ...);

  // The text becomes exactly `count` characters of `chars` plus a
  // terminator; returns `count`. Null `chars`, a negative count or a failed
  // allocation leave no text and return 0.
  int Assign(const wchar_t* chars, int count);

  // Replaces the text with `utf8` decoded leniently (encoded surrogates
  // pass; surrogate pairs become one character). `length` -1 means
  // NUL-terminated. Null, length 0 or below -1 give no text and null. A
  // sequence cut at the end of the input is dropped, keeping what came
  // before it; an illegal sequence leaves no text and returns null. Returns
  // the new text.
  const wchar_t* AssignUtf8(const char* utf8, int length);

 private:
  // The character data: the text and the narrow copies made from it.
  class StringData {
   public:
    // Takes `text` (no text when empty); drops both narrow copies.
    void SetText(WipedArray<wchar_t> text);

    WipedArray<wchar_t> text;        // NUL-terminated, or empty: no text
    WipedArray<char> narrowAnsi;     // conversion code page, or empty
    WipedArray<char> narrow1252;     // Windows-1252 table, or empty
    wchar_t emptyChar = 0;           // what GetAt points at when out of range
  };

  StringData data_;
};

}  // namespace zev

// Narrow text made wide through zev::ZEVString with ProcessUsesCp1252. The
// wide copy is wiped on destruction.
class NToWString {
 public:
  explicit NToWString(const std::string& text);
  virtual ~NToWString();

  const std::wstring& str() const { return text_; }

 private:
  std::wstring text_;
};
