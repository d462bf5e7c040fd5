// AES in CBC mode with PKCS#7 padding over OpenSSL's EVP ciphers, streamed
// through the crypto engine's call-backs (foundation/qoru.h).
//
// This is the cipher of the project's own stand-in for the crypto-engine
// library, which exists for tests and deployments on this platform: the
// test engine exports its decryption as "AES_CBC_Decode", and the tool that
// writes encrypted registry values encrypts with it.
//
// AesCbcTransform reads the input through readInput (4096 bytes a call, until
// it gives 0) and hands the output to writeOutput as it is produced; after a
// failure, some output may already have been written. Keys of 16, 24 or 32
// bytes select AES-128, -192 or -256; blockLength must be 16 and iv must
// hold 16 bytes. Its own buffers are wiped before they are freed.
//
// Thread safety: any thread may call it; the contexts are the caller's.
#pragma once

#include <cstdint>

#include "foundation/qoru.h"

// AesCbcTransform's results: 0 or one of these failure codes.
enum AesCbcResult {
  kAesCbcOk = 0,
  kAesCbcBadArguments = 10,  // null pointer, key or block length not offered
  kAesCbcReadFailed = 11,    // the reader gave a count outside 0..length
  kAesCbcCipherFailed = 12,  // bad padding or length (wrong key, damaged text)
  kAesCbcWriteFailed = 13,   // the writer refused the output
};

int AesCbcTransform(bool encrypt, const std::uint8_t* key, int keyLength, int blockLength,
                    const std::uint8_t* iv, Qoru::ReadInput readInput, ByteBuffer* readContext,
                    Qoru::WriteOutput writeOutput, ByteBuffer* writeContext);
