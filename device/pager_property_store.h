// PagerPropertyStore: the in-memory copy of one hidden device information
// message of a user's mailbox, over a fixed list of property tags.
//
// A store is bound to a message by Attach (the folder that holds it, its
// entry id and the tag list) and loaded at once. Typed reads and writes work
// on the copy only: a read finds a value when the tag is in the list and
// the message held that property (an absent or unreadable property reads as
// not found, its output cleared); a write stores a deep copy and marks the
// value changed unless it equals the stored one. Save writes the changed
// values to the message in one SetProps and SaveChanges, reopening the
// message and writing them again when someone else saved it in between (up
// to 10 tries); values of a failed save stay changed for the next one. Load
// re-reads the message and keeps every change not yet saved. A value's
// position in the tag list is its index, the number Save reports.
//
// HandheldConfigTags and HandheldStatsTags are the tag lists of the
// configuration message ("ZEV.Quorrel.Handheld.Config") and the statistics
// message ("ZEV.Quorrel.Handheld.Stats").
//
// Failures are results: reads and writes return false (a tag outside the
// list or of another type than the operation's, a null output, no memory),
// Load and Save an HRESULT (E_FAIL without a message or memory). After a
// failed MAPI call the store keeps the failing object's extended error for
// TakeLastError. Nothing throws.
//
// Thread safety: any operation from any thread. Two locks: the value lock
// guards the values, the changed set and the tag map and is the only lock
// reads and writes take; the message lock guards the folder, message, entry
// id and last error and is held around every MAPI call. Attach and Clear
// hold both, the value lock first; Load and Save never hold both at once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/critical_section.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi.h"

// The tags of the configuration message (102) and of the statistics
// message (11), in value-index order.
const SPropTagArray* HandheldConfigTags();
const SPropTagArray* HandheldStatsTags();

class PagerPropertyStore {
 public:
  PagerPropertyStore() = default;
  ~PagerPropertyStore();
  PagerPropertyStore(const PagerPropertyStore&) = delete;
  PagerPropertyStore& operator=(const PagerPropertyStore&) = delete;

  // Binds the store to message `entryId` of `folder` with tag list `tags`
  // (copied) and loads it. False, with the store emptied (the last error
  // kept), for a null argument, an empty entry id or a failed load.
  bool Attach(IMAPIFolder* folder, const BYTE* entryId, ULONG entryIdSize, const SPropTagArray* tags);
  // Opens the message again and re-reads every value; on failure the
  // previous values stay.
  HRESULT Load();
  // Writes the changed values. S_OK also when nothing was changed (then
  // `savedIndices` is left as it was); on success `savedIndices` gets the
  // indices written. `totalSize` gets their data size in bytes (0 when
  // nothing was written).
  HRESULT Save(std::set<ULONG>* savedIndices = nullptr, std::uint64_t* totalSize = nullptr);
  // Frees the values and changes, releases message and folder, forgets the
  // entry id, the tag list and the last error.
  void Clear();
  // Hands over the extended error of the last failed MAPI call (the caller
  // frees it with MAPIFreeBuffer); false when there is none.
  bool TakeLastError(MAPIERROR** error);
  // A copy of the message's entry id; false when the store holds none.
  bool GetEntryId(std::vector<BYTE>* entryId);

  // Reads. A buffer read clears the buffer first (GetString to "",
  // GetBinary to zeros with *size 0) and succeeds only when the value fits
  // with its terminator.
  bool GetString(ULONG tag, char* buffer, ULONG size);
  bool GetWideString(ULONG tag, wchar_t* buffer, ULONG count);
  // 0 when not found.
  bool GetLong(ULONG tag, std::int32_t* value);
  // Output untouched when not found.
  bool GetBool(ULONG tag, bool* value);
  bool GetBinarySize(ULONG tag, std::uint32_t* size);
  // `*size` is the buffer's size in; the block's size out on success.
  bool GetBinary(ULONG tag, BYTE* buffer, std::uint32_t* size);
  // Seconds since 1970; false (and 0) unless found and after 1970.
  bool GetTime(ULONG tag, std::int64_t* seconds);
  // The text's length plus 1 (characters for wide text); 1 for a null text.
  bool GetStringSize(ULONG tag, std::int32_t* size);
  // The elements in order; one empty element reads as the empty list.
  bool GetStringList(ULONG tag, std::vector<std::string>* list);

  // Writes; true when the value is now stored, also when it was equal.
  bool SetString(ULONG tag, const char* text);        // null stores ""
  bool SetWideString(ULONG tag, const wchar_t* text); // null stores L""
  bool SetLong(ULONG tag, std::int32_t value);
  bool SetBool(ULONG tag, bool value);  // 1 or 0
  bool SetBinary(ULONG tag, const BYTE* bytes, std::uint32_t count);
  bool SetTime(ULONG tag, std::int64_t seconds);
  // The empty list is stored as one empty element; the same strings in
  // another order count as equal and are not written again.
  bool SetStringList(ULONG tag, const std::vector<std::string>& list);
  // Stores the value plus 1 (1 when not found) and returns it in
  // `*newValue`.
  bool Increment(ULONG tag, std::int32_t* newValue = nullptr);
  // Forgets the value and its change, and deletes it from the message (no
  // result; a failure there is not kept).
  void DeleteProperty(ULONG tag);

 private:
  struct FreeDeleter {
    void operator()(void* block) const;
  };
  using TagList = std::unique_ptr<SPropTagArray, FreeDeleter>;

  // Stores a copy of `value` under the value lock (the common rule of every
  // write).
  bool WriteValue(const SPropValue& value);
  // Both under the value lock.
  const SPropValue* Find(ULONG tag, ULONG type) const;
  bool StoreValue(const SPropValue& value);
  // Under the message lock.
  HRESULT OpenMessage();
  HRESULT WriteToMessage(SPropValue* values, ULONG count);
  HRESULT ReadValues(SPropValue* values);
  HRESULT ReadOneValue(ULONG tag, SPropValue* value);
  void FreeLastError();
  template <class Object>
  void RecordLastError(Object* object, HRESULT result);
  // Under both locks.
  void ClearHeld(bool keepLastError);

  // Message lock (taken after the value lock when both are held).
  CriticalSection messageLock_;
  _com_ptr_t<IMAPIFolder> folder_;
  _com_ptr_t<IMessage> message_;
  std::vector<BYTE> entryId_;
  MAPIERROR* lastError_ = nullptr;
  // Read under either lock, written under both.
  TagList tags_;
  TagList singleValuedTags_;

  // Value lock.
  CriticalSection valueLock_;
  SPropValue* values_ = nullptr;
  ULONG valueCount_ = 0;
  std::set<ULONG> changed_;
  std::map<ULONG, ULONG> tagMap_;
};
