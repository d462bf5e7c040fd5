#include "device/certificate_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/test_support_for_tests.h"
#include "platform/crypt/test_certificates_for_tests.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

ByteBuffer Buffer(const std::vector<std::uint8_t>& bytes) {
  return ByteBuffer(bytes.data(), static_cast<unsigned>(bytes.size()));
}

std::vector<std::uint8_t> Contents(const ByteBuffer& buffer) {
  return std::vector<std::uint8_t>(buffer.GetData(), buffer.GetData() + buffer.GetSize());
}

void Set(ByteBuffer& field, const std::vector<std::uint8_t>& bytes) { field = Buffer(bytes); }

std::vector<std::uint8_t> Serialized(CertificateInfo& info) {
  ByteBuffer out;
  EXPECT_TRUE(info.Serialize(out));
  return Contents(out);
}

std::unique_ptr<CertInfo> Entry(std::int32_t number, const std::vector<std::uint8_t>& publicKey) {
  auto entry = std::make_unique<CertInfo>();
  entry->SetNumber(number);
  Set(entry->GetProfileName(), {'P'});
  Set(entry->GetPublicKey(), publicKey);
  return entry;
}

// Hand-written records: a minimal request (number 3, profile "P", key
// AA BB, issue id "x") and a full one (number 300, certificate delivered,
// a chain of two, error 24, attachment name "é.cer" in UTF-8).
const char kMinimal[] =
    "01 18"
    " 01 01 50  05 01 03  02 02 aa bb  03 00  04 00  06 00  07 01 78  08 00  09 01 00";
const char kFull[] =
    "01 28"
    " 01 01 50  05 02 82 2c  02 02 aa bb  03 03 02 c1 c2  04 06 01 01 d1 02 e1 e2  06 01 66  07 00"
    "  08 06 c3 a9 2e 63 65 72  09 01 18";

TEST(ClientCertificateInfoTest, WritesAndReadsTheRecordByteForByte) {
  CertificateInfo minimal;
  auto entry = Entry(3, {0xAA, 0xBB});
  entry->AcceptIssueId("x");
  minimal.AddEntry(std::move(entry));
  EXPECT_EQ(Serialized(minimal), Bytes(kMinimal));

  CertificateInfo full;
  entry = Entry(300, {0xAA, 0xBB});
  entry->SetCertificate("\xC1\xC2", 2);
  entry->SetStatus(3, 2);
  entry->GetCACertificates() = {Buffer({0xD1}), Buffer({}), Buffer({0xE1, 0xE2})};
  Set(entry->GetData6(), {'f'});
  entry->SetAttachmentName("\xC3\xA9.cer");
  entry->SetError(24);
  full.AddEntry(std::move(entry));
  EXPECT_EQ(Serialized(full), Bytes(kFull)) << "an empty chain certificate is left out";

  for (const char* hex : {kMinimal, kFull}) {
    SCOPED_TRACE(hex);
    CertificateInfo back;
    ASSERT_TRUE(back.Parse(Buffer(Bytes(hex))));
    ASSERT_EQ(back.GetEntries().size(), 1u);
    EXPECT_EQ(Serialized(back), Bytes(hex));
  }
  CertificateInfo back;
  ASSERT_TRUE(back.Parse(Buffer(Bytes(kFull))));
  CertInfo& read = *back.GetEntries().at(300);
  EXPECT_EQ(read.GetStatus(3), 2);
  EXPECT_EQ(read.GetStatus(4), 1);
  EXPECT_EQ(Contents(read.GetCertificate()), Bytes("c1 c2"));
  ASSERT_EQ(read.GetCACertificates().size(), 2u);
  EXPECT_EQ(Contents(read.GetCACertificates()[1]), Bytes("e1 e2"));
  EXPECT_EQ(read.GetErrorState(), 24);
  EXPECT_EQ(read.GetAttachmentNameText(), L"\u00e9.cer");
  EXPECT_TRUE(read.MatchesAttachmentName(L"\u00e9.CER"));
  EXPECT_FALSE(read.MatchesAttachmentName(L"e.cer"));
}

