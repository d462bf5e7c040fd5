#include "platform/crypt/crypt.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <new>
#include <vector>

#include "platform/win32/error.h"

namespace {

// One context: the CERT_CONTEXT the caller sees comes first, so the pointer
// handed out is the holder's address.
struct ContextHolder {
  CERT_CONTEXT context{};
  CERT_INFO info{};
  std::vector<BYTE> encoded;
  std::vector<BYTE> publicKey;
};
static_assert(offsetof(ContextHolder, context) == 0);

}  // namespace

PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* encoded, DWORD size) {
  if ((encoding & X509_ASN_ENCODING) == 0 || encoded == nullptr || size == 0 || size > 0x7FFFFFFFu) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const unsigned char* cursor = encoded;
  X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(size));
  if (certificate == nullptr || cursor != encoded + size) {
    // Not a certificate, or one followed by bytes that belong to none.
    X509_free(certificate);
    SetLastError(CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  auto* holder = new (std::nothrow) ContextHolder;
  const ASN1_BIT_STRING* key = X509_get0_pubkey_bitstr(certificate);
  if (holder == nullptr || key == nullptr) {
    delete holder;
    X509_free(certificate);
    SetLastError(holder == nullptr ? CRYPT_E_ASN1_MEMORY : CRYPT_E_ASN1_BADTAG);
    return nullptr;
  }
  try {
    holder->encoded.assign(encoded, encoded + size);
    const unsigned char* bits = ASN1_STRING_get0_data(key);
    holder->publicKey.assign(bits, bits + ASN1_STRING_length(key));
  } catch (const std::bad_alloc&) {
    delete holder;
    X509_free(certificate);
    SetLastError(CRYPT_E_ASN1_MEMORY);
    return nullptr;
  }
  const long version = X509_get_version(certificate);
  holder->info.dwVersion = version < 0 ? 0 : static_cast<DWORD>(version);
  CRYPT_BIT_STRING_BLOB& blob = holder->info.SubjectPublicKeyInfo.PublicKey;
  blob.cbData = static_cast<DWORD>(holder->publicKey.size());
  blob.pbData = holder->publicKey.empty() ? nullptr : holder->publicKey.data();
  blob.cUnusedBits = (key->flags & ASN1_STRING_FLAG_BITS_LEFT) != 0 ? static_cast<DWORD>(key->flags & 0x07) : 0;
  X509_free(certificate);

  holder->context.dwCertEncodingType = encoding;
  holder->context.pbCertEncoded = holder->encoded.data();
  holder->context.cbCertEncoded = size;
  holder->context.pCertInfo = &holder->info;
  return &holder->context;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
  delete reinterpret_cast<const ContextHolder*>(context);
  return 1;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, void* data, DWORD* size) {
  if (context == nullptr || size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (propId != CERT_SHA1_HASH_PROP_ID) {
    SetLastError(CRYPT_E_NOT_FOUND);
    return 0;
  }
  constexpr DWORD kSha1Size = 20;
  if (data == nullptr) {
    *size = kSha1Size;
    return 1;
  }
  if (*size < kSha1Size) {
    *size = kSha1Size;
    SetLastError(ERROR_MORE_DATA);
    return 0;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(context->pbCertEncoded, context->cbCertEncoded, digest, &length, EVP_sha1(), nullptr) != 1 ||
      length != kSha1Size) {
    SetLastError(CRYPT_E_NOT_FOUND);
    return 0;
  }
  std::memcpy(data, digest, kSha1Size);
  *size = kSha1Size;
  return 1;
}
