#include "foundation/reg_encryption.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/computer_name.h"

#include "foundation/byte_buffer.h"
#include "foundation/crypto_engine/aes_cbc.h"
#include "foundation/crypto_engine/test_engine_fixture_for_tests.h"
#include "foundation/log_capture_for_tests.h"
#include "foundation/registry.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kAuthKey = "Software\\Quillon\\Quorrel Dazadevari Server\\Database\\Auth";
constexpr const char* kInitFailed =
    "{CRegEncryption::DecodeFromAES256} Qoru failed to initialize";

// The bytes of a REG_BINARY value under HKCU, read the way the database
// settings read them (256-byte buffer); empty when it cannot be read.
std::string ReadBinary(const char* key, const char* name) {
  Registry auth(key, true, false);
  char buffer[256];
  int length = 0;
  if (!auth.Open(false) || !auth.GetBinary(name, buffer, sizeof buffer, &length)) return {};
  return std::string(buffer, length);
}

Bytes Encrypt(const Bytes& key, const std::string& clear) {
  ByteBuffer in(clear.data(), static_cast<unsigned>(clear.size()));
  in.Seek(0, 0);
  ByteBuffer out;
  EXPECT_EQ(AesCbcTransform(true, key.data(), static_cast<int>(key.size()), 16, kRegEncryptionIv,
                            &CRegEncryption::ReadInput, &in, &CRegEncryption::WriteOutput, &out),
            kAesCbcOk);
  return Bytes(out.GetData(), out.GetData() + out.GetSize());
}

Bytes KeyOf(std::uint8_t first) {
  Bytes key(32);
  for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(first + i);
  return key;
}

using RegEncryption = CryptoEngineTest;

