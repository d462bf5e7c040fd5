// Writer and reader of the system's compact tagged record format.
//
// A FormattedStream writes and reads records over a ByteBuffer that it does
// not own, at that buffer's position. A record is a byte stream with no
// header: a sequence of tagged fields, each a one-byte tag followed by a
// field. Readers skip the fields whose tags they do not know (SkipField).
//
//   var-int:      the value in 7-bit groups, most significant group first;
//                 0x80 is set on every byte but the last. Values 0..0x7FFFFFFF
//                 (one to five bytes); a reader accepts leading zero groups.
//                   0 -> 00   127 -> 7F   128 -> 81 00   300 -> 82 2C
//                   16384 -> 81 80 00   0x7FFFFFFF -> 87 FF FF FF 7F
//   int field:    var-int n, the byte count of the value's var-int, then the
//                 value's var-int:  300 -> 02 82 2C
//   byte string:  var-int length n, then n raw bytes
//   tagged field: tag byte, then an int field or a byte string
//
// Every operation returns false on failure (the end of the data, a malformed
// or too long length, a value out of range, failed growth) and leaves the
// position where the failing step left it; a caller abandons a record whose
// read failed. Nothing throws.
//
// The stream carries a copy of the peer's capability bytes (EncodingCaps);
// the record operations do not consult them.
//
// Not thread-safe: a stream and its buffer belong to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/byte_buffer.h"

// An owned copy of a peer's capability bytes, with two facts about them.
class EncodingCaps {
 public:
  // Copies caps when it is not null.
  explicit EncodingCaps(const ByteBuffer* caps);
  virtual ~EncodingCaps();

  EncodingCaps(const EncodingCaps&) = delete;
  EncodingCaps& operator=(const EncodingCaps&) = delete;

  // Some capability byte has the low four bits 0.
  bool HasNibble0() const { return capsHasNibble0_; }
  // Some capability byte has the low four bits 1.
  bool HasNibble1() const { return capsHasNibble1_; }
  // The copy, or null when none was given.
  const ByteBuffer* GetCaps() const { return caps_.get(); }

 private:
  bool capsHasNibble0_ = false;
  bool capsHasNibble1_ = false;
  std::unique_ptr<ByteBuffer> caps_;
};

class FormattedStream : public EncodingCaps {
 public:
  // The largest value a var-int carries.
  static constexpr int kMaxVarInt = 0x7FFFFFFF;

  // stream is written and read, not owned; caps may be null.
  FormattedStream(ByteBuffer* stream, const ByteBuffer* caps);
  ~FormattedStream() override;

  // Writing. Values and lengths must lie in 0..kMaxVarInt.
  bool WriteByte(std::uint8_t tag);
  bool WriteBytes(const void* data, int len);
  bool WriteVarInt(int value);
  bool WriteLength(int len);
  bool WriteIntField(int value);
  // A byte string of len bytes taken from src's position; false, with
  // nothing written, when src has fewer than len bytes left.
  bool WriteBufferField(ByteBuffer* src, int len);
  bool WriteTaggedInt(std::uint8_t tag, int value);
  bool WriteTaggedBuffer(std::uint8_t tag, ByteBuffer* src, int len);
  // Raw bytes from src's position: len bytes, or all that remain when len
  // is negative or larger.
  bool WriteFromBuffer(ByteBuffer* src, int len);

  // Reading.
  bool ReadByte(std::uint8_t* tag);
  bool ReadVarInt(int* value);
  // A var-int no larger than the bytes that follow it.
  bool ReadLength(int* len);
  bool ReadIntField(int* value);
  // A byte string into out at out's position; out is rewound to 0 and *len
  // receives the length. Fails before copying when the length is too long.
  bool ReadBufferField(ByteBuffer* out, int* len);
  // len bytes into out at out's position, out rewound to 0; false, with
  // nothing copied, when fewer than len bytes remain.
  bool ReadIntoBuffer(ByteBuffer* out, int len);
  // Reads a length and moves past that many bytes.
  bool SkipField();

  // The stream buffer's ByteBuffer::Seek.
  bool Seek(int origin, int offset);

 private:
  // Bytes left after the stream's position (0 without a stream).
  unsigned Remaining() const;

  ByteBuffer* stream_;
};
