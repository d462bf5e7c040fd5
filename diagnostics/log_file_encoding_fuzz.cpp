// Feeds arbitrary bytes, as the start of an existing debug file, to the
// encoding test through each of the three encodings, and checks that the
// answer is one the test promises and that a file it finds a declaration in
// begins with the byte-order mark of the encoding it was read through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "diagnostics/log_file_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  for (int readAs : {kEncodingAnsi, kEncodingUtf8, kEncodingUtf16Le}) {
    const int found = DetectLogFileEncoding(readAs, bytes, size);
    if (found < -2 || found > 2) std::abort();
    if ((found == -1) != (size == 0)) std::abort();
    if (found == kEncodingUtf8 || found == kEncodingUtf16Le) {
      // A declaration starts with U+FEFF in the encoding read through.
      const bool mark = (readAs == kEncodingUtf8 && size >= 3 && std::memcmp(bytes, "\xef\xbb\xbf", 3) == 0) ||
                        (readAs == kEncodingUtf16Le && size >= 2 && std::memcmp(bytes, "\xff\xfe", 2) == 0);
      if (!mark) std::abort();
    }
  }
  return 0;
}
