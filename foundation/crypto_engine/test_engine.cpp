// The project's stand-in for the crypto-engine library, built as "Qoru.DLL"
// for tests and for deployments on this platform.
//
// It exports "AES_CBC_Decode" with the form the binding calls
// (Qoru::AES_CBC_DecodeFunction): AES-CBC with PKCS#7 padding
// (foundation/crypto_engine/aes_cbc.h gives its failure codes). Built with
// MORVALE_ENGINE_WITHOUT_AES_CBC_DECODE it exports nothing of the engine's
// table: a library that loads but lacks the export.
#include "foundation/crypto_engine/aes_cbc.h"

#ifndef MORVALE_ENGINE_WITHOUT_AES_CBC_DECODE
extern "C" __attribute__((visibility("default"))) int AES_CBC_Decode(
    const std::uint8_t* key, int keyLength, int blockLength, const std::uint8_t* iv,
    Qoru::ReadInput readInput, ByteBuffer* readContext, Qoru::WriteOutput writeOutput,
    ByteBuffer* writeContext) {
  return AesCbcTransform(false, key, keyLength, blockLength, iv, readInput, readContext,
                         writeOutput, writeContext);
}

// Fails to compile when the export leaves the binding's form.
[[maybe_unused]] static constexpr Qoru::AES_CBC_DecodeFunction kBindingForm = &AES_CBC_Decode;
#endif
