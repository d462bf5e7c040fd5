// Feeds arbitrary bytes to the UTF-8 decoder in both modes with a target of
// every size the first byte picks, and checks what the decoder promises: the
// cursors stay inside their ranges, a stop leaves a reason, and whatever the
// strict mode accepts encodes back to exactly the bytes it read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/utf.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t room = data[0];
  const char* begin = reinterpret_cast<const char*>(data + 1);
  const char* end = begin + (size - 1);

  for (bool strict : {true, false}) {
    std::vector<char16_t> units(room + 1, u'\0');
    const char* source = begin;
    char16_t* target = units.data();
    const UtfResult result =
        ConvertUtf8ToUtf16(&source, end, &target, units.data() + room, strict);
    Check(source >= begin && source <= end);
    Check(target >= units.data() && target <= units.data() + room);
    Check((result == kUtfDone) == (source == end));
    Check(result == kUtfDone || result == kUtfSourceExhausted ||
          result == kUtfTargetExhausted || result == kUtfSourceIllegal);
    if (!strict) continue;

    const std::size_t read = static_cast<std::size_t>(source - begin);
    std::vector<char> bytes(read + 1);
    const char16_t* back = units.data();
    char* out = bytes.data();
    Check(ConvertUtf16ToUtf8(&back, target, &out, bytes.data() + read, true) ==
          kUtfDone);
    Check(static_cast<std::size_t>(out - bytes.data()) == read);
    Check(std::memcmp(bytes.data(), begin, read) == 0);
  }
  return 0;
}
