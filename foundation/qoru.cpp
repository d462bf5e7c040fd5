#include "foundation/qoru.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "foundation/library_loader.h"
#include "foundation/log_hook.h"
#include "foundation/registry.h"

namespace Qoru {
namespace {

constexpr const char* kSettingsKey = "software\\quillon\\quorrel enterprise server\\dispatcher";
constexpr const wchar_t* kFileName = L"Qoru.DLL";
constexpr unsigned kMaxFolder = 260;

// The engine's exports, bound in this order.
constexpr std::array<const char*, 45> kExports = {
    "SelfTest", "ShowStatus", "GetLastCryptoError", "GetRandomData", "AddEntropy",
    "TDES_ECB_Encode", "TDES_ECB_Decode", "TDES_CBC_Encode", "TDES_CBC_Decode",
    "AES_ECB_Encode", "AES_ECB_Decode", "AES_CBC_Encode", "AES_CBC_Decode",
    "SHA1_Reset", "SHA1_Update", "SHA1_Digest", "SHA1_DigestMessage",
    "SHA224_Reset", "SHA224_Update", "SHA224_Digest", "SHA224_DigestMessage",
    "SHA256_Reset", "SHA256_Update", "SHA256_Digest", "SHA256_DigestMessage",
    "SHA384_Reset", "SHA384_Update", "SHA384_Digest", "SHA384_DigestMessage",
    "SHA512_Reset", "SHA512_Update", "SHA512_Digest", "SHA512_DigestMessage",
    "HMAC_SHA1_DigestMessage", "HMAC_SHA224_DigestMessage", "HMAC_SHA256_DigestMessage",
    "HMAC_SHA384_DigestMessage", "HMAC_SHA512_DigestMessage",
    "ECC_Get_Length", "ECC_Generate_KeyPair", "ECDSA_Sign_Message", "ECDSA_Verify_Message",
    "ECDH_Key_Agreement", "ECMQV_Key_Agreement", "ECC_Uncompress_PublicKey"};

constexpr std::size_t IndexOf(const char* name) {
  for (std::size_t i = 0; i < kExports.size(); ++i) {
    if (std::string_view(kExports[i]) == name) return i;
  }
  return kExports.size();
}
constexpr std::size_t kAesCbcDecode = IndexOf("AES_CBC_Decode");
static_assert(kAesCbcDecode < kExports.size());

// The table is filled before the handle is published (release) and read
// after the handle is seen (acquire); it does not change while a handle is set.
std::array<FARPROC, kExports.size()> table{};
std::atomic<HMODULE> library{nullptr};
std::mutex loading;

// The folder of "CryptoLibraryPath" joined with the file name; the bare file
// name when the key or the value is missing or empty.
std::wstring LibraryPath() {
  std::wstring path;
  Registry settings(kSettingsKey, false, false);
  wchar_t folder[kMaxFolder] = {};
  if (settings.Open(false) && settings.GetStringW(L"CryptoLibraryPath", folder, kMaxFolder)) {
    path = folder;
  }
  if (!path.empty() && path.back() != L'/') path += L'/';
  return path + kFileName;
}

}  // namespace

bool Initialize() {
  if (library.load(std::memory_order_acquire) != nullptr) return true;
  std::lock_guard<std::mutex> hold(loading);
  if (library.load(std::memory_order_relaxed) != nullptr) return true;
  HMODULE module = LoadLibraryGuardedW(LibraryPath().c_str());
  if (module == nullptr) return false;
  for (std::size_t i = 0; i < kExports.size(); ++i) table[i] = GetProcAddress(module, kExports[i]);
  library.store(module, std::memory_order_release);
  return true;
}

int AES_CBC_Decode(const std::uint8_t* key, int keyLength, int blockLength,
                   const std::uint8_t* iv, ReadInput readInput, ByteBuffer* readContext,
                   WriteOutput writeOutput, ByteBuffer* writeContext) {
  if (library.load(std::memory_order_acquire) == nullptr) {
    FoundationLogMessage(1, "Qoru.dll is not initialized. Please call Qoru::Initialize.");
    return kNotCallable;
  }
  auto function = reinterpret_cast<AES_CBC_DecodeFunction>(table[kAesCbcDecode]);
  if (function == nullptr) {
    FoundationLogMessage(1, "Function %s not found in Qoru.dll.", kExports[kAesCbcDecode]);
    return kNotCallable;
  }
  return function(key, keyLength, blockLength, iv, readInput, readContext, writeOutput,
                  writeContext);
}

void ReleaseForTesting() {
  std::lock_guard<std::mutex> hold(loading);
  HMODULE module = library.exchange(nullptr, std::memory_order_acq_rel);
  table.fill(nullptr);
  if (module != nullptr) FreeLibrary(module);
}

}  // namespace Qoru
