// Results of the messaging interface (platform/mapi/mapi.h): its error and
// warning codes, with the values of the system's home platform, since
// results are printed and compared numerically. The generic codes are the
// component model's (platform/com/hresult.h) under their messaging names.
//
// Plain constants; any thread.
#pragma once

#include "platform/com/hresult.h"

// Generic.
inline constexpr HRESULT MAPI_E_CALL_FAILED = E_FAIL;
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = E_OUTOFMEMORY;
inline constexpr HRESULT MAPI_E_INVALID_PARAMETER = E_INVALIDARG;
inline constexpr HRESULT MAPI_E_INTERFACE_NOT_SUPPORTED = E_NOINTERFACE;
inline constexpr HRESULT MAPI_E_NO_ACCESS = E_ACCESSDENIED;

inline constexpr HRESULT MAPI_E_NO_SUPPORT = HResultFromBits(0x80040102u);
inline constexpr HRESULT MAPI_E_BAD_CHARWIDTH = HResultFromBits(0x80040103u);
inline constexpr HRESULT MAPI_E_STRING_TOO_LONG = HResultFromBits(0x80040105u);
inline constexpr HRESULT MAPI_E_UNKNOWN_FLAGS = HResultFromBits(0x80040106u);
inline constexpr HRESULT MAPI_E_INVALID_ENTRYID = HResultFromBits(0x80040107u);
inline constexpr HRESULT MAPI_E_INVALID_OBJECT = HResultFromBits(0x80040108u);
inline constexpr HRESULT MAPI_E_OBJECT_CHANGED = HResultFromBits(0x80040109u);
inline constexpr HRESULT MAPI_E_OBJECT_DELETED = HResultFromBits(0x8004010Au);
inline constexpr HRESULT MAPI_E_BUSY = HResultFromBits(0x8004010Bu);
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_DISK = HResultFromBits(0x8004010Du);
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_RESOURCES = HResultFromBits(0x8004010Eu);
inline constexpr HRESULT MAPI_E_NOT_FOUND = HResultFromBits(0x8004010Fu);
inline constexpr HRESULT MAPI_E_VERSION = HResultFromBits(0x80040110u);
inline constexpr HRESULT MAPI_E_LOGON_FAILED = HResultFromBits(0x80040111u);
inline constexpr HRESULT MAPI_E_TOO_COMPLEX = HResultFromBits(0x80040117u);
inline constexpr HRESULT MAPI_E_BAD_COLUMN = HResultFromBits(0x80040118u);
inline constexpr HRESULT MAPI_E_COMPUTED = HResultFromBits(0x8004011Au);
inline constexpr HRESULT MAPI_E_CORRUPT_DATA = HResultFromBits(0x8004011Bu);
inline constexpr HRESULT MAPI_E_DISK_ERROR = HResultFromBits(0x80040116u);

// Address book.
inline constexpr HRESULT MAPI_E_UNKNOWN_ENTRYID = HResultFromBits(0x80040201u);

// Properties.
inline constexpr HRESULT MAPI_E_INVALID_TYPE = HResultFromBits(0x80040302u);

// Tables.
inline constexpr HRESULT MAPI_E_TABLE_TOO_BIG = HResultFromBits(0x80040403u);
inline constexpr HRESULT MAPI_E_INVALID_BOOKMARK = HResultFromBits(0x80040405u);

// Stores, sessions and folders.
inline constexpr HRESULT MAPI_E_CORRUPT_STORE = HResultFromBits(0x80040600u);
inline constexpr HRESULT MAPI_E_COLLISION = HResultFromBits(0x80040604u);
inline constexpr HRESULT MAPI_E_NOT_INITIALIZED = HResultFromBits(0x80040605u);
inline constexpr HRESULT MAPI_E_HAS_FOLDERS = HResultFromBits(0x80040609u);
inline constexpr HRESULT MAPI_E_HAS_MESSAGES = HResultFromBits(0x8004060Au);

// Recipients.
inline constexpr HRESULT MAPI_E_AMBIGUOUS_RECIP = HResultFromBits(0x80040700u);

// Warnings: the call did its work, with the reservation named.
inline constexpr HRESULT MAPI_W_ERRORS_RETURNED = HResultFromBits(0x00040380u);

// Streams.
inline constexpr HRESULT STG_E_INVALIDFUNCTION = HResultFromBits(0x80030001u);
inline constexpr HRESULT STG_E_INVALIDPOINTER = HResultFromBits(0x80030009u);
