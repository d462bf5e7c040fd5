// The object interfaces of the messaging interface (platform/mapi/mapi.h):
// session, tables, property objects, message stores, folders, messages,
// the address book with its containers and mail users, streams, advise
// sinks and store administration.
//
// Every object is reference counted (platform/com/unknown.h): the caller
// owns the reference an out parameter hands over and drops it with Release.
// QueryInterface answers the object's own interface and those it derives
// from; a message store also answers IExchangeManageStore. Results are
// HRESULTs (platform/mapi/mapi_codes.h); buffers handed out are allocated
// with MAPIAllocateBuffer and freed by the caller with MAPIFreeBuffer (row
// sets with FreeProws). After a failure, GetLastError(hr) on the same object
// describes it.
//
// What each call does here is described in platform/mapi/mapi.h.
//
// Thread safety: an object may be used from any thread; the calls on the
// objects of one session run one at a time. An advise sink is called on the
// session's dispatcher thread (see mapi.h).
#pragma once

#include "platform/com/unknown.h"
#include "platform/mapi/mapi_types.h"

struct IMAPITable;
struct IMessage;
struct IMAPIFolder;
struct IMsgStore;
struct IAddrBook;
struct IMAPIAdviseSink;
struct IMAPIProgress;  // progress display: not offered, always null here

using LPMAPITABLE = IMAPITable*;
using LPMESSAGE = IMessage*;
using LPMAPIFOLDER = IMAPIFolder*;
using LPMDB = IMsgStore*;
using LPADRBOOK = IAddrBook*;
using LPMAPIADVISESINK = IMAPIAdviseSink*;
using LPMAPIPROGRESS = IMAPIProgress*;

// The receiver of notifications (implemented by the caller).
struct IMAPIAdviseSink : IUnknown {
  // {00020302-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00020302, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual ULONG OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) = 0;

 protected:
  ~IMAPIAdviseSink() = default;
};

// A read-only stream over one property value.
struct IStream : IUnknown {
  // {0000000C-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x0000000C, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
  virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                       ULARGE_INTEGER* plibNewPosition) = 0;

 protected:
  ~IStream() = default;
};
using LPSTREAM = IStream*;

struct IMAPITable : IUnknown {
  // {00020301-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00020301, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
  virtual HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) = 0;
  virtual HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) = 0;
  virtual HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) = 0;
  virtual HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) = 0;
  virtual HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) = 0;

 protected:
  ~IMAPITable() = default;
};

// An object with properties.
struct IMAPIProp : IUnknown {
  // {00020303-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00020303, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
  virtual HRESULT SaveChanges(ULONG ulFlags) = 0;
  virtual HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                           LPSPropValue* lppPropArray) = 0;
  virtual HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions,
                               ULONG ulFlags, LPUNKNOWN* lppUnk) = 0;
  virtual HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray,
                           LPSPropProblemArray* lppProblems) = 0;
  virtual HRESULT DeleteProps(LPSPropTagArray lpPropTagArray,
                              LPSPropProblemArray* lppProblems) = 0;

 protected:
  ~IMAPIProp() = default;
};
using LPMAPIPROP = IMAPIProp*;

// An object that holds other objects: a folder or an address-book container.
struct IMAPIContainer : IMAPIProp {
  // {0002030B-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x0002030B, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
  virtual HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
  virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                            ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;

 protected:
  ~IMAPIContainer() = default;
};
using LPMAPICONTAINER = IMAPIContainer*;

struct IMessage : IMAPIProp {
  // {00020307-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00020307, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

 protected:
  ~IMessage() = default;
};

struct IMAPIFolder : IMAPIContainer {
  // {0002030C-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x0002030C, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) = 0;
  virtual HRESULT CreateFolder(ULONG ulFolderType, LPTSTR lpszFolderName,
                               LPTSTR lpszFolderComment, LPCIID lpInterface, ULONG ulFlags,
                               LPMAPIFOLDER* lppFolder) = 0;
  virtual HRESULT DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR ulUIParam,
                               LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;

