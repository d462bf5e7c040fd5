#include "device/certificate_info.h"

#include <cwchar>
#include <memory>

#include "diagnostics/log.h"
#include "foundation/formatted_stream.h"
#include "foundation/string_conversion.h"
#include "foundation/utf.h"
#include "platform/crypt/crypt.h"
#include "platform/win32/codepage.h"

namespace {

constexpr std::uint8_t kTagProfileName = 1;
constexpr std::uint8_t kTagPublicKey = 2;
constexpr std::uint8_t kTagCertificate = 3;
constexpr std::uint8_t kTagCACertificates = 4;
constexpr std::uint8_t kTagNumber = 5;
constexpr std::uint8_t kTagData6 = 6;
constexpr std::uint8_t kTagIssueId = 7;
constexpr std::uint8_t kTagAttachmentName = 8;
constexpr std::uint8_t kTagErrorState = 9;

// Writes `value` whole as a tagged byte string (an empty one as the tag and
// length 0).
bool WriteField(FormattedStream& stream, std::uint8_t tag, const ByteBuffer& value) {
  const int size = static_cast<int>(value.GetSize());
  return stream.WriteByte(tag) && stream.WriteLength(size) && stream.WriteBytes(value.GetData(), size);
}

// A byte string field read whole into `out` (emptied first).
bool ReadField(FormattedStream& stream, ByteBuffer& out) {
  ByteBuffer field;
  int length = 0;
  if (!stream.ReadBufferField(&field, &length)) return false;
  out = field;
  return true;
}

// `length` bytes from `at` into `out` (emptied first), rewound.
void Assign(ByteBuffer& out, const std::uint8_t* at, unsigned length) {
  out.SetSize(0);
  if (length != 0) {
    out.Write(at, static_cast<int>(length));
    out.Seek(0, 0);
  }
}

std::string Narrow(const std::wstring& wide) { return ToNarrowString(wide, CP_ACP); }

struct ContextFree {
  void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFree>;

// The certificate context of DER bytes; null, logged for `user`, when the
// bytes are not one certificate.
Context ContextOf(const void* bytes, unsigned size, const char* user) {
  Context context(CertCreateCertificateContext(X509_ASN_ENCODING, static_cast<const BYTE*>(bytes), size));
  if (context == nullptr || context->pCertInfo == nullptr) {
    LogMessage(4, "{%s} OTACR: Unable to create certificate context", user);
    context.reset();
  }
  return context;
}

}  // namespace

// CertInfo

CertInfo::CertInfo(const ByteBuffer& record, const std::wstring& userName) {
  SetUserName(userName, Narrow(userName));
  Parse(record);
}

void CertInfo::Reset() {
  ProfileName.SetSize(0);
  PublicKey.SetSize(0);
  Certificate.SetSize(0);
  Data6.SetSize(0);
  IssueId.SetSize(0);
  AttachmentName.SetSize(0);
  AttachmentNameText.clear();
  CACertificates.clear();
  CACertificatesStatus = 1;
  CertificateStatus = 1;
  Number = 0;
  ErrorState = -1;
}

void CertInfo::SetUserName(const std::wstring& wide, const std::string& narrow) {
  UserNameW = wide;
  UserName = narrow;
}

bool CertInfo::Serialize(ByteBuffer& out) const {
  FormattedStream stream(&out, nullptr);
  if (!HasPart(1)) LogMessage(4, "{%s} OTACR: Profile Name is missing from ClientCertificateInfo", Who());
  bool ok = WriteField(stream, kTagProfileName, ProfileName);
  ok = ok && stream.WriteTaggedInt(kTagNumber, Number);
  if (!HasPart(2)) LogMessage(4, "{%s} OTACR: Public key is missing from ClientCertificateInfo", Who());
  ok = ok && WriteField(stream, kTagPublicKey, PublicKey);

  ByteBuffer certificate;
  if (Certificate.GetSize() != 0) {
    certificate.WriteByte(CertificateStatus);
    certificate.Write(Certificate.GetData(), static_cast<int>(Certificate.GetSize()));
  }
  ok = ok && WriteField(stream, kTagCertificate, certificate);

  ByteBuffer chain;
  if (HasPart(4)) {
    FormattedStream nested(&chain, nullptr);
    ok = ok && nested.WriteByte(CACertificatesStatus);
    for (const ByteBuffer& each : CACertificates) {
      if (each.GetSize() == 0) continue;
      ok = ok && nested.WriteLength(static_cast<int>(each.GetSize())) &&
           nested.WriteBytes(each.GetData(), static_cast<int>(each.GetSize()));
    }
  }
  ok = ok && WriteField(stream, kTagCACertificates, chain);
  ok = ok && WriteField(stream, kTagData6, Data6);
  ok = ok && WriteField(stream, kTagIssueId, IssueId);
  ok = ok && WriteField(stream, kTagAttachmentName, AttachmentName);
  ok = ok && stream.WriteTaggedInt(kTagErrorState, ErrorState < 1 ? 0 : ErrorState);
  return ok;
}

bool CertInfo::Parse(const ByteBuffer& record) {
  if (record.GetSize() == 0) {
    Reset();
    return false;
  }
  ByteBuffer data(record.GetData(), record.GetSize());
  FormattedStream stream(&data, nullptr);
  bool ok = true;
  while (ok && data.GetPosition() < data.GetSize()) {
    std::uint8_t tag = 0;
    stream.ReadByte(&tag);
    switch (tag) {
      case kTagProfileName:
        ok = ReadField(stream, ProfileName);
        break;
      case kTagPublicKey:
        ok = ReadField(stream, PublicKey);
        break;
      case kTagData6:
        ok = ReadField(stream, Data6);
        break;
      case kTagIssueId:
        ok = ReadField(stream, IssueId);
        break;
      case kTagCertificate: {
        ByteBuffer field;
        ok = ReadField(stream, field);
        if (ok && field.GetSize() >= 1) {
          CertificateStatus = field.GetData()[0];
          Assign(Certificate, field.GetData() + 1, field.GetSize() - 1);
        }
        break;
      }
      case kTagCACertificates: {
        ByteBuffer field;
        ok = ReadField(stream, field);
        if (ok && field.GetSize() >= 1) {
          CACertificatesStatus = field.GetData()[0];
          field.Seek(0, 1);
          FormattedStream nested(&field, nullptr);
          while (ok && field.GetPosition() < field.GetSize()) {
            ByteBuffer item;
            int length = 0;
            ok = nested.ReadBufferField(&item, &length);
            // An empty certificate carries nothing and is never written.
            if (ok && length > 0) CACertificates.push_back(item);
          }
        }
        break;
      }
      case kTagNumber:
        ok = stream.ReadIntField(&Number);
        break;
      case kTagErrorState:
        ok = stream.ReadIntField(&ErrorState);
        if (ok && ErrorState == 0) ErrorState = -1;
        break;
      case kTagAttachmentName: {
        ok = ReadField(stream, AttachmentName);
        if (ok && AttachmentName.GetSize() != 0) {
          SetAttachmentName(
              std::string(reinterpret_cast<const char*>(AttachmentName.GetData()), AttachmentName.GetSize()));
        }
        break;
      }
      default:
        LogMessage(4, "{%s} OTACR: Unknown tag %d from ClientCertificateInfo", Who(), static_cast<int>(tag));
        ok = stream.SkipField();
        break;
    }
  }
  if (ok && data.GetPosition() == data.GetSize()) return true;
  Reset();
  return false;
}

void CertInfo::SetAttachmentName(const std::string& utf8) {
  Assign(AttachmentName, reinterpret_cast<const std::uint8_t*>(utf8.data()), static_cast<unsigned>(utf8.size()));
  AttachmentNameText = ToWideString(utf8, CP_UTF8);
}

bool CertInfo::SetCertificate(const void* bytes, unsigned size) {
  Certificate.SetSize(0);
  CertificateStatus = 1;
  if (size == 0) return true;
  if (bytes == nullptr || Certificate.Write(bytes, static_cast<int>(size)) != static_cast<int>(size)) {
    Certificate.SetSize(0);
    return false;
  }
  Certificate.Seek(0, 0);
  return true;
}

void CertInfo::SetStatus(int part, std::uint8_t value) {
  if (part == 3) CertificateStatus = value;
  if (part == 4) CACertificatesStatus = value;
}

void CertInfo::SetError(std::int32_t code) { ErrorState = code < 1 ? kErrorNoMatch : code; }

bool CertInfo::HasPart(int part) const {
  switch (part) {
    case 1:
      return ProfileName.GetSize() != 0;
    case 2:
      return PublicKey.GetSize() != 0;
    case 3:
      return Certificate.GetSize() != 0;
    case 4:
      return !CACertificates.empty();
    default:
      return false;
  }
}

bool CertInfo::IsDelivered(int part) const { return (part == 3 || part == 4) && HasPart(part) && GetStatus(part) == 2; }

bool CertInfo::IsActive() const {
  return CACertificatesStatus == 1 || (CertificateStatus == 1 && (ErrorState >= 0 || HasPart(3)));
}

bool CertInfo::MatchesAttachmentName(const std::wstring& name) const {
  return !AttachmentNameText.empty() && wcscasecmp(AttachmentNameText.c_str(), name.c_str()) == 0;
}

bool CertInfo::AcceptIssueId(const std::string& id) {
  if (id.empty() || IssueId.IsEqual(id.data(), static_cast<unsigned>(id.size()))) return false;
  Assign(IssueId, reinterpret_cast<const std::uint8_t*>(id.data()), static_cast<unsigned>(id.size()));
  return true;
}

bool CertInfo::CheckKeyOfCertificate(const void* bytes, unsigned size) {
  if (bytes == nullptr || size == 0) return false;
  const Context context = ContextOf(bytes, size, Who());
  bool match = false;
  if (context != nullptr) {
    const CRYPT_BIT_STRING_BLOB& key = context->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    if (key.cbData != PublicKey.GetSize()) {
      LogMessage(4,
                 "{%s} OTACR: Public key length from the CA (length = %d) does not match public key from device "
                 "(length = %d)",
                 Who(), static_cast<int>(key.cbData), static_cast<int>(PublicKey.GetSize()));
    } else if (PublicKey.GetSize() == 0 || !PublicKey.IsEqual(key.pbData, key.cbData)) {
      // Two empty keys are no match: a request without a key takes no
      // certificate.
      LogMessage(4, "{%s} OTACR: Public key data from the CA does not match key data from device", Who());
    } else {
      match = true;
    }
  }
  if (!match) ErrorState = kErrorNoMatch;
  return match;
}

bool CertInfo::GetThumbprint(const void* bytes, unsigned size, std::wstring& out) {
  out.clear();
  if (bytes == nullptr || size == 0) return false;
  const Context context = ContextOf(bytes, size, Who());
  if (context == nullptr) return false;
  DWORD length = 0;
  BYTE hash[64];
  if (!CertGetCertificateContextProperty(context.get(), CERT_SHA1_HASH_PROP_ID, nullptr, &length) || length == 0 ||
      length > sizeof hash) {
    LogMessage(4, "{%s} OTACR: Unable to get length of certificate thumbprint", Who());
    return false;
  }
  if (!CertGetCertificateContextProperty(context.get(), CERT_SHA1_HASH_PROP_ID, hash, &length) || length == 0) {
    LogMessage(4, "{%s} OTACR: Unable to get certificate thumbprint", Who());
    return false;
  }
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  for (DWORD i = 0; i < length; ++i) {
    out += kDigits[hash[i] >> 4];
    out += kDigits[hash[i] & 0x0F];
  }
  return true;
}

// CertificateInfo

CertificateInfo::CertificateInfo() { Clear(); }

void CertificateInfo::Clear() {
  AllowedExtensions.clear();
  UserNameW.clear();
  UserName.clear();
  Entries.clear();
}

bool CertificateInfo::Load(const ByteBuffer& blob, const char* userName) {
  if (!blob.IsPresent()) return true;
  Clear();
  if (userName != nullptr) SetUserName(userName);
  Parse(blob);
  return true;
}

bool CertificateInfo::Parse(const ByteBuffer& record) {
  ByteBuffer data(record.GetData(), record.GetSize());
  FormattedStream stream(&data, nullptr);
  bool ok = true;
  while (ok && data.GetPosition() < data.GetSize()) {
    std::uint8_t tag = 0;
    stream.ReadByte(&tag);
    if (tag != 1) {
      ok = stream.SkipField();
      continue;
    }
    ByteBuffer field;
    int length = 0;
    ok = stream.ReadBufferField(&field, &length);
    if (ok) AddEntry(std::make_unique<CertInfo>(field, UserNameW));
  }
  if (ok) return true;
  Clear();
  return false;
}

void CertificateInfo::AddEntry(std::unique_ptr<CertInfo> entry) {
  if (entry == nullptr || entry->GetNumber() <= 0) return;
  const std::int32_t number = entry->GetNumber();
  entry->SetUserName(UserNameW, UserName);
  Entries[number] = std::move(entry);
}

bool CertificateInfo::Serialize(ByteBuffer& out) const {
  out.SetSize(0);
  FormattedStream stream(&out, nullptr);
  bool ok = true;
  for (const auto& [number, entry] : Entries) {
    ByteBuffer record;
    ok = entry->Serialize(record) && ok;
    ok = ok && WriteField(stream, 1, record);
  }
  out.Seek(0, 0);
  return ok;
}

void CertificateInfo::SetUserName(const char* userName) {
  UserName = userName != nullptr ? userName : "";
  UserNameW = ToWideString(UserName, CP_ACP);
  for (auto& [number, entry] : Entries) entry->SetUserName(UserNameW, UserName);
}

bool CertificateInfo::SetAllowedExtensions(const char* text) {
  const std::string list = text != nullptr && *text != '\0' ? text : "cer der";
  // The caller's list replaces the one before: every attachment test sets
  // it, and the list neither grows with each test nor keeps allowing what a
  // later caller does not.
  AllowedExtensions.clear();
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(' ', start), list.size());
    // Runs of blanks give no empty extension: a name ending in "." has none.
    if (end > start) AllowedExtensions.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

bool CertificateInfo::AcceptAttachment(const char* fileName, unsigned size) {
  if (fileName == nullptr || *fileName == '\0' || AllowedExtensions.empty()) return false;
  const std::string name = fileName;
  const std::size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? name : name.substr(dot + 1);
  bool allowed = false;
  for (const std::string& each : AllowedExtensions) allowed = allowed || each == extension;
  if (!allowed || size < 1 || size > kMaxAttachmentSize) return false;
  for (auto& [number, entry] : Entries) {
    if (entry->IsWaitingForCertificate()) {
      LogMessage(4, "{%s} OTACR: Target attachment found %s", UserName.c_str(), fileName);
      return true;
    }
  }
  return false;
}

bool CertificateInfo::StoreCertificate(const void* bytes, unsigned size) {
  for (auto& [number, entry] : Entries) {
    if (entry->CheckKeyOfCertificate(bytes, size)) return entry->SetCertificate(bytes, size);
  }
  return false;
}

bool CertificateInfo::ScanIssueMessage(const CertificateMessageFields& fields, const void* body, unsigned size) {
  const auto named = fields.find(1);
  const std::wstring name = named != fields.end() ? named->second : std::wstring();
  if (name.empty() || body == nullptr || size < 1 || size > kMaxAttachmentSize) return false;
  CertInfo* target = nullptr;
  for (auto& [number, entry] : Entries) {
    if (entry->MatchesAttachmentName(name)) {
      target = entry.get();
      break;
    }
  }
  if (target == nullptr) return false;
  const std::string narrowName = Narrow(name);
  LogMessage(4, "{%s} OTACR: checking for issue id from %s inside message body, size=%d bytes", UserName.c_str(),
             narrowName.c_str(), static_cast<int>(size));

  // The body is UTF-16 (little-endian); an odd last byte is dropped.
  const unsigned units = size / 2;
  std::string id;
  bool scanned = false;
  if (units == 0) {
    LogMessage(4, "{%s} OTACR: no body found trying to find the certificate issue id", UserName.c_str());
  } else {
    std::u16string text(units, u'\0');
    const auto* bytes = static_cast<const std::uint8_t*>(body);
    for (unsigned i = 0; i < units; ++i) {
      text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
    scanned = true;
    const std::size_t mark = text.find(u"md5");
    const std::size_t equals = mark == std::u16string::npos ? mark : text.find(u'=', mark);
    if (equals != std::u16string::npos) {
      const std::size_t end = std::min(text.find(u'&', equals + 1), text.size());
      const char16_t* from = text.data() + equals + 1;
      std::string utf8((end - equals - 1) * 3, '\0');
      char* to = utf8.data();
      ConvertUtf16ToUtf8(&from, text.data() + end, &to, utf8.data() + utf8.size(), false);
      utf8.resize(static_cast<std::size_t>(to - utf8.data()));
      id = Narrow(ToWideString(utf8, CP_UTF8));
    }
  }
  if (!id.empty()) {
    bool everyOne = true;
    for (auto& [number, entry] : Entries) everyOne = entry->AcceptIssueId(id) && everyOne;
    LogMessage(
        4, everyOne ? "{%s} OTACR: found certificate issue id %s" : "{%s} OTACR: already found certificate issue id %s",
        UserName.c_str(), id.c_str());
    return true;
  }
  if (scanned) LogMessage(4, "{%s} OTACR: certificate issue id not found", UserName.c_str());
  for (auto& [number, entry] : Entries) entry->SetError(0);
  return true;
}

bool CertificateInfo::HasActiveEntry() const {
  for (const auto& [number, entry] : Entries) {
    if (entry->IsActive()) return true;
  }
  return false;
}

bool CertificateInfo::UpdateCertInfo(int, int, bool, bool) { return false; }