TEST(ClientCertificateInfoTest, ReadsWhatItCanAndDropsWhatItCannot) {
  const struct {
    const char* name;
    const char* record;
    std::vector<std::int32_t> numbers;
    std::int32_t errorState;  // of the first entry kept
  } cases[] = {
      {"error state 0 reads as none", "01 06 05 01 04 09 01 00", {4}, -1},
      {"unknown tags are skipped", "01 0a 05 01 04 0c 02 aa bb 09 01 07  0e 01 ff", {4}, 7},
      {"number 0 is dropped", "01 03 05 01 00", {}, -1},
      {"a request without a number is dropped", "01 03 01 01 50", {}, -1},
      {"a later request replaces one of its number", "01 06 05 01 04 09 01 05  01 06 05 01 04 09 01 06", {4}, 6},
      {"requests in number order", "01 03 05 01 09  01 03 05 01 02", {2, 9}, -1},
      {"an unreadable request is dropped, the rest kept", "01 03 05 01 09  01 02 02 05", {9}, -1},
      {"a chain whose last certificate is cut", "01 08 05 01 04 04 03 01 02 aa", {}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CertificateInfo info;
    EXPECT_TRUE(info.Parse(Buffer(Bytes(c.record))));
    std::vector<std::int32_t> numbers;
    for (const auto& [number, entry] : info.GetEntries()) numbers.push_back(number);
    EXPECT_EQ(numbers, c.numbers);
    if (!numbers.empty()) {
      EXPECT_EQ(info.GetEntries().begin()->second->GetErrorState(), c.errorState);
    }
  }

  // Cut anywhere inside, the record is refused whole.
  const std::vector<std::uint8_t> full = Bytes(kFull);
  for (std::size_t cut = 1; cut < full.size(); ++cut) {
    SCOPED_TRACE(cut);
    CertificateInfo info;
    info.AddEntry(Entry(1, {1}));
    info.SetAllowedExtensions("p7b");
    EXPECT_FALSE(info.Parse(Buffer(std::vector<std::uint8_t>(full.begin(), full.begin() + cut))));
    EXPECT_TRUE(info.GetEntries().empty());
    EXPECT_TRUE(info.GetAllowedExtensions().empty());
  }
}

TEST(ClientCertificateInfoTest, LogsWhatIsMissingAndLoadsOnlyWrittenBlobs) {
  CertificateInfo info;
  info.SetUserName("kim@example.com");
  auto bare = std::make_unique<CertInfo>();
  bare->SetNumber(1);
  info.AddEntry(std::move(bare));
  LoggedLines log;
  EXPECT_EQ(Serialized(info), Bytes("01 14 01 00 05 01 01 02 00 03 00 04 00 06 00 07 00 08 00 09 01 00"));
  const auto lines = log.Stop();
  std::vector<std::wstring> texts;
  for (const CapturedLine& line : lines) texts.push_back(line.text);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].find(L"{kim@example.com} OTACR: Profile Name is missing from ClientCertificateInfo"),
            std::wstring::npos);
  EXPECT_NE(texts[1].find(L"{kim@example.com} OTACR: Public key is missing from ClientCertificateInfo"),
            std::wstring::npos);

  EXPECT_TRUE(info.Load(ByteBuffer(), "other"));
  EXPECT_EQ(info.GetEntries().size(), 1u) << "a blob never written changes nothing";
  EXPECT_TRUE(info.Load(Buffer(Bytes("01 03 05 01 02")), "other@example.com"));
  EXPECT_EQ(info.GetEntries().count(2), 1u);
  EXPECT_EQ(info.GetEntries().size(), 1u);
  EXPECT_EQ(info.GetUserName(), L"other@example.com");
}