TEST_F(RegEncryption, DecodesWhatTheToolWroteToTheRegistry) {
  PointEngineAt(kEngineDir);
  struct Case {
    const char* name;
    std::string value;
    bool viaStandardInput;
    std::wstring expected;
  };
  const Case cases[] = {
      {"short login", "sa", false, L"sa"},
      {"five bytes give five characters", "abcde", false, L"abcde"},
      {"a whole block", std::string(16, 'x'), false, std::wstring(16, L'x')},
      {"bytes above 0x7F stay one character each", "p\xE9\xFF", false, L"p\u00E9\u00FF"},
      {"the longest value that can fit a connection string", std::string(165, 'q'), false,
       std::wstring(165, L'q')},
      {"empty", "", false, L""},
      {"from standard input, line end dropped", "s3cret\r\nignored\n", true, L"s3cret"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--key", kAuthKey, "--name", "Login"};
    if (!c.viaStandardInput) args.insert(args.end(), {"--value", c.value});
    ASSERT_EQ(RunRegcrypt(args, c.viaStandardInput ? c.value : ""), 0);
    const std::string stored = ReadBinary(kAuthKey, "Login");
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(stored.size() % 16, 0u);
    CDBRegEncryption decoder;
    std::wstring out = L"stale";
    EXPECT_EQ(decoder.Decode(stored.data(), static_cast<int>(stored.size()), &out), 0);
    EXPECT_EQ(out, c.expected);
  }
}

TEST_F(RegEncryption, TheToolRefusesWhatCouldNotFitAConnectionStringAndBadUsage) {
  EXPECT_EQ(RunRegcrypt({"--key", kAuthKey, "--name", "Login", "--value", std::string(166, 'q')}),
            1);
  EXPECT_EQ(RunRegcrypt({"--key", kAuthKey, "--name", "Password"}, std::string(166, 'q') + "\n"), 1);
  EXPECT_EQ(RunRegcrypt({}), 2);
  EXPECT_EQ(RunRegcrypt({"--key", kAuthKey, "--value", "x"}), 2);
  EXPECT_EQ(RunRegcrypt({"--name", "Login", "--value", "x"}), 2);
  EXPECT_EQ(RunRegcrypt({"--key", kAuthKey, "--name"}), 2);
  EXPECT_EQ(RunRegcrypt({"--key", kAuthKey, "--name", "Login", "--colour", "x"}), 2);
  EXPECT_EQ(ReadBinary(kAuthKey, "Login"), "");
  EXPECT_EQ(ReadBinary(kAuthKey, "Password"), "");
}

// --check decrypts what is stored the way the database settings do, with the
// engine that CryptoLibraryPath names.
TEST_F(RegEncryption, TheToolChecksThatAStoredValueDecryptsToItsText) {
  const std::vector<std::string> check = {"--check", "--key", kAuthKey, "--name", "Password"};
  ASSERT_EQ(RunRegcrypt({"--key", kAuthKey, "--name", "Password"}, "s3cret\n"), 0);
  const struct {
    const char* what;
    const char* engine;
    std::string input;
    std::vector<std::string> args;
    int expected;
  } cases[] = {
      {"the stored text", kEngineDir, "s3cret\n", check, 0},
      {"another text", kEngineDir, "s3cret!\n", check, 1},
      {"a value that is not there", kEngineDir, "s3cret\n",
       {"--check", "--key", kAuthKey, "--name", "Login"}, 1},
      {"no engine to decrypt with", nullptr, "s3cret\n", check, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Qoru::ReleaseForTesting();
    if (c.engine != nullptr) {
      PointEngineAt(c.engine);
    } else {
      PointEngineAt(NewFolder("empty"));
    }
    EXPECT_EQ(RunRegcrypt(c.args, c.input), c.expected);
  }
}

TEST_F(RegEncryption, NullDataOrANegativeLengthIsRefusedWithoutTheEngine) {
  LogCapture capture;
  CDBRegEncryption decoder;
  std::wstring out = L"kept";
  EXPECT_EQ(decoder.Decode(nullptr, 16, &out), 2);
  EXPECT_EQ(decoder.Decode("0123456789abcdef", -1, &out), 2);
  EXPECT_EQ(out, L"kept");
  EXPECT_TRUE(capture.Taken().empty());  // no attempt to bind the engine
}

TEST_F(RegEncryption, WithoutTheEngineEveryCallFailsUntilTheLibraryAppears) {
  const std::string folder = NewFolder("engine");
  PointEngineAt(folder);
  const Bytes key = KeyOf(1);
  const Bytes cipher = Encrypt(key, "abcde");
  CRegEncryption decryption;
  decryption.SetKey(key);
  LogCapture capture;
  std::wstring out;
  EXPECT_EQ(decryption.DecodeFromAES256(cipher, &out), 1);
  EXPECT_EQ(decryption.DecodeFromAES256(cipher, &out), 1);
  const auto lines = capture.Taken();
  ASSERT_EQ(lines.size(), 2u);
  for (const CapturedLogLine& line : lines) {
    EXPECT_EQ(line.level, 2);
    EXPECT_EQ(line.text, kInitFailed);
  }
  InstallEngine(kEngineDir, folder);
  EXPECT_EQ(decryption.DecodeFromAES256(cipher, &out), 0);
  EXPECT_EQ(out, L"abcde");
}

TEST_F(RegEncryption, AnEngineWithoutTheExportFailsTheDecryption) {
  PointEngineAt(kEngineWithoutDecodeDir);
  CRegEncryption decryption;
  LogCapture capture;
  std::wstring out = L"kept";
  EXPECT_EQ(decryption.DecodeFromAES256(Encrypt(KeyOf(1), "x"), &out), 4);
  EXPECT_EQ(out, L"kept");
  const auto lines = capture.Taken();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Function AES_CBC_Decode not found in Qoru.dll.");
  EXPECT_EQ(lines[1].level, 2);
  EXPECT_EQ(lines[1].text, "{CRegEncryption::DecodeFromAES256} Failed to Decode due to 2");
}

TEST_F(RegEncryption, CipherTextThatDoesNotDecryptGivesFourAndKeepsTheOutput) {
  PointEngineAt(kEngineDir);
  const Bytes key = KeyOf(1);
  const Bytes good = Encrypt(key, "password");
  struct Case {
    const char* name;
    Bytes cipher;
  };
  const Case cases[] = {
      {"wrong key", Encrypt(KeyOf(2), "password")},
      {"last byte cut", Bytes(good.begin(), good.end() - 1)},
      {"one byte more", [&] { Bytes b = good; b.push_back(0); return b; }()},
      {"nothing", Bytes{}},
  };
  CRegEncryption decryption;
  decryption.SetKey(key);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture capture;
    std::wstring out = L"kept";
    EXPECT_EQ(decryption.DecodeFromAES256(c.cipher, &out), 4);
    EXPECT_EQ(out, L"kept");
    const auto lines = capture.Taken();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].text, "{CRegEncryption::DecodeFromAES256} Failed to Decode due to 12");
  }
  std::wstring out;
  EXPECT_EQ(decryption.DecodeFromAES256(good, &out), 0);
  EXPECT_EQ(out, L"password");
}

TEST_F(RegEncryption, SetKeyTakesAtMost32BytesUpToTheFirstZero) {
  PointEngineAt(kEngineDir);
  const Bytes filler(32, 0xA5);
  struct Case {
    const char* name;
    Bytes given;
    Bytes effective;
  };
  Bytes longer = KeyOf(1);
  longer.push_back(0x77);
  Bytes stopped = filler;
  stopped[0] = 0x10;
  stopped[1] = 0x11;
  const Case cases[] = {
      {"32 bytes", KeyOf(1), KeyOf(1)},
      {"bytes past 32 are ignored", longer, KeyOf(1)},
      {"a zero byte ends the key", {0x10, 0x11, 0x00, 0x12}, stopped},
      {"empty: the filler", {}, filler},
      {"leading zero: the filler", {0x00, 0x10}, filler},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRegEncryption decryption;
    decryption.SetKey(KeyOf(9));  // reset by the next SetKey
    decryption.SetKey(c.given);
    std::wstring out;
    EXPECT_EQ(decryption.DecodeFromAES256(Encrypt(c.effective, "clear"), &out), 0);
    EXPECT_EQ(out, L"clear");
  }
}

