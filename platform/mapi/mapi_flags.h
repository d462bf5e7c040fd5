// Flags and enumerated values of the messaging interface
// (platform/mapi/mapi.h), with the values of the system's home platform:
// call flags, object and display types, table bookmarks and sort orders,
// restriction kinds and relations, resolution outcomes, notification events
// and the store-administration flags.
//
// Plain constants; any thread.
#pragma once

#include "platform/mapi/mapi_types.h"

// Initialisation.
inline constexpr ULONG MAPI_INIT_VERSION = 0;
inline constexpr ULONG MAPI_MULTITHREAD_NOTIFICATIONS = 0x00000001;
inline constexpr ULONG MAPI_NO_COINIT = 0x00000008;
inline constexpr ULONG MAPI_NT_SERVICE = 0x00010000;

// Logon.
inline constexpr ULONG MAPI_LOGON_UI = 0x00000001;
inline constexpr ULONG MAPI_NEW_SESSION = 0x00000002;
inline constexpr ULONG MAPI_ALLOW_OTHERS = 0x00000008;
inline constexpr ULONG MAPI_EXPLICIT_PROFILE = 0x00000010;
inline constexpr ULONG MAPI_EXTENDED = 0x00000020;
inline constexpr ULONG MAPI_USE_DEFAULT = 0x00000040;
inline constexpr ULONG MAPI_FORCE_DOWNLOAD = 0x00001000;
inline constexpr ULONG MAPI_SERVICE_UI_ALWAYS = 0x00002000;
inline constexpr ULONG MAPI_NO_MAIL = 0x00008000;
inline constexpr ULONG MAPI_PASSWORD_UI = 0x00020000;

// Common call flags.
inline constexpr ULONG MAPI_MODIFY = 0x00000001;
inline constexpr ULONG MAPI_CREATE = 0x00000002;
inline constexpr ULONG MAPI_DEFERRED_ERRORS = 0x00000008;
inline constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
inline constexpr ULONG MAPI_DIALOG = 0x00000008;
inline constexpr ULONG MAPI_UNICODE = 0x80000000;

// Opening a message store.
inline constexpr ULONG MDB_NO_DIALOG = 0x00000001;
inline constexpr ULONG MDB_WRITE = 0x00000004;
inline constexpr ULONG MDB_TEMPORARY = 0x00000020;
inline constexpr ULONG MDB_NO_MAIL = 0x00000080;
inline constexpr ULONG MDB_ONLINE = 0x00000100;

// Opening the address book.
inline constexpr ULONG AB_NO_DIALOG = 0x00000001;

// SaveChanges.
inline constexpr ULONG KEEP_OPEN_READONLY = 0x00000001;
inline constexpr ULONG KEEP_OPEN_READWRITE = 0x00000002;
inline constexpr ULONG FORCE_SAVE = 0x00000004;

// Folders.
inline constexpr ULONG FOLDER_ROOT = 0;
inline constexpr ULONG FOLDER_GENERIC = 1;
inline constexpr ULONG FOLDER_SEARCH = 2;
inline constexpr ULONG OPEN_IF_EXISTS = 0x00000001;
inline constexpr ULONG FOLDER_DIALOG = 0x00000002;
inline constexpr ULONG DEL_FOLDERS = 0x00000004;
inline constexpr ULONG DEL_MESSAGES = 0x00000008;

// Hierarchy tables.
inline constexpr ULONG CONVENIENT_DEPTH = 0x00000001;

// Object types (PR_OBJECT_TYPE, and the type OpenEntry reports).
inline constexpr ULONG MAPI_STORE = 0x00000001;
inline constexpr ULONG MAPI_ADDRBOOK = 0x00000002;
inline constexpr ULONG MAPI_FOLDER = 0x00000003;
inline constexpr ULONG MAPI_ABCONT = 0x00000004;
inline constexpr ULONG MAPI_MESSAGE = 0x00000005;
inline constexpr ULONG MAPI_MAILUSER = 0x00000006;
inline constexpr ULONG MAPI_DISTLIST = 0x00000008;
inline constexpr ULONG MAPI_SESSION = 0x0000000B;