TEST(ClientCertificateInfoTest, AcceptsCertificateAttachmentsByExtensionSizeAndWaitingRequest) {
  CertificateInfo info;
  info.AddEntry(Entry(1, {1, 2}));
  EXPECT_FALSE(info.AcceptAttachment("ca.cer", 100)) << "no extension allowed yet";
  info.SetAllowedExtensions(nullptr);
  EXPECT_EQ(info.GetAllowedExtensions(), (std::list<std::string>{"cer", "der"}));
  const struct {
    const char* name;
    unsigned size;
    bool accepted;
  } cases[] = {
      {"ca.cer", 61440, true},    {"ca.der", 1, true},  {"ca.CER", 100, false},
      {"ca.cer", 61441, false},   {"ca.cer", 0, false}, {"cer", 100, true},
      {"ca.cer.txt", 100, false}, {"", 100, false},     {"ca.", 100, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.size));
    EXPECT_EQ(info.AcceptAttachment(c.name, c.size), c.accepted);
  }
  EXPECT_FALSE(info.AcceptAttachment(nullptr, 10));

  info.SetAllowedExtensions("p7b  CER");
  EXPECT_EQ(info.GetAllowedExtensions(), (std::list<std::string>{"p7b", "CER"})) << "replaced, not added to";
  EXPECT_TRUE(info.AcceptAttachment("ca.CER", 100));
  EXPECT_FALSE(info.AcceptAttachment("ca.cer", 100));

  // Once the certificate was delivered, no request waits.
  CertInfo& entry = *info.GetEntries().at(1);
  entry.SetCertificate("\x01", 1);
  entry.SetStatus(3, 2);
  EXPECT_FALSE(info.AcceptAttachment("ca.cer", 100));
}

TEST(ClientCertificateInfoTest, StoresACertificateWithTheRequestWhoseKeyItCarries) {
  const std::vector<BYTE> device = HexBytes(kTestDeviceCertificateHex);
  CertificateInfo info;
  info.AddEntry(Entry(1, HexBytes(kTestCaPublicKeyHex)));
  info.AddEntry(Entry(2, {1, 2, 3}));
  info.AddEntry(Entry(3, HexBytes(kTestDevicePublicKeyHex)));
  info.AddEntry(Entry(4, HexBytes(kTestDevicePublicKeyHex)));
  ASSERT_TRUE(info.StoreCertificate(device.data(), static_cast<unsigned>(device.size())));
  const auto& entries = info.GetEntries();
  EXPECT_EQ(entries.at(1)->GetErrorState(), 24) << "same length, other key";
  EXPECT_EQ(entries.at(2)->GetErrorState(), 24) << "other length";
  EXPECT_EQ(entries.at(3)->GetErrorState(), -1);
  EXPECT_EQ(Contents(entries.at(3)->GetCertificate()), device);
  EXPECT_EQ(entries.at(3)->GetStatus(3), 1);
  EXPECT_EQ(entries.at(4)->GetErrorState(), -1) << "the walk stops at the first match";
  EXPECT_FALSE(entries.at(4)->HasPart(3));

  CertificateInfo none;
  none.AddEntry(Entry(1, {1}));
  const std::vector<std::uint8_t> garbage = {0x30, 0x03, 0x02, 0x01, 0x01};
  EXPECT_FALSE(none.StoreCertificate(garbage.data(), static_cast<unsigned>(garbage.size())));
  EXPECT_EQ(none.GetEntries().at(1)->GetErrorState(), 24);
  CertInfo unchanged;
  EXPECT_FALSE(unchanged.CheckKeyOfCertificate(nullptr, 0));
  EXPECT_EQ(unchanged.GetErrorState(), -1);
}

TEST(ClientCertificateInfoTest, ARequestWithoutAKeyTakesNoCertificate) {
  // A certificate whose subject public key is an empty bit string (03 01 00).
  const std::vector<BYTE> keyless = HexBytes(
      "305e304d020101300a06082a8648ce3d0403023000301e170d3236303130313030303030305a170d333630313031303030303030"
      "5a30003018301306072a8648ce3d020106082a8648ce3d030107030100300a06082a8648ce3d040302030100");
  CertificateInfo info;
  info.AddEntry(Entry(1, {}));
  info.AddEntry(Entry(2, HexBytes(kTestDevicePublicKeyHex)));
  EXPECT_FALSE(info.StoreCertificate(keyless.data(), static_cast<unsigned>(keyless.size())));
  for (const auto& [number, entry] : info.GetEntries()) {
    EXPECT_FALSE(entry->HasPart(3)) << number;
    EXPECT_EQ(entry->GetErrorState(), 24) << number;
  }

  const std::vector<BYTE> device = HexBytes(kTestDeviceCertificateHex);
  CertInfo bare;
  EXPECT_FALSE(bare.CheckKeyOfCertificate(device.data(), static_cast<unsigned>(device.size())));
  EXPECT_EQ(bare.GetErrorState(), 24);
}

