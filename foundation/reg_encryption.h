// Decryption of registry values stored encrypted (the database login under
// the Database key's "Auth" subkey).
//
// CRegEncryption decrypts AES-256-CBC cipher text through the crypto engine
// (foundation/qoru.h) with a 32-byte key set by SetKey. CDBRegEncryption
// wraps one with the key of this machine. The decoded bytes come back as
// wide text, one character per byte (0x00-0xFF become U+0000-U+00FF); code
// that needs narrow text narrows it byte for byte.
//
// The machine's key (DeriveKey):
//   digest = SHA-256( "CDBRegEncryption key 1" 0x00  name )
// where name is the computer's fully qualified DNS name
// (GetComputerNameExA, ComputerNamePhysicalDnsFullyQualified) with ASCII
// letters lowered; then every 0x00 byte of the digest becomes 0x01, so that
// SetKey, which stops at the first zero byte, always takes all 32 bytes.
// Values encrypted for one machine name decrypt only under that name.
//
// The stored value: the cipher text of the clear bytes under AES-256-CBC
// with PKCS#7 padding, the key above and the fixed initialisation vector
// kRegEncryptionIv; no header. The clear text "sa" is 16 bytes of cipher
// text; a value read back by the 256-byte read of the database settings
// holds at most 255 clear bytes.
//
// Key material (the key, its derivation's buffers, the clear bytes on their
// way through) is wiped before its memory is freed; the wide text handed to
// the caller is the caller's to wipe.
//
// Results: 0 success; 1 the crypto engine cannot be bound (or, for
// CalculateKey, the computer name cannot be read); 2 no data; 4 the engine
// could not decrypt (wrong key, damaged value, engine without the export).
// Nothing throws.
//
// Thread safety: an object is used by one thread at a time; distinct objects
// may be used on any threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ByteBuffer;

inline constexpr int kRegEncryptionKeyLength = 32;
inline constexpr int kRegEncryptionBlockLength = 16;
// "CDBRegEncryptIV!" as bytes.
inline constexpr std::uint8_t kRegEncryptionIv[kRegEncryptionBlockLength] = {
    0x43, 0x44, 0x42, 0x52, 0x65, 0x67, 0x45, 0x6E,
    0x63, 0x72, 0x79, 0x70, 0x74, 0x49, 0x56, 0x21};

class CRegEncryption {
 public:
  // The key starts as a fixed filler (32 bytes of 0xA5).
  CRegEncryption();
  CRegEncryption(const CRegEncryption&) = delete;
  CRegEncryption& operator=(const CRegEncryption&) = delete;
  virtual ~CRegEncryption();

  // Resets the key to its filler, then overwrites it from the start with the
  // given bytes: at most 32, stopping at the first zero byte.
  void SetKey(const std::vector<std::uint8_t>& key);

  // Decrypts cipherText into *out (cleared first, on success only). Binds the
  // crypto engine on the first call that reaches it: 1 while it cannot be
  // bound ("{CRegEncryption::DecodeFromAES256} Qoru failed to initialize",
  // level 2), 4 when the engine fails ("... Failed to Decode due to <code>",
  // level 2), 0 on success.
  int DecodeFromAES256(const std::vector<std::uint8_t>& cipherText, std::wstring* out);

  // The call-backs handed to the engine: read up to `length` bytes from the
  // source buffer's position, and append all `length` bytes to the target.
  static int ReadInput(void* buffer, int length, ByteBuffer* source);
  static bool WriteOutput(const char* data, int length, ByteBuffer* target);

 private:
  std::uint8_t key_[kRegEncryptionKeyLength];
  bool bound_ = false;
};

class CDBRegEncryption {
 public:
  // Sets the key from this machine's name (CalculateKey).
  CDBRegEncryption();
  CDBRegEncryption(const CDBRegEncryption&) = delete;
  CDBRegEncryption& operator=(const CDBRegEncryption&) = delete;
  virtual ~CDBRegEncryption();

  // 0 with the machine's key set; 1, logged at level 4 with the key left at
  // its filler, when the computer name cannot be read ("{...} Can't get
  // computer name") or the digest cannot be computed.
  int CalculateKey();

  // Decrypts `length` bytes of `data`; 2 for null data or a negative length,
  // else DecodeFromAES256's result.
  int Decode(const char* data, int length, std::wstring* out);

  // The computer name the key is derived from; false when it cannot be read.
  static bool ReadComputerName(std::string* name);
  // The key of a computer name (see the header's first paragraph); false
  // when the digest cannot be computed.
  static bool DeriveKey(const std::string& computerName,
                        std::uint8_t (&key)[kRegEncryptionKeyLength]);

 private:
  CRegEncryption encryption_;
};
