// A growable, owned byte array with a read/write position.
//
// ByteBuffer holds every value of raw bytes in the system (keys, blobs,
// device capabilities, certificate data) and carries the input and output
// of the crypto-engine calls. Bytes are written at the position, which
// advances; the size grows to cover what was written. Growth reserves 1024
// bytes beyond the need. Because a buffer may hold key material, its whole
// block is overwritten with zeros before it is freed (destruction,
// reallocation, assignment, SetSize(0)).
//
// Sizes and lengths never exceed 0x7FFFFFFF bytes. Failures, including
// allocation failures, are results (false or 0), never exceptions.
//
// Not thread-safe: one thread at a time may use a given buffer; distinct
// buffers are independent.
#pragma once

#include <cstdint>

class ByteBuffer {
 public:
  // The largest capacity a buffer may have.
  static constexpr unsigned kMaxCapacity = 0x7FFFFFFF;

  ByteBuffer() = default;
  // A copy of len bytes, position 0, marked modified. Null data with len > 0
  // gives an empty, unmodified buffer; len 0 an empty, modified one.
  ByteBuffer(const void* data, unsigned len);
  // A copy of the source's valid bytes (capacity = size = source's size),
  // with the source's modified flag and position 0.
  ByteBuffer(const ByteBuffer& other);
  // Wipes and frees the own block, then copies as the copy constructor does.
  ByteBuffer& operator=(const ByteBuffer& other);
  ~ByteBuffer();

  // Moves the position: origin 0 from the start, 1 from the position, 2 from
  // the end. False, and no change, for any other origin or a result outside
  // 0..size.
  bool Seek(int origin, int offset);

  // Copies up to len bytes from the position into out and advances; returns
  // the number copied (0 at the end, for negative len or a null out).
  int Read(void* out, int len);
  // One byte from the position; false at the end.
  bool ReadByte(std::uint8_t* out);
  bool ReadByte(char* out);

  // Writes len bytes at the position, growing as needed, advances, extends
  // the size and marks the buffer modified. Returns len, or 0 when nothing
  // was written (negative len, null data, failed growth).
  int Write(const void* data, int len);
  // Writes one byte; nothing when growth fails.
  void WriteByte(std::uint8_t b);
  // Writes the text's bytes without the terminator; false for null text or a
  // short write.
  bool WriteString(const char* text);

  // Makes room for n bytes: when the capacity is below n, reallocates to
  // n + 1024. False when that would pass kMaxCapacity or allocation fails.
  bool Reserve(unsigned n);
  // Replaces the block by a zeroed one of n bytes holding the first bytes of
  // the old one; size and position are cut to n. False for n above
  // kMaxCapacity or allocation failure (the buffer is then unchanged).
  bool Reallocate(unsigned n);
  // n = 0 wipes and frees everything; otherwise reallocates to n bytes with
  // size n and the position cut to n. Marks the buffer modified. False for a
  // negative n or a failed reallocation.
  bool SetSize(int n);

  // Moves len bytes (all that remain when len is negative or larger) from
  // the position into dst at dst's position, 500 bytes a step. False when dst
  // is null, cannot grow, or takes fewer bytes than given.
  bool CopyTo(ByteBuffer* dst, int len);
  // A new block (to be released with free()) holding the first *len bytes,
  // or all bytes when *len is 0 or above the size; *len receives the count.
  // False when out or len is null or allocation fails.
  bool CopyOut(std::uint8_t** out, unsigned* len) const;

  // True when len equals the size and the bytes are equal.
  bool IsEqual(const void* data, unsigned len) const;
  // True when the buffer was written and holds at least one byte.
  bool IsPresent() const { return modified_ && size_ != 0; }

  unsigned GetPosition() const { return position_; }
  unsigned GetSize() const { return size_; }
  std::uint8_t* GetData() { return data_; }
  const std::uint8_t* GetData() const { return data_; }

  // Zeros the whole capacity; size and position stay as they are.
  void Wipe();

 private:
  void Release();
  void CopyFrom(const ByteBuffer& other);

  std::uint8_t* data_ = nullptr;
  unsigned capacity_ = 0;
  unsigned size_ = 0;
  unsigned position_ = 0;
  bool modified_ = false;
};
