#include "foundation/crypto_engine/aes_cbc.h"

#include <openssl/evp.h>

#include <memory>

#include "foundation/secure_wipe.h"

namespace {

constexpr int kChunk = 4096;
constexpr int kBlock = 16;

const EVP_CIPHER* CipherFor(int keyLength) {
  switch (keyLength) {
    case 16: return EVP_aes_128_cbc();
    case 24: return EVP_aes_192_cbc();
    case 32: return EVP_aes_256_cbc();
    default: return nullptr;
  }
}

struct ContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// Buffers that may hold clear text.
struct Buffers {
  std::uint8_t in[kChunk];
  std::uint8_t out[kChunk + kBlock];
  ~Buffers() {
    SecureWipe(in, sizeof in);
    SecureWipe(out, sizeof out);
  }
};

}  // namespace

int AesCbcTransform(bool encrypt, const std::uint8_t* key, int keyLength, int blockLength,
                    const std::uint8_t* iv, Qoru::ReadInput readInput, ByteBuffer* readContext,
                    Qoru::WriteOutput writeOutput, ByteBuffer* writeContext) {
  const EVP_CIPHER* cipher = CipherFor(keyLength);
  if (key == nullptr || iv == nullptr || readInput == nullptr || writeOutput == nullptr ||
      cipher == nullptr || blockLength != kBlock) {
    return kAesCbcBadArguments;
  }
  std::unique_ptr<EVP_CIPHER_CTX, ContextFree> context(EVP_CIPHER_CTX_new());
  if (!context ||
      EVP_CipherInit_ex(context.get(), cipher, nullptr, key, iv, encrypt ? 1 : 0) != 1) {
    return kAesCbcCipherFailed;
  }
  Buffers buffers;
  for (;;) {
    const int got = readInput(buffers.in, kChunk, readContext);
    if (got < 0 || got > kChunk) return kAesCbcReadFailed;
    if (got == 0) break;
    int produced = 0;
    if (EVP_CipherUpdate(context.get(), buffers.out, &produced, buffers.in, got) != 1) {
      return kAesCbcCipherFailed;
    }
    if (!writeOutput(reinterpret_cast<const char*>(buffers.out), produced, writeContext)) {
      return kAesCbcWriteFailed;
    }
  }
  int produced = 0;
  if (EVP_CipherFinal_ex(context.get(), buffers.out, &produced) != 1) return kAesCbcCipherFailed;
  if (!writeOutput(reinterpret_cast<const char*>(buffers.out), produced, writeContext)) {
    return kAesCbcWriteFailed;
  }
  return kAesCbcOk;
}
