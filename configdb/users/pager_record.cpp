#include "configdb/users/pager_record.h"

#include <strings.h>

#include <cstring>
#include <cwchar>

#include "device/pager.h"
#include "foundation/device_pin.h"

PagerRecord::PagerRecord(Pager* owner, int userId) : owner_(owner), id_(userId) {}

PagerRecord::~PagerRecord() {
  if (owner_ != nullptr && !owner_->IsTrashed()) delete owner_;
  SecureWipe(lurnum_, sizeof lurnum_);
  SecureWipe(previousKey_, sizeof previousKey_);
  SecureWipe(currentKey_, sizeof currentKey_);
  SecureWipe(pendingKey_, sizeof pendingKey_);
  SecureWipe(serviceBookName_, sizeof serviceBookName_);
  SecureWipe(mailStoreDisplayName_, sizeof mailStoreDisplayName_);
}

bool PagerRecord::SetText(WipedArray<char>& field, const char* text) {
  // The copy is made before the old text goes, so a field may be set from
  // its own pointer.
  WipedArray<char> copy;
  const bool ok = text == nullptr || copy.Allocate(std::strlen(text) + 1);
  if (ok && text != nullptr) std::memcpy(copy.get(), text, copy.size());
  field = std::move(copy);
  return ok;
}

bool PagerRecord::TextsMatch(const char* stored, const char* text) {
  if (stored == nullptr || text == nullptr) {
    const char* other = stored != nullptr ? stored : text;
    return other == nullptr || *other == '\0';
  }
  return strcasecmp(stored, text) == 0;
}

bool PagerRecord::SetDisplayName(const wchar_t* text) {
  WipedArray<wchar_t> copy;
  const bool ok = text == nullptr || copy.Allocate(std::wcslen(text) + 1);
  if (ok && text != nullptr) std::wmemcpy(copy.get(), text, copy.size());
  displayName_ = std::move(copy);
  return ok;
}

bool PagerRecord::CheckDisplayName(const wchar_t* text) const {
  const wchar_t* stored = displayName_.get();
  if (stored == nullptr || text == nullptr) {
    const wchar_t* other = stored != nullptr ? stored : text;
    return other == nullptr || *other == L'\0';
  }
  return wcscasecmp(stored, text) == 0;
}

void PagerRecord::SetFilters(zev::ZEVString filters) {
  filters_ = filters;
  filters_.Trim(zev::ZEVString::kTrimLeading | zev::ZEVString::kTrimTrailing);
}

bool PagerRecord::SetDisclaimerText(const wchar_t* text) {
  disclaimerText_ = text;
  return true;
}

bool PagerRecord::SetDisclaimerTextPrepended(const wchar_t* text) {
  disclaimerTextPrepended_ = text;
  return true;
}

void PagerRecord::SetPINNumber(unsigned pin) {
  char text[32];
  pin_ = FormatPIN(pin, text, sizeof text);
}

unsigned PagerRecord::GetPINNumber() const {
  zev::ZEVString pin(pin_);
  return ParsePIN(pin.GetNarrow(), nullptr);
}

void PagerRecord::SetDeviceIDCache(int deviceType, unsigned pin) {
  deviceType_ = deviceType;
  SetPINNumber(pin);
}

void PagerRecord::GetDeviceIDCache(DeviceIDRecord* out) const {
  out->DeviceType = deviceType_;
  out->PIN = GetPINNumber();
}

bool PagerRecord::SetBytes(ByteBuffer& buffer, const void* bytes, int length) {
  buffer.SetSize(0);
  // Exactly the bytes' size: a record keeps its buffers as they are set,
  // and a server keeps one record per user.
  if (bytes != nullptr && length > 0 && buffer.SetSize(length)) {
    std::memcpy(buffer.GetData(), bytes, static_cast<std::size_t>(length));
    buffer.Seek(0, 0);
  }
  return true;
}

bool PagerRecord::CopyOut(ByteBuffer& buffer, void* out, unsigned* length) {
  if (out == nullptr || length == nullptr || *length < buffer.GetSize()) return false;
  buffer.Seek(0, 0);
  *length = static_cast<unsigned>(buffer.Read(out, static_cast<int>(buffer.GetSize())));
  buffer.Seek(0, 0);
  return true;
}

