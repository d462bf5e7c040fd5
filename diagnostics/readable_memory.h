// Tests whether memory may be read, without reading it through a load that
// could fault: the logging entry points look at every argument of a log
// call this way before any formatter touches it.
//
// Method: the bytes are copied with process_vm_readv(2) from this very
// process. The kernel performs the copy and answers EFAULT (or a short
// count) for any address that is unmapped or not readable (PROT_NONE,
// guard pages), so a bad pointer costs an error code, never a signal. The
// copy goes into a small stack buffer, page by page, so a test of n bytes
// reads n bytes once. The answer is a snapshot: memory that another thread
// unmaps right after the test is not protected against.
//
// The names and results are those of the system's home platform: true
// means "bad" (not readable).
//
// Thread safety: pure functions; callable from any thread at once.
#pragma once

#include <cstddef>

// True when any of the `size` bytes from `address` is not readable. A size
// of 0 is never bad; a null address with a size above 0 is bad.
bool IsBadReadPtr(const void* address, std::size_t size);

// True when the text at `text` is not readable up to its terminator or up
// to `maxChars` characters, whichever comes first. Null is bad.
bool IsBadStringPtrA(const char* text, std::size_t maxChars);
bool IsBadStringPtrW(const wchar_t* text, std::size_t maxChars);
