#include "foundation/crypto_engine/aes_cbc.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/byte_buffer.h"
#include "foundation/reg_encryption.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
  int result;
  Bytes out;
};

Outcome Transform(bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& in,
              Qoru::ReadInput reader = &CRegEncryption::ReadInput,
              Qoru::WriteOutput writer = &CRegEncryption::WriteOutput, int blockLength = 16) {
  ByteBuffer input(in.data(), static_cast<unsigned>(in.size()));
  input.Seek(0, 0);
  ByteBuffer output;
  const int result = AesCbcTransform(encrypt, key.data(), static_cast<int>(key.size()), blockLength,
                                     iv.data(), reader, &input, writer, &output);
  return {result, Bytes(output.GetData(), output.GetData() + output.GetSize())};
}

Bytes Hex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

const Bytes kKey =
    Hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kIv = Hex("000102030405060708090a0b0c0d0e0f");

TEST(AesCbc, EncryptsTheStandardVectorAndPadsAWholeBlock) {
  // The first block of the CBC-AES256 example vectors; a 16-byte clear text
  // gets a whole block of padding.
  const Outcome run = Transform(true, kKey, kIv, Hex("6bc1bee22e409f96e93d7e117393172a"));
  ASSERT_EQ(run.result, kAesCbcOk);
  ASSERT_EQ(run.out.size(), 32u);
  EXPECT_EQ(Bytes(run.out.begin(), run.out.begin() + 16), Hex("f58c4c04d6e5f1ba779eabfb5f7bfbd6"));
}

TEST(AesCbc, RoundTripsAcrossReadChunksForEveryKeySize) {
  Bytes clear(10000);
  for (std::size_t i = 0; i < clear.size(); ++i) clear[i] = static_cast<std::uint8_t>(i * 7);
  for (std::size_t keyLength : {16u, 24u, 32u}) {
    SCOPED_TRACE(keyLength);
    const Bytes key(kKey.begin(), kKey.begin() + keyLength);
    const Outcome encrypted = Transform(true, key, kIv, clear);
    ASSERT_EQ(encrypted.result, kAesCbcOk);
    EXPECT_EQ(encrypted.out.size(), 10016u);
    const Outcome decrypted = Transform(false, key, kIv, encrypted.out);
    ASSERT_EQ(decrypted.result, kAesCbcOk);
    EXPECT_EQ(decrypted.out, clear);
  }
}

int ReadTooMuch(void*, int length, ByteBuffer*) { return length + 1; }
int ReadNegative(void*, int, ByteBuffer*) { return -1; }
bool Refuse(const char*, int, ByteBuffer*) { return false; }

TEST(AesCbc, RefusesBadArgumentsAndMisbehavingCallbacks) {
  const Bytes clear(40, 'c');
  EXPECT_EQ(Transform(true, Bytes(31, 1), kIv, clear).result, kAesCbcBadArguments);
  EXPECT_EQ(Transform(true, kKey, kIv, clear, &CRegEncryption::ReadInput,
                      &CRegEncryption::WriteOutput, 8).result,
            kAesCbcBadArguments);
  EXPECT_EQ(Transform(true, kKey, kIv, clear, nullptr).result, kAesCbcBadArguments);
  EXPECT_EQ(Transform(true, kKey, kIv, clear, &CRegEncryption::ReadInput, nullptr).result,
            kAesCbcBadArguments);
  EXPECT_EQ(AesCbcTransform(true, kKey.data(), 32, 16, nullptr, &CRegEncryption::ReadInput,
                            nullptr, &CRegEncryption::WriteOutput, nullptr),
            kAesCbcBadArguments);
  EXPECT_EQ(Transform(true, kKey, kIv, clear, &ReadTooMuch).result, kAesCbcReadFailed);
  EXPECT_EQ(Transform(true, kKey, kIv, clear, &ReadNegative).result, kAesCbcReadFailed);
  EXPECT_EQ(Transform(true, kKey, kIv, clear, &CRegEncryption::ReadInput, &Refuse).result,
            kAesCbcWriteFailed);
}

}  // namespace
