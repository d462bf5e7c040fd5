#include "configdb/users/pager_record.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "configdb/users/fake_pager_for_tests.h"

namespace {

std::wstring Wide(const wchar_t* text) { return text != nullptr ? text : L"(null)"; }

TEST(PagerRecordTest, NarrowTextChecksTreatNullAsEmptyAndIgnoreCase) {
  const struct {
    const char* stored;
    const char* given;
    bool equal;
  } cases[] = {
      {nullptr, nullptr, true},       {nullptr, "", true},
      {"", nullptr, true},            {nullptr, "/o=x", false},
      {"/o=x", nullptr, false},       {"/O=Org/OU=Site", "/o=org/ou=site", true},
      {"/o=org", "/o=org2", false},   {"", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stored ? c.stored : "(null)") + " vs " + (c.given ? c.given : "(null)"));
    PagerRecord record(nullptr, 0);
    ASSERT_TRUE(record.SetServerDN(c.stored));
    ASSERT_TRUE(record.SetMailboxSMTPAddr(c.stored));
    EXPECT_EQ(record.CheckServerDN(c.given), c.equal);
    EXPECT_EQ(record.CheckMailboxSMTPAddr(c.given), c.equal);
  }
}

TEST(PagerRecordTest, DisplayNameCheckIsCaseInsensitiveWithTheSameNullRule) {
  const struct {
    const wchar_t* stored;
    const wchar_t* given;
    bool equal;
  } cases[] = {
      {nullptr, L"", true},
      {L"", nullptr, true},
      {L"Ann Smith", L"ANN smith", true},
      {L"Ann", L"Anne", false},
      {nullptr, L"Ann", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Wide(c.stored) + L" vs " + Wide(c.given));
    PagerRecord record(nullptr, 0);
    ASSERT_TRUE(record.SetDisplayName(c.stored));
    EXPECT_EQ(record.CheckDisplayName(c.given), c.equal);
  }
}

TEST(PagerRecordTest, TextsAreOwnedCopiesAndMaySetFromTheirOwnPointer) {
  PagerRecord record(nullptr, 0);
  std::string source = "/o=Org/cn=Recipients/cn=ann";
  ASSERT_TRUE(record.SetMailboxDN(source.c_str()));
  source[0] = 'X';
  char* stored = nullptr;
  record.GetMailboxDN(&stored);
  ASSERT_NE(stored, nullptr);
  EXPECT_STREQ(stored, "/o=Org/cn=Recipients/cn=ann");

  // The stored pointer handed back in: the text survives.
  ASSERT_TRUE(record.SetMailboxDN(stored));
  record.GetMailboxDN(&stored);
  EXPECT_STREQ(stored, "/o=Org/cn=Recipients/cn=ann");
  wchar_t* name = nullptr;
  ASSERT_TRUE(record.SetDisplayName(L"Ann"));
  record.GetDisplayName(&name);
  ASSERT_TRUE(record.SetDisplayName(name));
  record.GetDisplayName(&name);
  EXPECT_STREQ(name, L"Ann");

  ASSERT_TRUE(record.SetMailboxDN(nullptr));
  record.GetMailboxDN(&stored);
  EXPECT_EQ(stored, nullptr);
}

TEST(PagerRecordTest, PinTextAndNumber) {
  const struct {
    const char* text;
    unsigned number;
  } parsed[] = {
      {"FFFFFFFF", 0},  {"12345", 12345},   {"2A3B4C5D", 0x2A3B4C5Du},
      {"", 0},          {"20000000", 0x20000000u},
  };
  for (const auto& c : parsed) {
    SCOPED_TRACE(c.text);
    PagerRecord record(nullptr, 0);
    record.SetPIN(zev::ZEVString(c.text));
    EXPECT_EQ(record.GetPINNumber(), c.number);
  }
  PagerRecord unset(nullptr, 0);
  EXPECT_EQ(unset.GetPINNumber(), 0u);

  const struct {
    unsigned number;
    const wchar_t* text;
  } formatted[] = {
      {100, L"100"}, {0x1FFFFFFFu, L"536870911"}, {0x20000000u, L"20000000"}, {0xDEADBEEFu, L"DEADBEEF"},
  };
  for (const auto& c : formatted) {
    SCOPED_TRACE(c.number);
    PagerRecord record(nullptr, 0);
    record.SetDeviceIDCache(7, c.number);
    EXPECT_STREQ(record.GetPIN().GetWide(), c.text);
    DeviceIDRecord ids;
    record.GetDeviceIDCache(&ids);
    EXPECT_EQ(ids.DeviceType, 7);
    EXPECT_EQ(ids.PIN, c.number);
  }
}

