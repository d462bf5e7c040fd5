#include "platform/crypt/crypt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/crypt/test_certificates_for_tests.h"
#include "platform/win32/error.h"

namespace {

TEST(CertificateContextTest, DecodesTheSubjectKeyAndHashesTheEncodedBytes) {
  const struct {
    const char* certificate;
    const char* publicKey;
    const wchar_t* thumbprint;
  } cases[] = {
      {kTestCaCertificateHex, kTestCaPublicKeyHex, kTestCaThumbprint},
      {kTestDeviceCertificateHex, kTestDevicePublicKeyHex, kTestDeviceThumbprint},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.certificate);
    const std::vector<BYTE> der = HexBytes(c.certificate);
    PCCERT_CONTEXT context = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), der.size());
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->cbCertEncoded, der.size());
    EXPECT_EQ(std::memcmp(context->pbCertEncoded, der.data(), der.size()), 0);
    EXPECT_NE(context->pbCertEncoded, der.data()) << "the context keeps its own copy";
    EXPECT_EQ(context->pCertInfo->dwVersion, 2u);
    const CRYPT_BIT_STRING_BLOB& key = context->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    EXPECT_EQ(std::vector<BYTE>(key.pbData, key.pbData + key.cbData), HexBytes(c.publicKey));
    EXPECT_EQ(key.cUnusedBits, 0u);

    DWORD size = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, nullptr, &size));
    ASSERT_EQ(size, 20u);
    BYTE hash[20] = {};
    ASSERT_TRUE(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, &size));
    std::wstring hex;
    for (BYTE b : hash) {
      wchar_t pair[3];
      swprintf(pair, 3, L"%02x", b);
      hex += pair;
    }
    EXPECT_EQ(hex, c.thumbprint);
    EXPECT_TRUE(CertFreeCertificateContext(context));
  }
}

TEST(CertificateContextTest, RefusesWhatIsNotExactlyOneCertificate) {
  std::vector<BYTE> der = HexBytes(kTestCaCertificateHex);
  std::vector<BYTE> trailing = der;
  trailing.push_back(0);
  std::vector<BYTE> corrupt = der;
  corrupt[0] = 0x31;
  const struct {
    const char* name;
    DWORD encoding;
    const BYTE* bytes;
    DWORD size;
    DWORD error;
  } cases[] = {
      {"null bytes", X509_ASN_ENCODING, nullptr, 10, ERROR_INVALID_PARAMETER},
      {"no bytes", X509_ASN_ENCODING, der.data(), 0, ERROR_INVALID_PARAMETER},
      {"other encoding", PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()), ERROR_INVALID_PARAMETER},
      {"cut short", X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size() - 1), CRYPT_E_ASN1_BADTAG},
      {"a byte too many", X509_ASN_ENCODING, trailing.data(), static_cast<DWORD>(trailing.size()), CRYPT_E_ASN1_BADTAG},
      {"not a sequence", X509_ASN_ENCODING, corrupt.data(), static_cast<DWORD>(corrupt.size()), CRYPT_E_ASN1_BADTAG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    EXPECT_EQ(CertCreateCertificateContext(c.encoding, c.bytes, c.size), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(CertFreeCertificateContext(nullptr));
}

TEST(CertificateContextTest, PropertyReadsCheckTheirBuffer) {
  const std::vector<BYTE> der = HexBytes(kTestDeviceCertificateHex);
  PCCERT_CONTEXT context =
      CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), der.size());
  ASSERT_NE(context, nullptr);
  BYTE hash[20] = {};
  DWORD size = 19;
  EXPECT_FALSE(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, &size));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(size, 20u);
  EXPECT_EQ(hash[0], 0) << "nothing copied into a short buffer";
  size = 20;
  EXPECT_FALSE(CertGetCertificateContextProperty(context, 2, hash, &size));
  EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
  EXPECT_FALSE(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, nullptr));
  EXPECT_FALSE(CertGetCertificateContextProperty(nullptr, CERT_SHA1_HASH_PROP_ID, hash, &size));
  CertFreeCertificateContext(context);
}

}  // namespace
