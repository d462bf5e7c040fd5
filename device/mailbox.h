// Mailbox routines of the device object: the holder that logs and frees a
// MAPI extended error, and the routines that open a store's root folder,
// find, create and delete the hidden folder that holds a user's device
// information, and create its messages.
//
// Each routine returns an HRESULT and passes the extended error of a
// failing MAPI call (its object's GetLastError) to LogAndFreeMapiError,
// which logs it at level 4 as message 40720. Entry ids are handed out as
// byte vectors the caller owns.
//
// Thread safety: the routines keep no state; any thread may call them with
// objects it may use (see platform/mapi/mapi.h).
#pragma once

#include <vector>

#include "platform/mapi/mapi.h"

// The display name of the folder under a store's root that holds the two
// device information messages, and the classes of those messages.
inline constexpr char kHandheldInfoFolderName[] = "QuorrelHandheldInfo";
inline constexpr char kHandheldConfigClass[] = "ZEV.Quorrel.Handheld.Config";
inline constexpr char kHandheldStatsClass[] = "ZEV.Quorrel.Handheld.Stats";

// Logs `*error` as message 40720 (event 0x6FFF9F10, level 4) when
// `fetchResult` is 0 (the GetLastError that filled it succeeded), then, in
// every case, frees a present error and sets the pointer to null. Callers
// pass E_FAIL when fetching the error failed, so that it is only freed.
void LogAndFreeMapiError(HRESULT fetchResult, MAPIERROR** error);

// Fetches the extended error of `object`'s failed call that returned
// `result` and hands it to LogAndFreeMapiError. `Object` is any interface
// with GetLastError (property objects, tables).
template <class Object>
void LogLastMapiError(Object* object, HRESULT result) {
  if (object == nullptr) return;
  MAPIERROR* error = nullptr;
  const HRESULT fetched = object->GetLastError(result, 0, &error);
  LogAndFreeMapiError(fetched == S_OK ? S_OK : E_FAIL, &error);
}

// Opens the root folder of `store` with the best access it grants; the
// folder is handed over in `*root`. MAPI_E_CORRUPT_DATA when the root is
// not a folder.
HRESULT OpenRootFolder(IMsgStore* store, IMAPIFolder** root);

// Finds the subfolder of `parent` whose display name is `name` (ignoring
// case) and opens it for writing into `*folder`. When there is none: with
// `create`, creates it; without, MAPI_E_NOT_FOUND.
HRESULT OpenOrCreateFolder(IMAPIFolder* parent, const char* name, bool create, IMAPIFolder** folder);

// Deletes the subfolder `name` of `parent` with everything in it; success
// also when there is no such folder. E_FAIL without a parent.
HRESULT DeleteFolderByName(IMAPIFolder* parent, const char* name);

// Creates a message in `folder`, of class `messageClass` when one is given.
// With `message` the new, unsaved message is handed over there and
// `entryId` is left empty; without, the message is saved, its entry id
// stored in `*entryId`, and it is released. E_FAIL without a folder.
HRESULT CreateMessageOfClass(IMAPIFolder* folder, const char* messageClass, std::vector<BYTE>* entryId,
                             IMessage** message = nullptr);

// Saves `message` (forcing the save) and stores its entry id in `*entryId`.
HRESULT SaveMessageAndGetEntryId(IMessage* message, std::vector<BYTE>* entryId);
