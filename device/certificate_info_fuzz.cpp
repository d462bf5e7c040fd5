// Reads arbitrary bytes as a ClientCertificateInfo record, then as one
// request record. Whatever parses must serialise to a record that parses to
// the same requests and serialises to the same bytes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/certificate_info.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::uint8_t> Record(CertificateInfo& info) {
  ByteBuffer out;
  Check(info.Serialize(out));
  return std::vector<std::uint8_t>(out.GetData(), out.GetData() + out.GetSize());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteBuffer input(data, static_cast<unsigned>(size));
  CertificateInfo info;
  info.SetUserName("fuzz");
  if (info.Parse(input)) {
    for (const auto& [number, entry] : info.GetEntries()) Check(number > 0 && entry->GetNumber() == number);
    const std::vector<std::uint8_t> first = Record(info);
    CertificateInfo again;
    Check(again.Parse(ByteBuffer(first.data(), static_cast<unsigned>(first.size()))));
    Check(again.GetEntries().size() == info.GetEntries().size());
    Check(Record(again) == first);
  } else {
    Check(info.GetEntries().empty());
  }

  CertInfo entry;
  if (entry.Parse(input)) {
    ByteBuffer out;
    Check(entry.Serialize(out));
    CertInfo back;
    Check(back.Parse(out));
    ByteBuffer twice;
    Check(back.Serialize(twice));
    Check(twice.IsEqual(out.GetData(), out.GetSize()));
  }
  return 0;
}