TEST(ClientCertificateInfoTest, ThumbprintsAreLowerCaseSha1OfTheEncodedCertificate) {
  CertInfo entry;
  std::wstring thumbprint = L"stale";
  for (const auto& [hex, expected] : {std::pair<const char*, const wchar_t*>{kTestCaCertificateHex, kTestCaThumbprint},
                                      {kTestDeviceCertificateHex, kTestDeviceThumbprint}}) {
    const std::vector<BYTE> der = HexBytes(hex);
    ASSERT_TRUE(entry.GetThumbprint(der.data(), static_cast<unsigned>(der.size()), thumbprint));
    EXPECT_EQ(thumbprint, expected);
  }
  EXPECT_FALSE(entry.GetThumbprint("\x30\x00", 2, thumbprint));
  EXPECT_EQ(thumbprint, L"");
}

std::vector<std::uint8_t> Utf16(const std::u16string& text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

TEST(ClientCertificateInfoTest, ScansAnAnswerForItsIssueId) {
  CertificateInfo info;
  info.AddEntry(Entry(1, {1}));
  info.AddEntry(Entry(2, {2}));
  info.GetEntries().at(2)->SetAttachmentName("Request-7");
  const CertificateMessageFields fields = {{1, L"request-7"}};

  std::vector<std::uint8_t> body = Utf16(u"Your id: md5 = 9fEa&more=1");
  body.push_back(0x41);  // an odd last byte is dropped
  EXPECT_FALSE(info.ScanIssueMessage({}, body.data(), static_cast<unsigned>(body.size())));
  EXPECT_FALSE(info.ScanIssueMessage({{1, L"other"}}, body.data(), static_cast<unsigned>(body.size())));
  EXPECT_FALSE(info.ScanIssueMessage(fields, body.data(), 0));
  EXPECT_FALSE(info.ScanIssueMessage(fields, body.data(), 61441));

  ASSERT_TRUE(info.ScanIssueMessage(fields, body.data(), static_cast<unsigned>(body.size())));
  for (const auto& [number, entry] : info.GetEntries()) {
    EXPECT_EQ(Contents(entry->GetIssueId()), Bytes("20 39 66 45 61")) << number;
    EXPECT_EQ(entry->GetErrorState(), -1);
  }
  EXPECT_TRUE(info.ScanIssueMessage(fields, body.data(), static_cast<unsigned>(body.size()))) << "already found";

  const std::vector<std::uint8_t> plain = Utf16(u"no id in here");
  ASSERT_TRUE(info.ScanIssueMessage(fields, plain.data(), static_cast<unsigned>(plain.size())));
  for (const auto& [number, entry] : info.GetEntries()) EXPECT_EQ(entry->GetErrorState(), 24) << number;
}

TEST(ClientCertificateInfoTest, ActiveRequests) {
  CertInfo entry;
  entry.SetStatus(4, 2);
  EXPECT_FALSE(entry.IsActive()) << "nothing issued, no error";
  entry.SetError(0);
  EXPECT_EQ(entry.GetErrorState(), 24);
  EXPECT_TRUE(entry.IsActive()) << "an error still to report";
  entry.SetStatus(3, 2);
  EXPECT_FALSE(entry.IsActive());
  entry.SetStatus(4, 1);
  EXPECT_TRUE(entry.IsActive()) << "a chain still to deliver";

  CertificateInfo info;
  EXPECT_FALSE(info.HasActiveEntry());
  info.AddEntry(Entry(5, {1}));
  EXPECT_TRUE(info.HasActiveEntry());
}

}  // namespace