TEST(PagerRecordTest, KeySlotsTakeAtMostSeventyTwoBytesOfKindsOneToThree) {
  PagerRecord record(nullptr, 0);
  std::uint8_t bytes[80];
  for (int i = 0; i < 80; ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);

  ASSERT_TRUE(record.SetEncryptionKey(2, bytes, 72));
  EXPECT_FALSE(record.SetEncryptionKey(2, bytes, 73));
  EXPECT_FALSE(record.SetEncryptionKey(0, bytes, 10));
  EXPECT_FALSE(record.SetEncryptionKey(4, bytes, 10));
  EXPECT_FALSE(record.SetEncryptionKey(2, nullptr, 10));
  const std::uint8_t* slot = nullptr;
  ASSERT_EQ(record.GetEncryptionKey(2, &slot), 72);
  EXPECT_EQ(std::memcmp(slot, bytes, 72), 0) << "refused writes leave the slot";

  ASSERT_TRUE(record.SetEncryptionKey(2, bytes, 10));
  EXPECT_EQ(std::memcmp(slot, bytes, 10), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(slot + 10, slot + 72), std::vector<std::uint8_t>(62, 0));
  ASSERT_TRUE(record.SetEncryptionKey(2, nullptr, 0));
  EXPECT_EQ(std::vector<std::uint8_t>(slot, slot + 72), std::vector<std::uint8_t>(72, 0));

  // Each kind its own slot; another kind leaves the pointer.
  ASSERT_TRUE(record.SetEncryptionKey(1, bytes + 1, 72));
  ASSERT_TRUE(record.SetEncryptionKey(3, bytes + 3, 72));
  for (int kind = 1; kind <= 3; ++kind) {
    SCOPED_TRACE(kind);
    const std::uint8_t* key = nullptr;
    ASSERT_EQ(record.GetEncryptionKey(kind, &key), 72);
    EXPECT_EQ(key[0], kind == 2 ? 0 : bytes[kind]);
  }
  const std::uint8_t* untouched = bytes;
  EXPECT_EQ(record.GetEncryptionKey(5, &untouched), 72);
  EXPECT_EQ(untouched, bytes);
  EXPECT_EQ(record.GetEncryptionKey(1, nullptr), 0);
}

TEST(PagerRecordTest, WideArraysHoldSixtyThreeCharacters) {
  PagerRecord record(nullptr, 0);
  const std::wstring fits(63, L'é');
  const std::wstring tooLong(64, L'x');
  ASSERT_TRUE(record.SetServiceBookName(L"Old"));
  EXPECT_FALSE(record.SetServiceBookName(tooLong.c_str()));
  EXPECT_STREQ(record.GetServiceBookName(), L"Old");
  EXPECT_TRUE(record.SetServiceBookName(fits.c_str()));
  EXPECT_EQ(std::wstring(record.GetServiceBookName()), fits);
  EXPECT_TRUE(record.SetServiceBookName(nullptr));
  EXPECT_STREQ(record.GetServiceBookName(), L"");

  ASSERT_TRUE(record.SetMailStoreDisplayName(L"Mailbox - Ann"));
  EXPECT_TRUE(record.CheckMailStoreDisplayName(L"Mailbox - Ann"));
  EXPECT_FALSE(record.CheckMailStoreDisplayName(L"mailbox - ann"));
  EXPECT_FALSE(record.CheckMailStoreDisplayName(nullptr));
}

TEST(PagerRecordTest, FiltersAreTrimmedAtBothEndsOnly) {
  PagerRecord record(nullptr, 0);
  record.SetFilters(zev::ZEVString(L" \t from:boss  to:me \r\n"));
  EXPECT_STREQ(record.GetFilters().GetWide(), L"from:boss  to:me");
}

