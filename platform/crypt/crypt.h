// Certificate contexts of the platform's certificate API, over OpenSSL 3.
//
// A certificate context is one decoded X.509 certificate: the encoded bytes
// as given, and the parts of the decoded certificate that callers read (the
// subject's public key bits). Contexts are made from DER bytes and freed by
// the caller; the SHA-1 hash of the encoded bytes (the certificate's
// thumbprint) is read as a property.
//
//   PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, der, derSize);
//   if (context == nullptr) ... GetLastError() says why
//   const CRYPT_BIT_STRING_BLOB& key = context->pCertInfo->SubjectPublicKeyInfo.PublicKey;
//   DWORD size = 0;
//   CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, nullptr, &size);   // 20
//   CertFreeCertificateContext(context);
//
// Failures set the thread's last error (platform/win32/error.h) to the code
// the platform gives: ERROR_INVALID_PARAMETER for bad arguments, CRYPT_E_ASN1_BADTAG for
// bytes that are not one certificate, ERROR_MORE_DATA for a short property
// buffer, CRYPT_E_NOT_FOUND for an unknown property.
//
// Thread safety: every function may be called from any thread; a context
// may be read by several threads at once and is freed by one.
#pragma once

#include "platform/win32/types.h"

inline constexpr DWORD X509_ASN_ENCODING = 0x00000001;
inline constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;

inline constexpr DWORD CERT_SHA1_HASH_PROP_ID = 3;
inline constexpr DWORD CERT_HASH_PROP_ID = CERT_SHA1_HASH_PROP_ID;

// Last-error codes of this API (HRESULT bit patterns, as the platform keeps
// them).
inline constexpr DWORD CRYPT_E_ASN1_BADTAG = 0x8009310Bu;
inline constexpr DWORD CRYPT_E_NOT_FOUND = 0x80092004u;
inline constexpr DWORD CRYPT_E_ASN1_MEMORY = 0x80093002u;

struct CRYPT_BIT_STRING_BLOB {
  DWORD cbData;
  BYTE* pbData;
  DWORD cUnusedBits;
};

struct CERT_PUBLIC_KEY_INFO {
  CRYPT_BIT_STRING_BLOB PublicKey;
};

struct CERT_INFO {
  DWORD dwVersion;  // 0 for v1 up to 2 for v3
  CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
};

struct CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  CERT_INFO* pCertInfo;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;

// A context over a copy of the `size` bytes, which must be exactly one DER
// certificate; encoding must include X509_ASN_ENCODING. Null on failure.
PCCERT_CONTEXT CertCreateCertificateContext(DWORD encoding, const BYTE* encoded, DWORD size);

// Frees a context made by CertCreateCertificateContext; null is allowed.
// Always TRUE.
BOOL CertFreeCertificateContext(PCCERT_CONTEXT context);

// Property `propId` of the context. Null `data`: *size receives the size,
// TRUE. Otherwise the value is copied when *size is large enough (TRUE,
// *size the bytes copied), else FALSE with ERROR_MORE_DATA and *size the
// size needed. Only CERT_SHA1_HASH_PROP_ID (20 bytes) is known.
BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT context, DWORD propId, void* data, DWORD* size);
