// The messaging interface: sessions over profiles, message stores with
// folders and messages, the address book with its containers and mail
// users, tables, notifications, and the memory and helper functions of the
// system's home platform. Include this header; it brings the layouts
// (mapi_types.h), codes (mapi_codes.h), flags (mapi_flags.h), property tags
// (mapi_tags.h) and interfaces (mapi_interfaces.h).
//
// Profiles. A profile is one SQLite file, "<name>.mapi", in the directory
// named by the environment variable MORVALE_MAPI_PROFILE_DIR, or, when that
// is unset or empty, $HOME/.morvale/mapi. The profile tool
// (morvale-mapi-profile, platform/mapi/profile_builder.h) builds one from a
// description of an organisation. The file "default-profile" in the same
// directory names the profile a logon without a name uses. A profile holds
// the organisation's address book and its message stores with their
// contents: every process and session that logs on to it shares them.
//
// Session. MAPIInitialize counts initialisations and MAPIUninitialize
// undoes one (a call without a matching initialisation, such as after a
// failed one, does nothing). MAPILogonEx opens the named profile, or the
// default one when no name is given (there is no logon dialog here), and
// fails with MAPI_E_LOGON_FAILED when it does not exist or is not a
// profile; before MAPIInitialize it fails with MAPI_E_NOT_INITIALIZED. The
// session's stores table lists the profile's default store
// (PR_DEFAULT_STORE true) and public store, with PR_ENTRYID, PR_DISPLAY_NAME
// and PR_OBJECT_TYPE; OpenMsgStore opens any store of the profile by its
// entry identifier (read-only unless MDB_WRITE or MAPI_BEST_ACCESS is
// given). A store answers QueryInterface for IExchangeManageStore, whose
// CreateStoreEntryID gives the entry identifier of a user's mailbox store
// from the mailbox's distinguished name (compared without regard to case;
// the server's store name is accepted and not needed here); OpenMsgStore
// then fails with MAPI_E_NOT_FOUND when the profile holds no such mailbox.
//
// Stores, folders and messages. A store's OpenEntry without an entry
// identifier opens its root folder. Folders and messages keep typed
// properties; GetProps returns the asked tags in order, an absent one as a
// PT_ERROR value holding MAPI_E_NOT_FOUND (the call then returns
// MAPI_W_ERRORS_RETURNED), and the narrow and wide forms of a text property
// are two views of one value. A value whose data passes 32 KiB
// (kMapiLargeValueBytes) comes back from GetProps, tables and HrGetOneProp
// as a PT_ERROR value holding MAPI_E_NOT_ENOUGH_MEMORY and is read through
// OpenProperty, which gives a read-only IStream over a binary, narrow or wide
// value (a wide text as wchar_t units, no terminator). SetProps and
// DeleteProps change the handle's copy; SaveChanges writes the changes in
// one transaction and fails with MAPI_E_OBJECT_CHANGED, writing nothing,
// when another handle (of this or another process) saved the object since
// this handle opened it or last saved it, unless FORCE_SAVE is given. A save
// writes only the properties the handle changed, so a forced save never
// drops another writer's properties. A new message exists from its first
// save on. Computed properties (PR_ENTRYID, PR_OBJECT_TYPE,
// PR_PARENT_ENTRYID, PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME,
// PR_FOLDER_TYPE) cannot be set (problem MAPI_E_COMPUTED).
//
// Tables. Contents and hierarchy tables follow the profile: rows saved,
// created or deleted by anyone show at the table's next call (the position
// stays where it was); QueryRows reads forwards only.
// Restrictions: RES_AND, RES_OR, RES_NOT, RES_EXIST and RES_PROPERTY (text
// compared without regard to case); other kinds give MAPI_E_TOO_COMPLEX.
//
// Notifications. IMsgStore::Advise registers a sink for fnevObjectModified
// on a folder or message of the store. After every committed save of that
// object the sink's OnNotify is called once, on the session's dispatcher
// thread, with no lock of this library held. Saves through the same session
// notify at once; saves through other sessions or processes are noticed
// within kMapiNotificationPollMilliseconds (several such saves between two
// looks may come as one notification). Unadvise never waits for a callback
// in progress: one that had begun may still run after Unadvise returns (the
// sink stays referenced until it ends), and no callback for that
// registration begins afterwards. Unadvise releases the sink. Releasing a
// session's last object does not wait for a callback either.
//
// Address book. The root container (OpenEntry without an entry identifier)
// holds the profile's top containers in its hierarchy table (with
// CONVENIENT_DEPTH, every container below it, PR_DEPTH counting from 0);
// each container lists its mail users in its contents table. A mail user
// has PR_DISPLAY_NAME, PR_ADDRTYPE, PR_EMAIL_ADDRESS (its distinguished
// name), PR_SMTP_ADDRESS, PR_ACCOUNT (its alias), PR_EMS_AB_HOME_MDB,
// PR_EMS_AB_PROXY_ADDRESSES, PR_ENTRYID, PR_OBJECT_TYPE, PR_DISPLAY_TYPE and
// PR_SEND_RICH_INFO, each only when the description gave it. A name matches
// a mail user when it equals, without regard to case and after trimming
// blanks, the user's display name, alias, e-mail address or SMTP address;
// "[EX:address]" matches only the e-mail address. IAddrBook::ResolveName
// resolves each unresolved entry of an address list by its PR_DISPLAY_NAME
// (or PR_DISPLAY_NAME_W) over the whole address book: one match replaces
// the entry's values with the user's (PR_ADDRTYPE, PR_DISPLAY_NAME,
// PR_EMAIL_ADDRESS, PR_ENTRYID, PR_OBJECT_TYPE, PR_DISPLAY_TYPE,
// PR_SEND_RICH_INFO, then the entry's other values), freeing the old array;
// the call fails with MAPI_E_AMBIGUOUS_RECIP when an entry matched several
// users, else with MAPI_E_NOT_FOUND when one matched none. A PR_ANR
// property restriction (RELOP_EQ) on a contents table keeps the users the
// value matches; both lookups use an index, not a scan.
// IABContainer::ResolveNames does the same within one container and reports
// through the flag list; PrepareRecips puts the asked properties of each
// entry's mail user first in the entry.
//
// Thread safety: every function may be called from any thread. Objects may
// be used from any thread; the calls on the objects of one session run one
// at a time. Buffers are the caller's and may be freed on any thread.
#pragma once

