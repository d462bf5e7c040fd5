// Tests whether memory may be read, without reading it through a load that
// could fault: the logging entry points look at every argument of a log
// call this way before any formatter touches it.
//
// Method: a text that ends inside memory known to stay readable (the
// loaded segments of the program itself, where its string literals live,
// or the calling thread's stack above the test's own frame) is read in
// place. Any other text is copied with process_vm_readv(2) from this very
// process: the kernel performs the copy and answers EFAULT (or a short
// count) for any address that is unmapped or not readable (PROT_NONE,
// guard pages), so a bad pointer costs an error code, never a signal. The
// copy goes into a small stack buffer, page by page, up to the terminator
// or the limit. The answer is a snapshot: memory that another thread
// unmaps right after the test is not protected against.
//
// The names and results are those of the system's home platform: true
// means "bad" (not readable). A wide text at an address that is not aligned
// for wchar_t is bad too: no formatter may read it.
//
// Thread safety: pure functions; callable from any thread at once.
#pragma once

#include <cstddef>

// True when the text at `text` is not readable up to its terminator or up
// to `maxChars` characters, whichever comes first. Null is bad.
bool IsBadStringPtrA(const char* text, std::size_t maxChars);
bool IsBadStringPtrW(const wchar_t* text, std::size_t maxChars);
