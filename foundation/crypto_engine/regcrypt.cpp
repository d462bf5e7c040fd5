// morvale-regcrypt: encrypts a value for this machine and stores it as a
// REG_BINARY value below HKEY_CURRENT_USER, in the form CDBRegEncryption
// decrypts (foundation/reg_encryption.h: key from this machine's fully
// qualified name, AES-256-CBC, the fixed initialisation vector).
//
//   morvale-regcrypt --key <key path> --name <value name>  < file
//   morvale-regcrypt --key <key path> --name <value name> --value <text>
//
// The text is read from standard input up to its first line end, which
// keeps it out of the process list; --value is for values that are no
// secret (it shows in the process list). The text's bytes are stored as
// given, at most 165 of them: the database settings build their connection
// string in at most 199 characters, of which its shortest form
// ("Provider=IBMDADB2;DSN=;uid=;pwd=;") takes 33, and a login one more. The
// registry is the one the registry stand-in uses (MORVALE_REGISTRY_DIR).
// Exit status: 0 stored, 1 failed, 2 usage.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "foundation/byte_buffer.h"
#include "foundation/crypto_engine/aes_cbc.h"
#include "foundation/reg_encryption.h"
#include "foundation/secure_wipe.h"
#include "platform/registry/registry.h"

namespace {

// The longest login or password that can fit the database settings'
// connection string (see above).
constexpr std::size_t kMaxClearBytes = 199 - 33 - 1;

int Usage() {
  std::fprintf(stderr,
               "usage: morvale-regcrypt --key <key path> --name <value name>  < file\n"
               "       morvale-regcrypt --key <key path> --name <value name> --value <text>\n"
               "  stores the first line of standard input (or <text>, which every user\n"
               "  sees in the process list: not for secrets) encrypted for this machine\n"
               "  as a REG_BINARY value below HKEY_CURRENT_USER, at most %zu bytes; e.g.\n"
               "  --key \"Software\\Quillon\\Quorrel Dazadevari Server\\Database\\Auth\""
               " --name Password\n",
               kMaxClearBytes);
  return 2;
}

// The clear text, wiped when it goes.
struct ClearText {
  std::string text;
  ~ClearText() { SecureWipe(text.data(), text.size()); }
};

// Encrypts `clear` for this machine into *cipherText; false with a message
// on standard error.
bool Encrypt(const std::string& clear, ByteBuffer* cipherText) {
  std::string computerName;
  if (!CDBRegEncryption::ReadComputerName(&computerName)) {
    std::fprintf(stderr, "morvale-regcrypt: cannot read this computer's name\n");
    return false;
  }
  std::uint8_t key[kRegEncryptionKeyLength];
  bool ok = CDBRegEncryption::DeriveKey(computerName, key);
  int result = kAesCbcCipherFailed;
  if (ok) {
    ByteBuffer input(clear.data(), static_cast<unsigned>(clear.size()));
    input.Seek(0, 0);
    result = AesCbcTransform(true, key, kRegEncryptionKeyLength, kRegEncryptionBlockLength,
                             kRegEncryptionIv, &CRegEncryption::ReadInput, &input,
                             &CRegEncryption::WriteOutput, cipherText);
    ok = result == kAesCbcOk;
  }
  SecureWipe(key, sizeof key);
  if (!ok) std::fprintf(stderr, "morvale-regcrypt: encryption failed (%d)\n", result);
  return ok;
}

bool Store(const char* keyPath, const char* name, const ByteBuffer& cipherText) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_WRITE, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(key, name, 0, REG_BINARY, cipherText.GetData(), cipherText.GetSize());
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "morvale-regcrypt: cannot write HKEY_CURRENT_USER\\%s value %s (error %d)\n",
                 keyPath, name, static_cast<int>(status));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* keyPath = nullptr;
  const char* name = nullptr;
  ClearText clear;
  bool haveValue = false;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 >= argc) return Usage();
    if (std::strcmp(argv[i], "--key") == 0) {
      keyPath = argv[++i];
    } else if (std::strcmp(argv[i], "--name") == 0) {
      name = argv[++i];
    } else if (std::strcmp(argv[i], "--value") == 0) {
      clear.text = argv[++i];
      haveValue = true;
    } else {
      return Usage();
    }
  }
  if (keyPath == nullptr || name == nullptr || keyPath[0] == '\0') return Usage();
  if (!haveValue) {
    std::getline(std::cin, clear.text);
    if (!clear.text.empty() && clear.text.back() == '\r') clear.text.pop_back();
  }
  if (clear.text.size() > kMaxClearBytes) {
    std::fprintf(stderr,
                 "morvale-regcrypt: the value has %zu bytes; a login or password of more than %zu "
                 "cannot fit the database settings' connection string of 199 characters\n",
                 clear.text.size(), kMaxClearBytes);
    return 1;
  }
  ByteBuffer cipherText;
  if (!Encrypt(clear.text, &cipherText)) return 1;
  return Store(keyPath, name, cipherText) ? 0 : 1;
}