// A machine whose name cannot be read has no key: CalculateKey says so, and
// what was stored under the machine's key does not decode.
TEST_F(RegEncryption, WithoutAComputerNameThereIsNoKey) {
  PointEngineAt(kEngineDir);
  ASSERT_EQ(RunRegcrypt({"--key", kAuthKey, "--name", "Login", "--value", "sa"}), 0);
  const std::string stored = ReadBinary(kAuthKey, "Login");
  const HostNameHook previous = SetHostNameHookForTesting([](char*, unsigned long) { return -1; });
  LogCapture capture;
  CDBRegEncryption decoder;  // its constructor's CalculateKey fails too
  EXPECT_EQ(decoder.CalculateKey(), 1);
  SetHostNameHookForTesting(previous);
  const auto lines = capture.Taken();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].level, 4);
  EXPECT_EQ(lines[1].text, "{CDBRegEncryption::CalculateKey} Can't get computer name");
  std::wstring out = L"kept";
  EXPECT_NE(decoder.Decode(stored.data(), static_cast<int>(stored.size()), &out), 0);
  EXPECT_EQ(out, L"kept");
  // Once the name can be read, the key is there again.
  EXPECT_EQ(decoder.CalculateKey(), 0);
  EXPECT_EQ(decoder.Decode(stored.data(), static_cast<int>(stored.size()), &out), 0);
  EXPECT_EQ(out, L"sa");
}

TEST(RegEncryptionKey, DerivesTheDocumentedKeyWithoutZeroBytes) {
  struct Case {
    const char* name;
    Bytes key;
  };
  // SHA-256 of "CDBRegEncryption key 1", a zero byte and the lowered name,
  // with 0x00 bytes turned to 0x01 (the digest of "h0.example" has one at 26).
  const Case cases[] = {
      {"host.example.com",
       {0xB7, 0xFA, 0xF7, 0x5E, 0xEF, 0xF4, 0x7F, 0x7F, 0xB7, 0x6F, 0x4C, 0x06, 0xED, 0x84, 0x13, 0x0E,
        0xFE, 0x16, 0x4B, 0x87, 0x36, 0x81, 0x86, 0x23, 0xFE, 0x67, 0x54, 0xA8, 0x36, 0x49, 0xAB, 0x8F}},
      {"HOST.Example.COM",
       {0xB7, 0xFA, 0xF7, 0x5E, 0xEF, 0xF4, 0x7F, 0x7F, 0xB7, 0x6F, 0x4C, 0x06, 0xED, 0x84, 0x13, 0x0E,
        0xFE, 0x16, 0x4B, 0x87, 0x36, 0x81, 0x86, 0x23, 0xFE, 0x67, 0x54, 0xA8, 0x36, 0x49, 0xAB, 0x8F}},
      {"h0.example",
       {0xBD, 0xBD, 0x72, 0x94, 0x5F, 0xD8, 0xF3, 0xAE, 0xE4, 0xB3, 0xAD, 0x3D, 0xE4, 0xC5, 0xD3, 0x9F,
        0xC6, 0x68, 0xD5, 0x3C, 0xAC, 0xCE, 0x68, 0xE5, 0x5B, 0xAA, 0x01, 0xBB, 0x2C, 0x02, 0x65, 0xC3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint8_t key[kRegEncryptionKeyLength];
    ASSERT_TRUE(CDBRegEncryption::DeriveKey(c.name, key));
    EXPECT_EQ(Bytes(key, key + sizeof key), c.key);
  }
}

TEST(RegEncryptionCallbacks, ReadAndWriteStayWithinTheirBuffers) {
  ByteBuffer source("abc", 3);
  source.Seek(0, 0);
  char chunk[8] = {};
  EXPECT_EQ(CRegEncryption::ReadInput(chunk, 8, &source), 3);
  EXPECT_EQ(CRegEncryption::ReadInput(chunk, 8, &source), 0);
  EXPECT_EQ(CRegEncryption::ReadInput(chunk, 8, nullptr), 0);

  ByteBuffer target;
  EXPECT_TRUE(CRegEncryption::WriteOutput("xy", 2, &target));
  EXPECT_TRUE(CRegEncryption::WriteOutput(nullptr, 0, &target));
  EXPECT_FALSE(CRegEncryption::WriteOutput("xy", -1, &target));
  EXPECT_FALSE(CRegEncryption::WriteOutput(nullptr, 2, &target));
  EXPECT_FALSE(CRegEncryption::WriteOutput("xy", 2, nullptr));
  EXPECT_TRUE(target.IsEqual("xy", 2));
}

}  // namespace
