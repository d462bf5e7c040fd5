// morvale-regcrypt: encrypts a value for this machine and stores it as a
// REG_BINARY value below HKEY_CURRENT_USER, in the form CDBRegEncryption
// decrypts (foundation/reg_encryption.h: key from this machine's fully
// qualified name, AES-256-CBC, the fixed initialisation vector).
//
//   morvale-regcrypt --key <key path> --name <value name>  < file
//   morvale-regcrypt --key <key path> --name <value name> --value <text>
//   morvale-regcrypt --check --key <key path> --name <value name>  < file
//
// --check stores nothing: it decrypts the stored value as the database
// settings do (CDBRegEncryption, with the crypto-engine library that
// "CryptoLibraryPath" names) and tells whether it gives the text.
//
// The text is read from standard input up to its first line end, which
// keeps it out of the process list; --value is for values that are no
// secret (it shows in the process list). The text's bytes are stored as
// given, at most 165 of them: the database settings build their connection
// string in at most 199 characters, of which its shortest form
// ("Provider=IBMDADB2;DSN=;uid=;pwd=;") takes 33, and a login one more. The
// registry is the one the registry stand-in uses (MORVALE_REGISTRY_DIR).
// Exit status: 0 stored (or, with --check, decrypts to the text), 1 failed,
// 2 usage.
#include <algorithm>
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
               "       morvale-regcrypt --check --key <key path> --name <value name>  < file\n"
               "  stores the first line of standard input (or <text>, which every user\n"
               "  sees in the process list: not for secrets) encrypted for this machine\n"
               "  as a REG_BINARY value below HKEY_CURRENT_USER, at most %zu bytes; e.g.\n"
               "  --key \"Software\\Quillon\\Quorrel Dazadevari Server\\Database\\Auth\""
               " --name Password\n"
               "  --check decrypts the stored value instead and tells whether it gives the text\n",
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

// Decrypts the stored value as the database settings read it (256 bytes at
// most) and compares it with `clear`; tells the outcome on standard error.
bool Check(const char* keyPath, const char* name, const std::string& clear) {
  HKEY key = nullptr;
  BYTE stored[256] = {};
  DWORD size = sizeof stored;
  DWORD type = REG_NONE;
  LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &key);
  if (status == ERROR_SUCCESS) {
    status = RegQueryValueExA(key, name, nullptr, &type, stored, &size);
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS || type != REG_BINARY) {
    std::fprintf(stderr, "morvale-regcrypt: HKEY_CURRENT_USER\\%s has no REG_BINARY value %s (error %d)\n",
                 keyPath, name, static_cast<int>(status));
    return false;
  }
  CDBRegEncryption decoder;
  std::wstring decoded;
  const int result = decoder.Decode(reinterpret_cast<const char*>(stored), static_cast<int>(size), &decoded);
  const bool same = result == 0 && decoded.size() == clear.size() &&
                    std::equal(decoded.begin(), decoded.end(), clear.begin(),
                               [](wchar_t d, char c) { return d == static_cast<unsigned char>(c); });
  SecureWipe(decoded.data(), decoded.size() * sizeof(wchar_t));
  SecureWipe(stored, sizeof stored);
  if (result == 1) {
    std::fprintf(stderr,
                 "morvale-regcrypt: %s does not decrypt: the crypto-engine library does not load "
                 "(the value \"CryptoLibraryPath\" of HKEY_LOCAL_MACHINE\\software\\quillon\\"
                 "quorrel enterprise server\\dispatcher names its folder)\n",
                 name);
  } else if (result != 0) {
    std::fprintf(stderr,
                 "morvale-regcrypt: %s does not decrypt (%d): it was not encrypted for this "
                 "machine, or it is damaged\n",
                 name, result);
  } else {
    std::fprintf(stderr, "morvale-regcrypt: %s decrypts to %s\n", name,
                 same ? "the given text" : "another text");
  }
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  const char* keyPath = nullptr;
  const char* name = nullptr;
  ClearText clear;
  bool haveValue = false;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--check") == 0) {
      check = true;
      continue;
    }
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
  if (check) return Check(keyPath, name, clear.text) ? 0 : 1;
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
