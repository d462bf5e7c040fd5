// A user's over-the-air certificate requests and their stored form.
//
// A device asks a certification authority for a certificate by mail: each
// request (CertInfo) holds the device's public key; the authority's answer
// names the request, carries an issue id in its body and brings the issued
// certificate and its chain as attachments. CertificateInfo holds one
// user's requests, keyed by their Number (> 0), inside the user's cached
// record of the configuration database, and is stored in the UserConfig
// column ClientCertificateInfo as one tagged record (FormattedStream,
// foundation/formatted_stream.h):
//
//   outer record   one tag-1 byte string per request, ascending Number
//   request        1 ProfileName   5 Number (int)   2 PublicKey
//                  3 CertificateStatus byte + Certificate (DER)
//                  4 CACertificatesStatus byte + one (var-int length, DER)
//                    per chain certificate
//                  6 Data6   7 IssueId   8 AttachmentName (UTF-8)
//                  9 ErrorState (int; -1 and 0 are written as 0, 0 is read
//                    as -1)
//
// A missing value is written as an empty field (tag, length 0). Readers skip
// fields of unknown tags; a record that cannot be read leaves the request
// reset (or the container empty) rather than half filled. Statuses: 1 to be
// delivered, 2 delivered. ErrorState -1 means no error; 24 means the
// authority's answer did not match the request.
//
// Every operation reports by its result and by level-4 log lines that begin
// with "{<user name>} OTACR: "; nothing throws.
//
// Not thread-safe: the configuration database uses a user's requests only
// under its user lock.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/byte_buffer.h"

// The numbered texts of an authority's answer message; field 1 names the
// request the answer belongs to.
using CertificateMessageFields = std::map<int, std::wstring>;

class CertInfo {
 public:
  // ErrorState of a request whose answer did not match it.
  static constexpr std::int32_t kErrorNoMatch = 24;

  // A reset request.
  CertInfo() = default;
  // A request read from one request record, with the owner's user name.
  CertInfo(const ByteBuffer& record, const std::wstring& userName);
  virtual ~CertInfo() = default;
  CertInfo(const CertInfo&) = delete;
  CertInfo& operator=(const CertInfo&) = delete;

  // Appends the request record to `out` at its position; false when a
  // write failed.
  bool Serialize(ByteBuffer& out) const;
  // Reads a request record; an empty or unreadable record resets the
  // request and gives false.
  bool Parse(const ByteBuffer& record);
  // Empties Certificate, sets its status to 1 and copies the bytes; false
  // (Certificate empty) when not all of them could be copied.
  bool SetCertificate(const void* bytes, unsigned size);
  // Part 3 (the certificate) or 4 (the chain): its status.
  void SetStatus(int part, std::uint8_t value);
  // ErrorState = 24 for a code below 1, else the code.
  void SetError(std::int32_t code);
  // 1 ProfileName, 2 PublicKey, 3 Certificate, 4 a chain certificate.
  bool HasPart(int part) const;
  // Part 3 or 4 present and its status 2.
  bool IsDelivered(int part) const;
  bool IsWaitingForCertificate() const { return HasPart(2) && !IsDelivered(3); }
  bool IsActive() const;
  // AttachmentName set and equal to `name` ignoring case.
  bool MatchesAttachmentName(const std::wstring& name) const;
  // Takes a new, non-empty issue id; false for an empty id or the one held.
  bool AcceptIssueId(const std::string& id);
  // Whether the certificate's subject key is this request's public key (a
  // request without a key matches none); on any failure ErrorState becomes
  // 24. Empty bytes: false, no change.
  bool CheckKeyOfCertificate(const void* bytes, unsigned size);
  // The certificate's SHA-1 thumbprint as 40 lower-case hex digits.
  bool GetThumbprint(const void* bytes, unsigned size, std::wstring& out);