void PagerRecord::CopyOutDataSourceId(void* buffer, unsigned* length) const {
  if (buffer == nullptr || length == nullptr || *length < dataSourceId_.GetSize()) return;
  if (dataSourceId_.GetSize() != 0) std::memcpy(buffer, dataSourceId_.GetData(), dataSourceId_.GetSize());
  *length = dataSourceId_.GetSize();
}

void PagerRecord::GetPolicyBlob(const std::uint8_t** bytes, unsigned* size) const {
  *bytes = policyBlob_.GetData();
  *size = policyBlob_.GetSize();
}

void PagerRecord::GetPeerToPeerKeyBlob(const std::uint8_t** bytes, unsigned* size) const {
  *bytes = peerToPeerKeyBlob_.GetData();
  *size = peerToPeerKeyBlob_.GetSize();
}

bool PagerRecord::SetWideArray(wchar_t (&field)[kWideArrayChars], const wchar_t* text) {
  if (text == nullptr) {
    std::wmemset(field, L'\0', kWideArrayChars);
    return true;
  }
  const std::size_t length = std::wcslen(text);
  if (length >= static_cast<std::size_t>(kWideArrayChars)) return false;
  std::wmemmove(field, text, length + 1);
  return true;
}

bool PagerRecord::CheckMailStoreDisplayName(const wchar_t* text) const {
  return text != nullptr && std::wcscmp(mailStoreDisplayName_, text) == 0;
}

std::uint8_t* PagerRecord::KeySlot(int kind) {
  return const_cast<std::uint8_t*>(static_cast<const PagerRecord*>(this)->KeySlot(kind));
}

const std::uint8_t* PagerRecord::KeySlot(int kind) const {
  switch (kind) {
    case 1:
      return previousKey_;
    case 2:
      return currentKey_;
    case 3:
      return pendingKey_;
    default:
      return nullptr;
  }
}

int PagerRecord::GetEncryptionKey(int kind, const std::uint8_t** out) const {
  if (out == nullptr) return 0;
  if (const std::uint8_t* slot = KeySlot(kind)) *out = slot;
  return kKeySize;
}

bool PagerRecord::SetEncryptionKey(int kind, const void* bytes, unsigned length) {
  std::uint8_t* slot = KeySlot(kind);
  if (slot == nullptr || length > static_cast<unsigned>(kKeySize) || (bytes == nullptr && length > 0)) return false;
  SecureWipe(slot, kKeySize);
  if (length > 0) std::memmove(slot, bytes, length);
  return true;
}

void PagerRecord::SetLurnum(const void* bytes, unsigned length) {
  if (bytes != nullptr && length == sizeof lurnum_) std::memmove(lurnum_, bytes, sizeof lurnum_);
}

bool PagerRecord::LurnumDiffers(const void* bytes, unsigned length) const {
  return bytes == nullptr || length != sizeof lurnum_ || std::memcmp(lurnum_, bytes, sizeof lurnum_) != 0;
}

void PagerRecord::CopyFlagsFrom(const PagerRecord& other) {
  changedFlag_ = other.changedFlag_;
  deletedFlag_ = other.deletedFlag_;
  changeValue_ = other.changeValue_;
}

