// The texts of the system's numbered log messages, and the loaders through
// which call sites fetch them.
//
// A numbered message is logged as
//
//   LogEvent(2, 0xAFFF4E5D, LoadResString(20061), "PMDatabaseSQLImp::IsEmpty");
//
// where the event code's low 16 bits are the message number (see
// diagnostics/log.h for the code layout). Every text is a format in the
// Windows printf dialect (platform/crt) that takes the arguments its call
// sites pass, in their order. "%s" takes text of the format's own width, so
// one text serves both LoadResString (narrow call sites, narrow arguments)
// and LoadResStringW (wide call sites, wide arguments). A number that is
// not in the table gives the empty text.
//
// Thread safety: the table is constant; every function may be called from
// any thread at once. A ResString belongs to one thread at a time.
#pragma once

#include <string>

#include "foundation/secure_wipe.h"

// The text of message `number` (the low 16 bits of an event code); null
// when the table has none.
const wchar_t* FindMessageText(unsigned number);

// One loaded message text, owned by the holder and wiped when it is freed.
// c_str() is never null: an unknown number holds the empty text.
template <typename Char>
class BasicResString {
 public:
  explicit BasicResString(std::basic_string<Char> text) : text_(std::move(text)) {}
  BasicResString(const BasicResString&) = default;
  BasicResString& operator=(const BasicResString&) = default;
  ~BasicResString() { SecureWipe(text_.data(), text_.size() * sizeof(Char)); }

  const Char* c_str() const { return text_.c_str(); }
  operator const Char*() const { return text_.c_str(); }
  bool empty() const { return text_.empty(); }

 private:
  std::basic_string<Char> text_;
};

using ResString = BasicResString<char>;
using ResStringW = BasicResString<wchar_t>;

// The most characters a loaded text keeps, terminator included.
inline constexpr int kResStringChars = 400;

// The text of message `id & 0xFFFF`, cut to kResStringChars - 1 characters.
// The narrow form converts the text with the conversion code page
// (CP_THREAD_ACP); the table's texts are ASCII, so nothing is lost.
ResString LoadResString(unsigned id);
ResStringW LoadResStringW(unsigned id);
