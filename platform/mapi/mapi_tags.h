// Property tags of the messaging interface (platform/mapi/mapi.h) that the
// system reads and writes, with the values of the system's home platform:
// identifier in the high 16 bits, type in the low 16. A text property comes
// in a narrow (_A, PT_STRING8) and a wide (_W, PT_UNICODE) form of one
// identifier; the plain name is the narrow form.
//
// Plain constants; any thread.
#pragma once

#include "platform/mapi/mapi_types.h"

inline constexpr ULONG PR_NULL = PROP_TAG(PT_NULL, 0x0000);

// Every object.
inline constexpr ULONG PR_ENTRYID = PROP_TAG(PT_BINARY, 0x0FFF);
inline constexpr ULONG PR_OBJECT_TYPE = PROP_TAG(PT_LONG, 0x0FFE);
inline constexpr ULONG PR_PARENT_ENTRYID = PROP_TAG(PT_BINARY, 0x0E09);
inline constexpr ULONG PR_DISPLAY_NAME_A = PROP_TAG(PT_STRING8, 0x3001);
inline constexpr ULONG PR_DISPLAY_NAME_W = PROP_TAG(PT_UNICODE, 0x3001);
inline constexpr ULONG PR_DISPLAY_NAME = PR_DISPLAY_NAME_A;
inline constexpr ULONG PR_COMMENT_A = PROP_TAG(PT_STRING8, 0x3004);
inline constexpr ULONG PR_COMMENT_W = PROP_TAG(PT_UNICODE, 0x3004);
inline constexpr ULONG PR_COMMENT = PR_COMMENT_A;
inline constexpr ULONG PR_DEPTH = PROP_TAG(PT_LONG, 0x3005);
inline constexpr ULONG PR_CREATION_TIME = PROP_TAG(PT_SYSTIME, 0x3007);
inline constexpr ULONG PR_LAST_MODIFICATION_TIME = PROP_TAG(PT_SYSTIME, 0x3008);

// Messages and folders.
inline constexpr ULONG PR_MESSAGE_CLASS_A = PROP_TAG(PT_STRING8, 0x001A);
inline constexpr ULONG PR_MESSAGE_CLASS_W = PROP_TAG(PT_UNICODE, 0x001A);
inline constexpr ULONG PR_MESSAGE_CLASS = PR_MESSAGE_CLASS_A;
inline constexpr ULONG PR_FOLDER_TYPE = PROP_TAG(PT_LONG, 0x3601);

// Message stores.
inline constexpr ULONG PR_DEFAULT_STORE = PROP_TAG(PT_BOOLEAN, 0x3400);
inline constexpr ULONG PR_TEST_LINE_SPEED = PROP_TAG(PT_BINARY, 0x662B);

// Recipients and address-book entries.
inline constexpr ULONG PR_RECIPIENT_TYPE = PROP_TAG(PT_LONG, 0x0C15);
inline constexpr ULONG PR_ADDRTYPE_A = PROP_TAG(PT_STRING8, 0x3002);
inline constexpr ULONG PR_ADDRTYPE_W = PROP_TAG(PT_UNICODE, 0x3002);
inline constexpr ULONG PR_ADDRTYPE = PR_ADDRTYPE_A;
inline constexpr ULONG PR_EMAIL_ADDRESS_A = PROP_TAG(PT_STRING8, 0x3003);
inline constexpr ULONG PR_EMAIL_ADDRESS_W = PROP_TAG(PT_UNICODE, 0x3003);
inline constexpr ULONG PR_EMAIL_ADDRESS = PR_EMAIL_ADDRESS_A;
inline constexpr ULONG PR_DISPLAY_TYPE = PROP_TAG(PT_LONG, 0x3900);
inline constexpr ULONG PR_SMTP_ADDRESS_A = PROP_TAG(PT_STRING8, 0x39FE);
inline constexpr ULONG PR_SMTP_ADDRESS_W = PROP_TAG(PT_UNICODE, 0x39FE);
inline constexpr ULONG PR_SMTP_ADDRESS = PR_SMTP_ADDRESS_A;
inline constexpr ULONG PR_ACCOUNT_A = PROP_TAG(PT_STRING8, 0x3A00);
inline constexpr ULONG PR_ACCOUNT_W = PROP_TAG(PT_UNICODE, 0x3A00);
inline constexpr ULONG PR_ACCOUNT = PR_ACCOUNT_A;
inline constexpr ULONG PR_SEND_RICH_INFO = PROP_TAG(PT_BOOLEAN, 0x3A40);
inline constexpr ULONG PR_EMS_AB_HOME_MDB_A = PROP_TAG(PT_STRING8, 0x8006);
inline constexpr ULONG PR_EMS_AB_HOME_MDB_W = PROP_TAG(PT_UNICODE, 0x8006);
inline constexpr ULONG PR_EMS_AB_HOME_MDB = PR_EMS_AB_HOME_MDB_A;
inline constexpr ULONG PR_EMS_AB_PROXY_ADDRESSES_A = PROP_TAG(PT_MV_STRING8, 0x800F);
inline constexpr ULONG PR_EMS_AB_PROXY_ADDRESSES_W = PROP_TAG(PT_MV_UNICODE, 0x800F);
inline constexpr ULONG PR_EMS_AB_PROXY_ADDRESSES = PR_EMS_AB_PROXY_ADDRESSES_A;

// Address-book containers.
inline constexpr ULONG PR_CONTAINER_FLAGS = PROP_TAG(PT_LONG, 0x3600);
inline constexpr ULONG PR_AB_PROVIDER_ID = PROP_TAG(PT_BINARY, 0x3615);
inline constexpr ULONG PR_EMS_AB_CONTAINERID = PROP_TAG(PT_LONG, 0xFFFD);

// Ambiguous name resolution: a restriction on this tag matches the entries
// whose name or address the value names (platform/mapi/mapi.h).
inline constexpr ULONG PR_ANR_A = PROP_TAG(PT_STRING8, 0x360C);
inline constexpr ULONG PR_ANR_W = PROP_TAG(PT_UNICODE, 0x360C);
inline constexpr ULONG PR_ANR = PR_ANR_A;