void PagerRecord::CopyFrom(const PagerRecord* other) {
  if (other == nullptr || other == this) return;
  SetDisplayName(other->displayName_.get());
  SetMailboxDN(other->mailboxDN_.get());
  SetServerDN(other->serverDN_.get());
  pin_ = other->pin_;
  deviceType_ = other->deviceType_;
  redirectionState_ = other->redirectionState_;
  extServicesState_ = other->extServicesState_;
  smimeEnabled_ = other->smimeEnabled_;
  calendarEnableState_ = other->calendarEnableState_;
  creationTime_ = other->creationTime_;
  SetOverrideSMTPAddr(other->overrideSMTPAddr_.get());
  otafmUserConfig_ = other->otafmUserConfig_;
  otafmConflictResolution_ = other->otafmConflictResolution_;
  otapimState_ = other->otapimState_;
  if (LurnumDiffers(other->lurnum_, sizeof other->lurnum_)) SetLurnum(other->lurnum_, sizeof other->lurnum_);
  serverConfigId_ = other->serverConfigId_;
  pendingServerConfigId_ = other->pendingServerConfigId_;
  for (int kind = 1; kind <= 3; ++kind) {
    if (std::memcmp(KeySlot(kind), other->KeySlot(kind), kKeySize) != 0) {
      SetEncryptionKey(kind, other->KeySlot(kind), kKeySize);
    }
  }
  itPolicy2Id_ = other->itPolicy2Id_;
  if (!IsEqualDeviceCapabilities(other->deviceCapabilities_.GetData(), other->deviceCapabilities_.GetSize())) {
    SetDeviceCapabilities(other->deviceCapabilities_.GetData(), static_cast<int>(other->deviceCapabilities_.GetSize()));
  }
  if (!IsEqualDataSourceId(other->dataSourceId_.GetData(), other->dataSourceId_.GetSize())) {
    SetDataSourceId(other->dataSourceId_.GetData(), static_cast<int>(other->dataSourceId_.GetSize()));
  }
  keyDate_ = other->keyDate_;
  SetServiceBookName(other->serviceBookName_);
  if (!IsEqualAckData(other->ackData_.GetData(), other->ackData_.GetSize())) {
    SetAckData(other->ackData_.GetData(), static_cast<int>(other->ackData_.GetSize()));
  }
  activationTime_ = other->activationTime_;
  SetRoutingInfo(other->routingInfo_.get());
  userDeleteStatus_ = other->userDeleteStatus_;
  SetPendingRoutingInfo(other->pendingRoutingInfo_.get());
  keyGenPassword_ = other->keyGenPassword_;
  keyGenExpiryTime_ = other->keyGenExpiryTime_;
  keyGenMaxAttempts_ = other->keyGenMaxAttempts_;
  keyGenNumAttempts_ = other->keyGenNumAttempts_;
  autoSignature_ = other->autoSignature_;
  redirectWhenInCradle_ = other->redirectWhenInCradle_;
  disableSentItems_ = other->disableSentItems_;
  autoKeyGenerate_ = other->autoKeyGenerate_;
  SetFilters(other->filters_);
  defaultFilterAction_ = other->defaultFilterAction_;
  globalResourceId_ = other->globalResourceId_;
  refIdGenerator_ = other->refIdGenerator_;
  disclaimerText_ = other->disclaimerText_;
  disclaimerTextPrepended_ = other->disclaimerTextPrepended_;
  richContentEnabled_ = other->richContentEnabled_;
  richContentInlineEnabled_ = other->richContentInlineEnabled_;
  richContentTrainingFileId_ = other->richContentTrainingFileId_;
  redirectFromSelectedFolders_ = other->redirectFromSelectedFolders_;
  numberOfSelectedFolders_ = other->numberOfSelectedFolders_;
  selectedFolderTime_ = other->selectedFolderTime_;
  if (!IsEqualUserCertificates(other->userCertificates_.GetData(), other->userCertificates_.GetSize())) {
    SetUserCertificates(other->userCertificates_.GetData(), static_cast<int>(other->userCertificates_.GetSize()));
  }
  if (!IsEqualUserPeerToPeerKey(other->userPeerToPeerKey_.GetData(), other->userPeerToPeerKey_.GetSize())) {
    SetUserPeerToPeerKey(other->userPeerToPeerKey_.GetData(), static_cast<int>(other->userPeerToPeerKey_.GetSize()));
  }
  SetMailStoreDisplayName(other->mailStoreDisplayName_);
  syncingPersonalFolders_ = other->syncingPersonalFolders_;
  disableRedirectRead_ = other->disableRedirectRead_;
  redirectFromSentItems_ = other->redirectFromSentItems_;
  deviceUserId_ = other->deviceUserId_;
  ByteBuffer own;
  if (certificateInfo_.Serialize(own) && !other->CertificateEquals(own)) {
    ByteBuffer theirs;
    other->SerializeCertificates(theirs);
    if (theirs.IsPresent()) {
      certificateInfo_.Load(theirs, other->mailboxSMTPAddr_.get());
    } else {
      // Loading nothing would keep the own requests: the other record has
      // none, so neither has this one now.
      certificateInfo_.Clear();
      certificateInfo_.SetUserName(other->mailboxSMTPAddr_.get());
    }
  }
}

bool PagerRecord::CertificateEquals(const ByteBuffer& blob) const {
  if (!blob.IsPresent()) return false;
  ByteBuffer own;
  return certificateInfo_.Serialize(own) && own.IsEqual(blob.GetData(), blob.GetSize());
}