#include "platform/mapi/mapi_codes.h"
#include "platform/mapi/mapi_flags.h"
#include "platform/mapi/mapi_interfaces.h"
#include "platform/mapi/mapi_tags.h"
#include "platform/mapi/mapi_types.h"

// The largest value data, in bytes, that GetProps and tables hand back.
inline constexpr ULONG kMapiLargeValueBytes = 32 * 1024;
// How often a session with advise registrations looks for saves made by
// other sessions and processes.
inline constexpr ULONG kMapiNotificationPollMilliseconds = 100;
// The environment variable that names the profile directory.
inline constexpr char kMapiProfileDirVariable[] = "MORVALE_MAPI_PROFILE_DIR";

// Memory. A buffer from MAPIAllocateBuffer is freed with MAPIFreeBuffer,
// which also frees every buffer MAPIAllocateMore linked to it (MAPIFreeBuffer
// of a linked buffer itself does nothing). Blocks are aligned for any type.
SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG MAPIFreeBuffer(LPVOID lpBuffer);

// Releases an object given as IUnknown; 0 for null, else what Release
// returned.
ULONG UlRelease(LPVOID lpUnknown);

// Frees a row set and each row's values; null does nothing.
void FreeProws(LPSRowSet lpRows);
// Frees an address list and each entry's values; null does nothing.
void FreePadrlist(LPADRLIST lpAdrList);

// Session.
HRESULT MAPIInitialize(LPVOID lpMapiInit);
void MAPIUninitialize();
// `lpszProfileName` and `lpszPassword` are wide text under MAPI_UNICODE; the
// password is not used.
HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword,
                    ULONG flFlags, LPMAPISESSION* lppSession);

// Every row of `lpTable` with the given columns, restriction and sort order
// (each optional), from the first; MAPI_E_TABLE_TOO_BIG when crowsMax is
// not 0 and more rows would come.
HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                       LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                       LONG crowsMax, LPSRowSet* lppRows);

// Copies `cValues` values and everything they point to into one block
// allocated with `lpAllocateBuffer`.
SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                   LPSPropValue* lppPropArray);

// One property of an object: the value in a buffer of its own (free it with
// MAPIFreeBuffer), or the error GetProps reported for it (the output is
// then null).
HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp);
// Sets one property of an object; the problem SetProps reported, if any.
HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);