 protected:
  ~IMAPIFolder() = default;
};

struct IMsgStore : IMAPIProp {
  // {00020306-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00020306, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask,
                         LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) = 0;
  virtual HRESULT Unadvise(ULONG ulConnection) = 0;
  virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                            ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;

 protected:
  ~IMsgStore() = default;
};

struct IMailUser : IMAPIProp {
  // {0002030A-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x0002030A, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

 protected:
  ~IMailUser() = default;
};
using LPMAILUSER = IMailUser*;

struct IABContainer : IMAPIContainer {
  // {0002030D-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x0002030D, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT ResolveNames(LPSPropTagArray lpPropTagArray, ULONG ulFlags, LPADRLIST lpAdrList,
                               LPFlagList lpFlagList) = 0;

 protected:
  ~IABContainer() = default;
};
using LPABCONT = IABContainer*;

struct IAddrBook : IMAPIProp {
  // {00020309-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00020309, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                            ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
  virtual HRESULT ResolveName(ULONG_PTR ulUIParam, ULONG ulFlags, LPTSTR lpszNewEntryTitle,
                              LPADRLIST lpAdrList) = 0;
  virtual HRESULT PrepareRecips(ULONG ulFlags, LPSPropTagArray lpPropTagArray,
                                LPADRLIST lpRecipList) = 0;

 protected:
  ~IAddrBook() = default;
};

struct IMAPISession : IUnknown {
  // {00020300-0000-0000-C000-000000000046}
  static constexpr IID kInterfaceId = {0x00020300, 0x0000, 0x0000,
                                       {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
  virtual HRESULT GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
  virtual HRESULT OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID,
                               LPCIID lpInterface, ULONG ulFlags, LPMDB* lppMDB) = 0;
  virtual HRESULT OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags,
                                  LPADRBOOK* lppAdrBook) = 0;

 protected:
  ~IMAPISession() = default;
};
using LPMAPISESSION = IMAPISession*;

// Store administration: the entry identifier of any user's mailbox store.
struct IExchangeManageStore : IUnknown {
  // {559D10B0-A772-11CD-9BC8-00AA002FC45A}
  static constexpr IID kInterfaceId = {0x559D10B0, 0xA772, 0x11CD,
                                       {0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};
  virtual HRESULT CreateStoreEntryID(LPSTR lpszMsgStoreDN, LPSTR lpszMailboxDN, ULONG ulFlags,
                                     ULONG* lpcbEntryID, LPENTRYID* lppEntryID) = 0;

 protected:
  ~IExchangeManageStore() = default;
};
using LPEXCHANGEMANAGESTORE = IExchangeManageStore*;

inline constexpr IID IID_IMAPIAdviseSink = IMAPIAdviseSink::kInterfaceId;
inline constexpr IID IID_IStream = IStream::kInterfaceId;
inline constexpr IID IID_IMAPITable = IMAPITable::kInterfaceId;
inline constexpr IID IID_IMAPIProp = IMAPIProp::kInterfaceId;
inline constexpr IID IID_IMAPIContainer = IMAPIContainer::kInterfaceId;
inline constexpr IID IID_IMessage = IMessage::kInterfaceId;
inline constexpr IID IID_IMAPIFolder = IMAPIFolder::kInterfaceId;
inline constexpr IID IID_IMsgStore = IMsgStore::kInterfaceId;
inline constexpr IID IID_IMailUser = IMailUser::kInterfaceId;
inline constexpr IID IID_IABContainer = IABContainer::kInterfaceId;
inline constexpr IID IID_IAddrBook = IAddrBook::kInterfaceId;
inline constexpr IID IID_IMAPISession = IMAPISession::kInterfaceId;
inline constexpr IID IID_IExchangeManageStore = IExchangeManageStore::kInterfaceId;