  void SetUserName(const std::wstring& wide, const std::string& narrow);
  std::int32_t GetNumber() const { return Number; }
  void SetNumber(std::int32_t number) { Number = number; }
  std::int32_t GetErrorState() const { return ErrorState; }
  std::uint8_t GetStatus(int part) const { return part == 3 ? CertificateStatus : CACertificatesStatus; }
  ByteBuffer& GetProfileName() { return ProfileName; }
  ByteBuffer& GetPublicKey() { return PublicKey; }
  ByteBuffer& GetCertificate() { return Certificate; }
  ByteBuffer& GetData6() { return Data6; }
  ByteBuffer& GetIssueId() { return IssueId; }
  std::vector<ByteBuffer>& GetCACertificates() { return CACertificates; }
  // Sets AttachmentName (UTF-8) and its decoded text.
  void SetAttachmentName(const std::string& utf8);
  const std::wstring& GetAttachmentNameText() const { return AttachmentNameText; }

 private:
  void Reset();
  const char* Who() const { return UserName.c_str(); }

  ByteBuffer ProfileName;
  ByteBuffer PublicKey;
  ByteBuffer Certificate;
  ByteBuffer Data6;
  ByteBuffer IssueId;
  ByteBuffer AttachmentName;
  std::wstring AttachmentNameText;
  std::vector<ByteBuffer> CACertificates;
  std::uint8_t CACertificatesStatus = 1;
  std::uint8_t CertificateStatus = 1;
  std::wstring UserNameW;
  std::string UserName;
  std::int32_t Number = 0;
  std::int32_t ErrorState = -1;
};

class CertificateInfo {
 public:
  // Size limits of a certificate attachment and of an answer's body.
  static constexpr unsigned kMaxAttachmentSize = 61440;

  CertificateInfo();
  virtual ~CertificateInfo() = default;
  CertificateInfo(const CertificateInfo&) = delete;
  CertificateInfo& operator=(const CertificateInfo&) = delete;

  // Empties the allowed extensions, the user names and the requests.
  void Clear();
  // A blob that was never written: true, nothing changed. Otherwise Clear,
  // the user names when `userName` is not null, then Parse; true.
  bool Load(const ByteBuffer& blob, const char* userName);
  // Reads an outer record; requests with a Number of 0 or below are
  // dropped, a later one replaces an earlier one of the same Number. False,
  // and Clear, when the record cannot be read to its end.
  bool Parse(const ByteBuffer& record);
  // The outer record into `out` (emptied first, rewound after); false when
  // a request or a field could not be written.
  bool Serialize(ByteBuffer& out) const;
  void SetUserName(const char* userName);
  const std::wstring& GetUserName() const { return UserNameW; }
  // The allowed extensions become the blank-separated ones of `text` ("cer
  // der" when null or empty); true.
  bool SetAllowedExtensions(const char* text);
  // An attachment named `fileName` of `size` bytes is taken when its
  // extension is allowed (case counts), its size is 1 to 61440, and a
  // request waits for its certificate.
  bool AcceptAttachment(const char* fileName, unsigned size);
  // Gives the certificate to the first request (in Number order) whose key
  // it carries; requests passed over get ErrorState 24.
  bool StoreCertificate(const void* bytes, unsigned size);
  // Reads an answer's issue id ("md5=<id>" in its UTF-16 body) for the
  // request that field 1 names; false only when no request is named or the
  // body's size is not 1 to 61440.
  bool ScanIssueMessage(const CertificateMessageFields& fields, const void* body, unsigned size);
  bool HasActiveEntry() const;
  // Delivers the requests' certificates to the device through the device
  // configuration channel and marks what was delivered. That channel does
  // not exist on this platform yet: nothing is delivered, nothing changes,
  // and the result is false.
  bool UpdateCertInfo(int channelKey1, int channelKey2, bool deliverCertificate, bool deliverChain);

  const std::map<std::int32_t, std::unique_ptr<CertInfo>>& GetEntries() const { return Entries; }
  // Takes `entry` under its Number (> 0), replacing one held there, and
  // gives it the container's user name; an entry without a Number is dropped.
  void AddEntry(std::unique_ptr<CertInfo> entry);
  const std::list<std::string>& GetAllowedExtensions() const { return AllowedExtensions; }

 private:
  std::list<std::string> AllowedExtensions;
  std::wstring UserNameW;
  std::string UserName;
  std::map<std::int32_t, std::unique_ptr<CertInfo>> Entries;
};