bool PagerRecord::LoadCertificates(const ByteBuffer& blob) {
  return certificateInfo_.Load(blob, mailboxSMTPAddr_.get());
}

bool PagerRecord::AcceptCertificateAttachment(const char* attachmentName, unsigned length, const char* extensions) {
  certificateInfo_.SetAllowedExtensions(extensions);
  return certificateInfo_.AcceptAttachment(attachmentName, length);
}

bool PagerRecord::AcceptCertificateBlob(const char* attachmentName, const ByteBuffer& blob) {
  return blob.IsPresent() && certificateInfo_.AcceptAttachment(attachmentName, blob.GetSize()) &&
         certificateInfo_.StoreCertificate(blob.GetData(), blob.GetSize());
}

bool PagerRecord::AcceptCACertificate(const CertificateMessageFields& fields, const ByteBuffer& body) {
  return certificateInfo_.ScanIssueMessage(fields, body.GetData(), body.GetSize());
}

bool PagerRecord::GetCachedValueById(int id, CachedValue& out) const {
  out.ClearValue();
  // Byte fields: a new block of the field's size.
  auto bytes = [&out](const ByteBuffer& buffer, bool emptyIsNoValue) {
    if (buffer.GetSize() == 0) {
      out.type = emptyIsNoValue ? 0 : 204;
      return true;
    }
    out.SetBytes(buffer.GetData(), buffer.GetSize());
    out.type = out.length() != 0 ? 204 : 0;
    return out.length() != 0;
  };
  auto integer = [&out](int value) {
    out.type = 3;
    out.value = static_cast<std::uint32_t>(value);
    return true;
  };
  auto flag = [&out](std::uint8_t value) {
    out.type = 11;
    out.value = value;
    return true;
  };
  auto time = [&out](std::int64_t value) {
    out.type = 205;
    out.value = value;
    return true;
  };
  auto narrow = [&out](const char* text) {
    out.type = 200;
    out.text = zev::ZEVString(text);
    return true;
  };
  switch (id) {
    case 1:
      out.type = 200;
      out.text = pin_;
      return true;
    case 2:
      return flag(redirectionState_);
    case 3:
      return flag(extServicesState_);
    case 4:
      return integer(calendarEnableState_);
    case 5:
      return integer(otafmUserConfig_);
    case 6:
      return integer(otapimState_);
    case 7:
      return integer(deviceType_);
    case 8:
      return bytes(deviceCapabilities_, true);
    case 9:
      return bytes(ackData_, true);
    case 10:
      return narrow(overrideSMTPAddr_.get());
    case 11: {
      const std::uint8_t* slot = KeySlot(out.keyKind);
      if (slot == nullptr) break;
      out.SetBytes(slot, kKeySize);
      out.type = out.length() != 0 ? 204 : 0;
      return out.length() != 0;
    }
    case 12:
      return time(keyDate_);
    case 13:
      return time(activationTime_);
    case 14:
      return narrow(routingInfo_.get());
    case 15:
      return bytes(dataSourceId_, true);
    case 16:
      out.type = 202;
      out.text = serviceBookName_;
      return true;
    case 17:
      return flag(redirectWhenInCradle_);
    case 18:
      return flag(disableSentItems_);
    case 19:
      out.type = 130;
      out.text = autoSignature_;
      return true;
    case 20:
      return flag(defaultFilterAction_);
    case 21:
      return flag(autoKeyGenerate_);
    case 22:
      out.type = 130;
      out.text = filters_;
      return true;
    case 23:
      return flag(smimeEnabled_);
    case 24:
      return integer(refIdGenerator_);
    case 25:
      out.type = 204;
      return true;
    case 29:
      return flag(redirectFromSelectedFolders_);
    case 30:
      return integer(numberOfSelectedFolders_);
    case 31:
      return integer(selectedFolderTime_);
    case 32:
      return bytes(userCertificates_, false);
    case 33:
      return bytes(userPeerToPeerKey_, false);
    case 34:
      return integer(otafmConflictResolution_);
    case 35:
      out.type = 202;
      out.text = mailStoreDisplayName_;
      return true;
    case 36:
      return flag(syncingPersonalFolders_);
    case 37:
      return flag(disableRedirectRead_);
    case 38:
      return flag(redirectFromSentItems_);
    case 39:
      return integer(deviceUserId_);
    default:
      break;
  }
  out.type = 0;
  return false;
}