TEST(PagerRecordTest, ByteFieldsCopyInAndOut) {
  PagerRecord record(nullptr, 0);
  const std::uint8_t data[] = {1, 2, 3, 4, 5};
  ASSERT_TRUE(record.SetAckData(data, 5));
  EXPECT_TRUE(record.IsEqualAckData(data, 5));
  EXPECT_FALSE(record.IsEqualAckData(data, 4));

  std::uint8_t out[8] = {};
  unsigned length = 4;
  EXPECT_FALSE(record.CopyOutAckData(out, &length)) << "shorter than the value";
  EXPECT_FALSE(record.CopyOutAckData(nullptr, &length));
  length = sizeof out;
  ASSERT_TRUE(record.CopyOutAckData(out, &length));
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(std::memcmp(out, data, 5), 0);

  ASSERT_TRUE(record.SetDataSourceId(data, 3));
  length = 2;
  record.CopyOutDataSourceId(out, &length);
  EXPECT_EQ(length, 2u) << "too small: nothing copied, length kept";
  length = 3;
  std::memset(out, 0, sizeof out);
  record.CopyOutDataSourceId(out, &length);
  EXPECT_EQ(std::memcmp(out, data, 3), 0);

  // Null bytes or a length of 0 or below empty the field.
  ASSERT_TRUE(record.SetAckData(nullptr, 5));
  EXPECT_EQ(record.GetAckDataSize(), 0u);
  ASSERT_TRUE(record.SetDeviceCapabilities(data, -1));
  EXPECT_EQ(record.GetDeviceCapabilitiesSize(), 0u);

  record.SetLurnum(data, 5);
  EXPECT_TRUE(record.LurnumDiffers(data, 5));
  const std::uint8_t lurnum[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  record.SetLurnum(lurnum, 8);
  EXPECT_FALSE(record.LurnumDiffers(lurnum, 8));
}

TEST(PagerRecordTest, CopyFromCopiesTheRowButNotWhatOnlyTheServerKeeps) {
  PagerRecord from(nullptr, 11);
  from.SetDisplayName(L"Ann Ärm");
  from.SetMailboxDN("/o=x/cn=ann");
  from.SetServerDN("/o=x/ou=s1");
  from.SetPIN(zev::ZEVString("2A3B4C5D"));
  from.SetDeviceType(4);
  from.SetRedirectionState(1);
  from.SetOverrideSMTPAddr("ann@x.example");
  from.SetRoutingInfo("relay-1");
  const std::uint8_t key[72] = {0xAA, 0xBB};
  from.SetEncryptionKey(3, key, 72);
  const std::uint8_t caps[] = {7, 7, 7};
  from.SetDeviceCapabilities(caps, 3);
  from.SetServiceBookName(L"Books");
  from.SetFilters(zev::ZEVString(L"f"));
  from.SetRichContentTrainingFileId(12);
  from.SetDeviceUserId(99);
  from.SetKeyGenNumAttempts(3);
  // Not copied:
  from.SetChangedFlag(1);
  from.SetHomeMDB("home");
  from.SetMailboxSMTPAddr("mailbox@x.example");
  from.SetDBStatus(1);
  from.SetITPolicyStatus(5);
  from.SetPolicyBlob(caps, 3);

  PagerRecord to(nullptr, 22);
  to.SetAckData(caps, 1);
  to.CopyFrom(&from);
  to.CopyFrom(nullptr);
  to.CopyFrom(&to);

  wchar_t* name = nullptr;
  to.GetDisplayName(&name);
  EXPECT_STREQ(name, L"Ann Ärm");
  EXPECT_TRUE(to.CheckMailboxDN("/o=x/cn=ann"));
  EXPECT_TRUE(to.CheckServerDN("/o=x/ou=s1"));
  EXPECT_EQ(to.GetPINNumber(), 0x2A3B4C5Du);
  EXPECT_EQ(to.GetDeviceType(), 4);
  EXPECT_EQ(to.GetRedirectionState(), 1);
  EXPECT_TRUE(to.CheckOverrideSMTPAddr("ann@x.example"));
  char* routing = nullptr;
  to.GetRoutingInfo(&routing);
  EXPECT_STREQ(routing, "relay-1");
  const std::uint8_t* pending = nullptr;
  to.GetEncryptionKey(3, &pending);
  EXPECT_EQ(std::memcmp(pending, key, 72), 0);
  EXPECT_TRUE(to.IsEqualDeviceCapabilities(caps, 3));
  EXPECT_EQ(to.GetAckDataSize(), 0u) << "the source's empty AckData replaces the old";
  EXPECT_STREQ(to.GetServiceBookName(), L"Books");
  EXPECT_EQ(to.GetRichContentTrainingFileId(), 12);
  EXPECT_EQ(to.GetDeviceUserId(), 99);
  int attempts = 0;
  to.GetKeyGenNumAttempts(&attempts);
  EXPECT_EQ(attempts, 3);

  EXPECT_EQ(to.GetUserId(), 22);
  EXPECT_EQ(to.GetChangedFlag(), 0);
  char* text = nullptr;
  to.GetHomeMDB(&text);
  EXPECT_EQ(text, nullptr);
  to.GetMailboxSMTPAddr(&text);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(to.GetDBStatus(), 0);
  EXPECT_EQ(to.GetITPolicyStatus(), 0);
  const std::uint8_t* blob = nullptr;
  unsigned size = 9;
  to.GetPolicyBlob(&blob, &size);
  EXPECT_EQ(size, 0u);

  to.CopyFlagsFrom(from);
  EXPECT_EQ(to.GetChangedFlag(), 1);
}

TEST(PagerRecordTest, CopyFromTakesTheOtherRecordsCertificateRequestsWhenTheyDiffer) {
  auto request = [](std::int32_t number) {
    auto entry = std::make_unique<CertInfo>();
    entry->SetNumber(number);
    return entry;
  };
  PagerRecord source(nullptr, 1);
  source.SetMailboxSMTPAddr("kim@example.com");
  source.GetCertificateInfo()->AddEntry(request(2));
  PagerRecord target(nullptr, 1);
  target.GetCertificateInfo()->AddEntry(request(7));

  ByteBuffer blob;
  ASSERT_TRUE(source.SerializeCertificates(blob));
  EXPECT_TRUE(source.CertificateEquals(blob));
  EXPECT_FALSE(target.CertificateEquals(blob));
  EXPECT_FALSE(source.CertificateEquals(ByteBuffer())) << "a blob that holds nothing equals nothing";

  target.CopyFrom(&source);
  ASSERT_EQ(target.GetCertificateInfo()->GetEntries().size(), 1u);
  EXPECT_EQ(target.GetCertificateInfo()->GetEntries().count(2), 1u);
  EXPECT_EQ(target.GetCertificateInfo()->GetUserName(), L"kim@example.com");
  EXPECT_TRUE(target.CertificateEquals(blob));

  // A source without requests leaves none behind.
  PagerRecord empty(nullptr, 1);
  target.CopyFrom(&empty);
  EXPECT_TRUE(target.GetCertificateInfo()->GetEntries().empty());

  PagerRecord loaded(nullptr, 1);
  loaded.SetMailboxSMTPAddr("lee@example.com");
  ASSERT_TRUE(loaded.LoadCertificates(blob));
  EXPECT_EQ(loaded.GetCertificateInfo()->GetEntries().count(2), 1u);
  EXPECT_EQ(loaded.GetCertificateInfo()->GetUserName(), L"lee@example.com");
  EXPECT_TRUE(loaded.LoadCertificates(ByteBuffer()));
  EXPECT_EQ(loaded.GetCertificateInfo()->GetEntries().size(), 1u) << "a value that holds nothing changes nothing";
}

TEST(PagerRecordTest, DestructionDeletesTheOwnerUnlessItIsTrashed) {
  int destroyed = 0;
  auto* kept = new FakePager(&destroyed, true);
  { PagerRecord record(new FakePager(&destroyed), 1); }
  EXPECT_EQ(destroyed, 1);
  { PagerRecord record(kept, 2); }
  EXPECT_EQ(destroyed, 1);
  delete kept;
  { PagerRecord record(nullptr, 3); }
  EXPECT_EQ(destroyed, 2);
}

}  // namespace
