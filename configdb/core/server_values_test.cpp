// Answers from the server values held, typed blobs, certificate operations
// over cached users and the small operations.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "configdb/core/pm_database_for_tests.h"
#include "configdb/users/fake_pager_for_tests.h"
#include "device/otacr_request.h"
#include "platform/crypt/test_certificates_for_tests.h"

namespace {

using Access = PMDatabaseSQLImpTestAccess;

void Fill(ByteBuffer& buffer, const std::vector<std::uint8_t>& bytes) {
  buffer.SetSize(0);
  buffer.Write(bytes.data(), static_cast<int>(bytes.size()));
}

class ServerValuesTest : public ::testing::Test {
 protected:
  DatabasePtr db_ = NewDatabase();
};

TEST_F(ServerValuesTest, GettersAnswerFromTheServerRowAndRefuseNullOutputs) {
  bool flag = true;
  int number = -1;
  std::uint8_t byte = 9;
  // The defaults before any load.
  ASSERT_TRUE(db_->GetServerRichContentEnabled(&flag));
  EXPECT_TRUE(flag);
  ASSERT_TRUE(db_->GetMessageStateDbSize(&number));
  EXPECT_EQ(number, 100);
  ASSERT_TRUE(db_->GetEnabledEncryptionAlgs(&byte));
  EXPECT_EQ(byte, 0);
  EXPECT_FALSE(db_->GetLocalServerConfigId(&number)) << "no server yet";

  ServerConfigValues& s = Access::MutableServer(*db_);
  s.ExternalServices = 2;
  s.OTAFMEnable = 0;
  s.EnableSMIME = 3;
  s.PolicyResendTimeout = -1;
  s.LinkStatus = 6;
  s.DisclaimerTextRuleHigh = 1;
  Access::SetServerConfigId(*db_, 17);
  ASSERT_TRUE(db_->GetExternalServices(&flag));
  EXPECT_TRUE(flag);
  ASSERT_TRUE(db_->GetOTAFMEnable(&flag));
  EXPECT_FALSE(flag);
  ASSERT_TRUE(db_->GetEnableSMIME(&number));
  EXPECT_EQ(number, 3);
  std::int64_t wide = 0;
  ASSERT_TRUE(db_->GetPolicyResendTimeout(&wide));
  EXPECT_EQ(wide, -1);
  EXPECT_EQ(db_->GetLinkStatus(), 6);
  ASSERT_TRUE(db_->GetDisclaimerTextRuleHigh(&number));
  EXPECT_EQ(number, 1);
  ASSERT_TRUE(db_->GetLocalServerConfigId(&number));
  EXPECT_EQ(number, 17);
  ASSERT_TRUE(db_->Reserved246(&wide));
  EXPECT_EQ(wide, 0);

  EXPECT_FALSE(db_->GetExternalServices(nullptr));
  EXPECT_FALSE(db_->GetEnableSMIME(nullptr));
  EXPECT_FALSE(db_->GetPolicyResendTimeout(nullptr));
  EXPECT_FALSE(db_->GetFreeBusyEnabled(nullptr));
  EXPECT_FALSE(db_->GetLocalServerConfigId(nullptr));
}

TEST_F(ServerValuesTest, ByteGettersCopyOnlyIntoABufferLargeEnough) {
  ServerConfigValues& s = Access::MutableServer(*db_);
  Fill(s.SRPKey, {1, 2, 3, 4});
  Fill(s.GlobalFilterBin, {5});
  std::uint32_t size = 0;
  ASSERT_TRUE(db_->GetAuthenticationKeySize(&size));
  EXPECT_EQ(size, 4u);
  std::uint8_t buffer[4] = {};
  std::uint32_t length = 3;
  EXPECT_FALSE(db_->GetAuthenticationKey(buffer, &length));
  EXPECT_EQ(buffer[0], 0) << "nothing copied";
  length = 4;
  ASSERT_TRUE(db_->GetAuthenticationKey(buffer, &length));
  EXPECT_EQ(buffer[3], 4);
  ASSERT_TRUE(db_->GetFilterBlobSize(&size));
  EXPECT_EQ(size, 1u);
  ASSERT_TRUE(db_->GetServerLTKeyPairSize(&size));
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(db_->GetFilterBlob(nullptr, &length));
  EXPECT_FALSE(db_->GetFilterBlobSize(nullptr));
}

TEST_F(ServerValuesTest, TypedBlobsOfTheServerAreItsPeerToPeerKeyOnly) {
  OTACRRequest key;
  key.SetKind(9);
  key.SetValue1(77);
  std::uint32_t size = 0;
  const std::uint8_t* block = key.Serialize(&size);
  Fill(Access::MutableServer(*db_).PeerToPeerKeyData, std::vector<std::uint8_t>(block, block + size));
  OTACRRequest read;
  read.SetKind(9);
  ASSERT_TRUE(db_->GetServerTypedBlob(&read));
  EXPECT_EQ(read.GetValue1(), 77);
  OTACRRequest policy;
  policy.SetKind(3);
  EXPECT_FALSE(db_->GetServerTypedBlob(&policy));
  EXPECT_FALSE(db_->SetServerTypedBlob(&policy));
  OTACRRequest other;
  other.SetKind(5);
  FakePager pager;
  EXPECT_FALSE(db_->GetTypedBlob(&pager, &other));
  EXPECT_FALSE(db_->SetTypedBlob(&pager, &other));
  EXPECT_FALSE(db_->GetTypedBlob(&pager, nullptr));
}

TEST_F(ServerValuesTest, ServerChangesAreToldInOrder) {
  ServerConfigValues& s = Access::MutableServer(*db_);
  s.SRPID = "S1";
  s.OTAFMEnable = 1;
  s.ExternalServices = 0;
  s.EnableSMIME = 2;
  s.AutoBCCAddr = "";
  const bool yes = true;
  const bool no = false;
  const int smime = 3;
  db_->NotifyServerConfigChanges(&yes, &no, &smime, "S2", "bcc@example.com");  // no listener: nothing
  RecordingListener listener;
  Access::SetListener(*db_, &listener);
  db_->NotifyServerConfigChanges(&yes, &no, &smime, "S2", "bcc@example.com");
  EXPECT_EQ(listener.serverEvents, (std::vector<int>{18, 19, 16, 66, 65}));
  listener.serverEvents.clear();
  const bool on = true;
  const int same = 2;
  db_->NotifyServerConfigChanges(&no, &on, &same, "S1", "");
  EXPECT_TRUE(listener.serverEvents.empty());
  s.SRPID.clear();
  db_->NotifyServerConfigChanges(nullptr, nullptr, nullptr, "S9", nullptr);
  EXPECT_TRUE(listener.serverEvents.empty()) << "no SRPID held: nothing to compare";
  Access::SetListener(*db_, nullptr);
}

TEST_F(ServerValuesTest, SmallOperations) {
  const struct {
    std::uint8_t mask;
    bool sane;
  } masks[] = {{0x00, true}, {0x15, false}, {0x1F, false}, {0x11, true}, {0x05, true}, {0x14, true}};
  for (const auto& m : masks) EXPECT_EQ(db_->SanityCheckDNChanges(m.mask), m.sane) << static_cast<int>(m.mask);
  EXPECT_TRUE(db_->Reserved13(1));
  EXPECT_TRUE(db_->Reserved59(1));
  EXPECT_TRUE(db_->Reserved303(1));
  EXPECT_TRUE(db_->Reserved41(nullptr, nullptr));
  EXPECT_FALSE(db_->Reserved301(1));
  EXPECT_FALSE(db_->Reserved302(1, 2));
  EXPECT_TRUE(db_->FlushServerStats(0));
  EXPECT_TRUE(db_->UpdateCertificateRequest(0, 5, 1, 1)) << "no server: nothing to do";
  EXPECT_FALSE(db_->UpdateCertificateRequest(1, 5, 1, 1)) << "user not cached";
}

TEST_F(ServerValuesTest, CertificateOperationsWorkOnTheCachedUsersRequests) {
  auto* pager = new FakePager;
  PagerRecord* record = Access::AddUser(*db_, pager, 9);
  auto entry = std::make_unique<CertInfo>();
  entry->SetNumber(1);
  entry->GetProfileName() = ByteBuffer("P", 1);
  const std::vector<BYTE> key = HexBytes(kTestDevicePublicKeyHex);
  entry->GetPublicKey() = ByteBuffer(key.data(), static_cast<unsigned>(key.size()));
  entry->SetAttachmentName("request-1");
  record->GetCertificateInfo()->AddEntry(std::move(entry));
  EXPECT_EQ(db_->GetCertificateInfo(pager), record->GetCertificateInfo());
  FakePager stranger;
  EXPECT_EQ(db_->GetCertificateInfo(&stranger), nullptr);

  OTACRRequest attachment;
  attachment.SetName("device.cer");
  EXPECT_TRUE(db_->MatchCertificateAttachment(pager, &attachment, 300, nullptr));
  EXPECT_FALSE(db_->MatchCertificateAttachment(pager, &attachment, 300, "p7b"));
  EXPECT_FALSE(db_->MatchCertificateAttachment(&stranger, &attachment, 300, nullptr));
  EXPECT_FALSE(db_->StoreCertificateAttachment(pager, &attachment, ByteBuffer("x", 1))) << "\".cer\" not allowed now";
  EXPECT_TRUE(db_->MatchCertificateAttachment(pager, &attachment, 300, "der cer"));

  const std::vector<BYTE> der = HexBytes(kTestDeviceCertificateHex);
  ASSERT_TRUE(
      db_->StoreCertificateAttachment(pager, &attachment, ByteBuffer(der.data(), static_cast<unsigned>(der.size()))));
  EXPECT_TRUE(record->GetCertificateInfo()->GetEntries().at(1)->HasPart(3));
  EXPECT_FALSE(db_->StoreCertificateAttachment(pager, &attachment, ByteBuffer()));

  OTACRRequest answer;
  answer.SetName("REQUEST-1");
  const std::wstring body = L"x md5=id42";
  std::vector<std::uint8_t> utf16;
  for (wchar_t c : body) {
    utf16.push_back(static_cast<std::uint8_t>(c));
    utf16.push_back(0);
  }
  ASSERT_TRUE(db_->CheckCACertificate(pager, &answer, ByteBuffer(utf16.data(), static_cast<unsigned>(utf16.size()))));
  const ByteBuffer& issueId = record->GetCertificateInfo()->GetEntries().at(1)->GetIssueId();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(issueId.GetData()), issueId.GetSize()), "id42");

  // Nothing delivered yet on this platform: the stored requests stay as
  // they are and nothing is written.
  EXPECT_FALSE(db_->UpdateCertificateRequest(3, 9, 1, 1));
  EXPECT_FALSE(db_->UpdateCertificateRequestRecord(record, 3, 9, 1, 1));
  EXPECT_TRUE(db_->UpdateCertificateRequestRecord(nullptr, 3, 9, 1, 1));
  EXPECT_FALSE(db_->SaveClientCertificateInfo(ByteBuffer(), 9));
}

}  // namespace
