// Reads arbitrary bytes as a typed request block: the first byte chooses
// the layout (odd: kind 3, even: kind 9), the rest is the block. A block
// that parses must serialise to a block that parses to the same members and
// serialises to the same bytes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/otacr_request.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::uint8_t> Block(OTACRRequest& request) {
  std::uint32_t size = 0;
  const std::uint8_t* block = request.Serialize(&size);
  Check(block != nullptr);
  return std::vector<std::uint8_t>(block, block + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t kind = (data[0] & 1) != 0 ? 3 : 9;
  // An exact copy, so a read past the block's end is caught.
  std::vector<std::uint8_t> input(data + 1, data + size);
  OTACRRequest request;
  const bool parsed =
      request.Parse(kind, input.empty() ? nullptr : input.data(), static_cast<std::uint32_t>(input.size()));
  Check(parsed == request.IsValid());
  if (!parsed) return 0;
  const std::vector<std::uint8_t> first = Block(request);
  const std::uint32_t header = kind == 3 ? OTACRRequest::kPolicyHeaderSize + 1 : OTACRRequest::kOtherHeaderSize;
  Check(first.size() == header + request.GetName().size() + request.GetBody1().GetSize() +
                            (kind == 3 ? request.GetBody2().GetSize() : 0));
  OTACRRequest again;
  Check(again.Parse(kind, first.data(), static_cast<std::uint32_t>(first.size())));
  Check(again.GetName() == request.GetName());
  Check(again.GetValue1() == request.GetValue1() && again.GetValue4() == request.GetValue4());
  Check(Block(again) == first);
  return 0;
}
