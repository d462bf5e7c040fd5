#include "foundation/reg_encryption.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

#include "foundation/byte_buffer.h"
#include "foundation/log_hook.h"
#include "foundation/qoru.h"
#include "foundation/secure_wipe.h"
#include "platform/win32/computer_name.h"

namespace {

constexpr std::uint8_t kKeyFiller = 0xA5;
constexpr char kKeyLabel[] = "CDBRegEncryption key 1";  // hashed with its terminator

// A byte vector that is wiped when it goes.
struct WipedBytes {
  std::vector<std::uint8_t> bytes;
  ~WipedBytes() { SecureWipe(bytes.data(), bytes.size()); }
};

}  // namespace

CRegEncryption::CRegEncryption() { std::memset(key_, kKeyFiller, sizeof key_); }

CRegEncryption::~CRegEncryption() { SecureWipe(key_, sizeof key_); }

void CRegEncryption::SetKey(const std::vector<std::uint8_t>& key) {
  std::memset(key_, kKeyFiller, sizeof key_);
  const std::size_t n = std::min(key.size(), sizeof key_);
  for (std::size_t i = 0; i < n && key[i] != 0; ++i) key_[i] = key[i];
}

int CRegEncryption::DecodeFromAES256(const std::vector<std::uint8_t>& cipherText,
                                     std::wstring* out) {
  static constexpr const char* kWhere = "CRegEncryption::DecodeFromAES256";
  if (!bound_) {
    if (!Qoru::Initialize()) {
      FoundationLogMessage(2, "{%s} Qoru failed to initialize", kWhere);
      return 1;
    }
    bound_ = true;
  }
  ByteBuffer input(cipherText.data(), static_cast<unsigned>(cipherText.size()));
  input.Seek(0, 0);
  ByteBuffer output;
  const int result = Qoru::AES_CBC_Decode(key_, kRegEncryptionKeyLength, kRegEncryptionBlockLength,
                                          kRegEncryptionIv, &CRegEncryption::ReadInput, &input,
                                          &CRegEncryption::WriteOutput, &output);
  if (result != 0) {
    FoundationLogMessage(2, "{%s} Failed to Decode due to %d", kWhere, result);
    return 4;
  }
  if (out != nullptr) {
    // The clear text is a login: room for all of it is made before it is
    // copied, so that no growing copy is freed unwiped, and what the string
    // held before is wiped too.
    SecureWipe(out->data(), out->size() * sizeof(wchar_t));
    out->clear();
    out->reserve(output.GetSize());
    const std::uint8_t* clear = output.GetData();
    for (unsigned i = 0; i < output.GetSize(); ++i) out->push_back(static_cast<wchar_t>(clear[i]));
  }
  return 0;
}

int CRegEncryption::ReadInput(void* buffer, int length, ByteBuffer* source) {
  if (source == nullptr) return 0;
  return source->Read(buffer, length);
}

bool CRegEncryption::WriteOutput(const char* data, int length, ByteBuffer* target) {
  if (target == nullptr || length < 0 || (length > 0 && data == nullptr)) return false;
  return target->Write(data, length) == length;
}

CDBRegEncryption::CDBRegEncryption() { CalculateKey(); }

CDBRegEncryption::~CDBRegEncryption() = default;

int CDBRegEncryption::CalculateKey() {
  static constexpr const char* kWhere = "CDBRegEncryption::CalculateKey";
  std::string name;
  if (!ReadComputerName(&name)) {
    FoundationLogMessage(4, "{%s} Can't get computer name", kWhere);
    return 1;
  }
  WipedBytes key;
  key.bytes.resize(kRegEncryptionKeyLength);
  std::uint8_t derived[kRegEncryptionKeyLength];
  const bool derivedOk = DeriveKey(name, derived);
  std::copy(derived, derived + kRegEncryptionKeyLength, key.bytes.begin());
  SecureWipe(derived, sizeof derived);
  if (!derivedOk) {
    FoundationLogMessage(4, "{%s} Can't derive the key", kWhere);
    return 1;
  }
  encryption_.SetKey(key.bytes);
  return 0;
}

int CDBRegEncryption::Decode(const char* data, int length, std::wstring* out) {
  if (data == nullptr || length < 0) return 2;
  WipedBytes cipherText;
  cipherText.bytes.assign(data, data + length);
  return encryption_.DecodeFromAES256(cipherText.bytes, out);
}

bool CDBRegEncryption::ReadComputerName(std::string* name) {
  DWORD size = 0;
  GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, nullptr, &size);
  if (size == 0) return false;
  std::vector<char> buffer(size);
  if (!GetComputerNameExA(ComputerNamePhysicalDnsFullyQualified, buffer.data(), &size)) {
    return false;
  }
  name->assign(buffer.data(), size);
  return true;
}

bool CDBRegEncryption::DeriveKey(const std::string& computerName,
                                 std::uint8_t (&key)[kRegEncryptionKeyLength]) {
  WipedBytes message;
  message.bytes.assign(kKeyLabel, kKeyLabel + sizeof kKeyLabel);
  for (char c : computerName) {
    message.bytes.push_back(static_cast<std::uint8_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  }
  unsigned int digestLength = 0;
  if (EVP_Digest(message.bytes.data(), message.bytes.size(), key, &digestLength, EVP_sha256(),
                 nullptr) != 1 ||
      digestLength != kRegEncryptionKeyLength) {
    SecureWipe(key, sizeof key);
    return false;
  }
  for (std::uint8_t& b : key) {
    if (b == 0) b = 1;
  }
  return true;
}