// Display types (PR_DISPLAY_TYPE) of recipients and containers.
inline constexpr ULONG DT_MAILUSER = 0x00000000;
inline constexpr ULONG DT_DISTLIST = 0x00000001;
inline constexpr ULONG DT_GLOBAL = 0x00020000;
inline constexpr ULONG DT_NOT_SPECIFIC = 0x00050000;
inline constexpr ULONG DT_CONTAINER = 0x00000100;

// Container flags (PR_CONTAINER_FLAGS).
inline constexpr ULONG AB_RECIPIENTS = 0x00000001;
inline constexpr ULONG AB_SUBCONTAINERS = 0x00000002;
inline constexpr ULONG AB_UNMODIFIABLE = 0x00000008;

// Tables.
inline constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
inline constexpr BOOKMARK BOOKMARK_CURRENT = 1;
inline constexpr BOOKMARK BOOKMARK_END = 2;
inline constexpr ULONG TBL_ASYNC = 0x00000001;
inline constexpr ULONG TBL_BATCH = 0x00000002;
inline constexpr ULONG TBL_NOADVANCE = 0x00000001;
inline constexpr ULONG TABLE_SORT_ASCEND = 0x00000000;
inline constexpr ULONG TABLE_SORT_DESCEND = 0x00000001;

// Restriction kinds (SRestriction::rt) and relations.
inline constexpr ULONG RES_AND = 0x00000000;
inline constexpr ULONG RES_OR = 0x00000001;
inline constexpr ULONG RES_NOT = 0x00000002;
inline constexpr ULONG RES_PROPERTY = 0x00000004;
inline constexpr ULONG RES_EXIST = 0x00000008;
inline constexpr ULONG RELOP_LT = 0;
inline constexpr ULONG RELOP_LE = 1;
inline constexpr ULONG RELOP_GT = 2;
inline constexpr ULONG RELOP_GE = 3;
inline constexpr ULONG RELOP_EQ = 4;
inline constexpr ULONG RELOP_NE = 5;

// Recipients and their resolution.
inline constexpr ULONG MAPI_TO = 1;
inline constexpr ULONG MAPI_CC = 2;
inline constexpr ULONG MAPI_BCC = 3;
inline constexpr ULONG MAPI_UNRESOLVED = 0;
inline constexpr ULONG MAPI_AMBIGUOUS = 1;
inline constexpr ULONG MAPI_RESOLVED = 2;
inline constexpr ULONG EMS_AB_ADDRESS_LOOKUP = 0x00000001;

// Notification events.
inline constexpr ULONG fnevCriticalError = 0x00000001;
inline constexpr ULONG fnevNewMail = 0x00000002;
inline constexpr ULONG fnevObjectCreated = 0x00000004;
inline constexpr ULONG fnevObjectDeleted = 0x00000008;
inline constexpr ULONG fnevObjectModified = 0x00000010;
inline constexpr ULONG fnevObjectMoved = 0x00000020;
inline constexpr ULONG fnevObjectCopied = 0x00000040;
inline constexpr ULONG fnevTableModified = 0x00000100;

// Store administration (IExchangeManageStore::CreateStoreEntryID).
inline constexpr ULONG OPENSTORE_USE_ADMIN_PRIVILEGE = 0x00000001;
inline constexpr ULONG OPENSTORE_PUBLIC = 0x00000002;
inline constexpr ULONG OPENSTORE_HOME_LOGON = 0x00000004;
inline constexpr ULONG OPENSTORE_TAKE_OWNERSHIP = 0x00000008;
inline constexpr ULONG OPENSTORE_OVERRIDE_HOME_MDB = 0x00000010;

// Streams.
inline constexpr DWORD STREAM_SEEK_SET = 0;
inline constexpr DWORD STREAM_SEEK_CUR = 1;
inline constexpr DWORD STREAM_SEEK_END = 2;

// Extended errors.
inline constexpr ULONG MAPI_ERROR_VERSION = 0;
