// Reads arbitrary bytes as a tagged record, the way the certificate records
// are read: every field form, nested byte-string fields, and unknown fields
// skipped. Any value read must be in range and must survive a write and a
// second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "foundation/formatted_stream.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckRoundTrip(int value) {
  Check(value >= 0);
  ByteBuffer buffer;
  FormattedStream stream(&buffer, nullptr);
  Check(stream.WriteIntField(value));
  Check(stream.Seek(0, 0));
  int again = -1;
  Check(stream.ReadIntField(&again) && again == value);
  Check(buffer.GetPosition() == buffer.GetSize());
}

// Reads byte-string fields one after another until the buffer is used up.
void ReadNested(ByteBuffer* field) {
  FormattedStream nested(field, nullptr);
  ByteBuffer item;
  int len = 0;
  while (field->GetPosition() < field->GetSize() && nested.ReadBufferField(&item, &len)) {
    Check(item.GetSize() >= static_cast<unsigned>(len));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteBuffer record(data, static_cast<unsigned>(size));
  FormattedStream in(&record, nullptr);
  std::uint8_t tag;
  while (in.ReadByte(&tag)) {
    bool ok = false;
    int value = -1;
    ByteBuffer field;
    switch (tag % 4) {
      case 0:
        ok = in.ReadIntField(&value);
        if (ok) CheckRoundTrip(value);
        break;
      case 1:
        ok = in.ReadVarInt(&value);
        if (ok) CheckRoundTrip(value);
        break;
      case 2:
        ok = in.ReadBufferField(&field, &value);
        if (ok) {
          Check(field.GetSize() == static_cast<unsigned>(value) && field.GetPosition() == 0);
          ReadNested(&field);
        }
        break;
      default:
        ok = in.SkipField();
        break;
    }
    Check(record.GetPosition() <= record.GetSize());
    if (!ok) break;
  }
  return 0;
}
