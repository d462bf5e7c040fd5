// The data layouts of the messaging interface (platform/mapi/mapi.h):
// property tags and values, tag lists, entry identifiers, rows and row sets,
// address lists, flag lists, problem arrays, restrictions, sort orders,
// extended errors, the initialisation record and notifications.
//
// The layouts are those the system's code is written against, compiled for
// this 64-bit platform: integers keep their widths (ULONG is 32 bits),
// pointers are 8 bytes, and every size is taken with sizeof and offsetof
// (the CbNew* helpers below), never counted by hand. Structures that end in
// an array of variable length (tag lists, row sets, address lists, flag
// lists, problem arrays, sort-order sets, entry identifiers) declare one
// element and are allocated with the CbNew* size for the count they hold.
//
// A property tag holds the property's identifier in its high 16 bits and
// its type in the low 16 bits. Text here is narrow (char, in the ANSI code
// page) unless a call is given MAPI_UNICODE, when it is wide (wchar_t, one
// code point per character).
//
// Plain data and constant functions; any thread.
#pragma once

#include <cstddef>

#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/win32/time.h"
#include "platform/win32/types.h"

using LPVOID = void*;
using LPBYTE = BYTE*;
using LPSTR = char*;
using LPWSTR = wchar_t*;
using LPTSTR = char*;  // text of the narrow calls; wide under MAPI_UNICODE
using LPGUID = GUID*;
using LPCIID = const IID*;
using LPUNKNOWN = IUnknown*;
using FLAGS = ULONG;
using BOOKMARK = ULONG_PTR;
using CURRENCY = CY;

// Property types.
inline constexpr ULONG PT_UNSPECIFIED = 0x0000;
inline constexpr ULONG PT_NULL = 0x0001;
inline constexpr ULONG PT_I2 = 0x0002;
inline constexpr ULONG PT_LONG = 0x0003;
inline constexpr ULONG PT_R4 = 0x0004;
inline constexpr ULONG PT_DOUBLE = 0x0005;
inline constexpr ULONG PT_CURRENCY = 0x0006;
inline constexpr ULONG PT_APPTIME = 0x0007;
inline constexpr ULONG PT_ERROR = 0x000A;
inline constexpr ULONG PT_BOOLEAN = 0x000B;
inline constexpr ULONG PT_OBJECT = 0x000D;
inline constexpr ULONG PT_I8 = 0x0014;
inline constexpr ULONG PT_STRING8 = 0x001E;
inline constexpr ULONG PT_UNICODE = 0x001F;
inline constexpr ULONG PT_SYSTIME = 0x0040;
inline constexpr ULONG PT_CLSID = 0x0048;
inline constexpr ULONG PT_BINARY = 0x0102;
inline constexpr ULONG MV_FLAG = 0x1000;
inline constexpr ULONG PT_MV_I2 = MV_FLAG | PT_I2;
inline constexpr ULONG PT_MV_LONG = MV_FLAG | PT_LONG;
inline constexpr ULONG PT_MV_R4 = MV_FLAG | PT_R4;
inline constexpr ULONG PT_MV_DOUBLE = MV_FLAG | PT_DOUBLE;
inline constexpr ULONG PT_MV_CURRENCY = MV_FLAG | PT_CURRENCY;
inline constexpr ULONG PT_MV_APPTIME = MV_FLAG | PT_APPTIME;
inline constexpr ULONG PT_MV_I8 = MV_FLAG | PT_I8;
inline constexpr ULONG PT_MV_STRING8 = MV_FLAG | PT_STRING8;
inline constexpr ULONG PT_MV_UNICODE = MV_FLAG | PT_UNICODE;
inline constexpr ULONG PT_MV_SYSTIME = MV_FLAG | PT_SYSTIME;
inline constexpr ULONG PT_MV_CLSID = MV_FLAG | PT_CLSID;
inline constexpr ULONG PT_MV_BINARY = MV_FLAG | PT_BINARY;
inline constexpr ULONG PT_TSTRING = PT_STRING8;

constexpr ULONG PROP_TYPE(ULONG tag) { return tag & 0xFFFFu; }
constexpr ULONG PROP_ID(ULONG tag) { return tag >> 16; }
constexpr ULONG PROP_TAG(ULONG type, ULONG id) { return (id << 16) | (type & 0xFFFFu); }
constexpr ULONG CHANGE_PROP_TYPE(ULONG tag, ULONG type) {
  return (tag & 0xFFFF0000u) | (type & 0xFFFFu);
}

// Entry identifiers: four flag bytes, then the provider's own bytes.
struct ENTRYID {
  BYTE abFlags[4];
  BYTE ab[1];
};
using LPENTRYID = ENTRYID*;
constexpr std::size_t CbNewENTRYID(std::size_t cb) { return offsetof(ENTRYID, ab) + cb; }

struct MAPIUID {
  BYTE ab[16];
};

// Property values.
struct SBinary {
  ULONG cb;
  LPBYTE lpb;
};
struct SShortArray {
  ULONG cValues;
  short* lpi;
};
struct SLongArray {
  ULONG cValues;
  LONG* lpl;
};
struct SRealArray {
  ULONG cValues;
  float* lpflt;
};
struct SDoubleArray {
  ULONG cValues;
  double* lpdbl;
};
struct SCurrencyArray {
  ULONG cValues;
  CURRENCY* lpcur;
};
struct SAppTimeArray {
  ULONG cValues;
  double* lpat;
};
struct SDateTimeArray {
  ULONG cValues;
  FILETIME* lpft;
};
struct SBinaryArray {
  ULONG cValues;
  SBinary* lpbin;
};
struct SLPSTRArray {
  ULONG cValues;
  LPSTR* lppszA;
};
struct SWStringArray {
  ULONG cValues;
  LPWSTR* lppszW;
};
struct SGuidArray {
  ULONG cValues;
  GUID* lpguid;
};
struct SLargeIntegerArray {
  ULONG cValues;
  LARGE_INTEGER* lpli;
};

// The value of a property; the type in its tag says which member is live.
union PV {
  short i;                  // PT_I2
  LONG l;                   // PT_LONG
  ULONG ul;
  float flt;                // PT_R4
  double dbl;               // PT_DOUBLE
  unsigned short b;         // PT_BOOLEAN
  CURRENCY cur;             // PT_CURRENCY
  double at;                // PT_APPTIME
  FILETIME ft;              // PT_SYSTIME
  LPSTR lpszA;              // PT_STRING8
  SBinary bin;              // PT_BINARY
  LPWSTR lpszW;             // PT_UNICODE
  LPGUID lpguid;            // PT_CLSID
  LARGE_INTEGER li;         // PT_I8
  SShortArray MVi;          // PT_MV_I2
  SLongArray MVl;           // PT_MV_LONG
  SRealArray MVflt;         // PT_MV_R4
  SDoubleArray MVdbl;       // PT_MV_DOUBLE
  SCurrencyArray MVcur;     // PT_MV_CURRENCY
  SAppTimeArray MVat;       // PT_MV_APPTIME
  SDateTimeArray MVft;      // PT_MV_SYSTIME
  SBinaryArray MVbin;       // PT_MV_BINARY
  SLPSTRArray MVszA;        // PT_MV_STRING8
  SWStringArray MVszW;      // PT_MV_UNICODE
  SGuidArray MVguid;        // PT_MV_CLSID
  SLargeIntegerArray MVli;  // PT_MV_I8
  SCODE err;                // PT_ERROR
  LONG x;                   // PT_NULL, PT_OBJECT
};

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  PV Value;
};
using LPSPropValue = SPropValue*;

// A list of property tags.
struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
};
using LPSPropTagArray = SPropTagArray*;
constexpr std::size_t CbNewSPropTagArray(std::size_t count) {
  return offsetof(SPropTagArray, aulPropTag) + count * sizeof(ULONG);
}
// Declares `name`, a tag list of room for `count` tags laid out as an
// SPropTagArray: pass it as reinterpret_cast<LPSPropTagArray>(&name).
#define SizedSPropTagArray(count, name) \
  struct SPropTagArray_##name {         \
    ULONG cValues;                      \
    ULONG aulPropTag[count];            \
  } name

// The properties a SetProps or DeleteProps could not change.
struct SPropProblem {
  ULONG ulIndex;  // position in the caller's array
  ULONG ulPropTag;
  SCODE scode;
};
struct SPropProblemArray {
  ULONG cProblem;
  SPropProblem aProblem[1];
};
using LPSPropProblemArray = SPropProblemArray*;
constexpr std::size_t CbNewSPropProblemArray(std::size_t count) {
  return offsetof(SPropProblemArray, aProblem) + count * sizeof(SPropProblem);
}

// Table rows.
struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  LPSPropValue lpProps;
};
using LPSRow = SRow*;
struct SRowSet {
  ULONG cRows;
  SRow aRow[1];
};
using LPSRowSet = SRowSet*;
constexpr std::size_t CbNewSRowSet(std::size_t count) {
  return offsetof(SRowSet, aRow) + count * sizeof(SRow);
}

// Address lists: one entry per recipient, each its own property values.
struct ADRENTRY {
  ULONG ulReserved1;
  ULONG cValues;
  LPSPropValue rgPropVals;
};
using LPADRENTRY = ADRENTRY*;
struct ADRLIST {
  ULONG cEntries;
  ADRENTRY aEntries[1];
};
using LPADRLIST = ADRLIST*;
constexpr std::size_t CbNewADRLIST(std::size_t count) {
  return offsetof(ADRLIST, aEntries) + count * sizeof(ADRENTRY);
}

// One flag per entry of an address list (the outcome of ResolveNames).
struct FlagList {
  ULONG cFlags;
  ULONG ulFlag[1];
};
using LPFlagList = FlagList*;
constexpr std::size_t CbNewFlagList(std::size_t count) {
  return offsetof(FlagList, ulFlag) + count * sizeof(ULONG);
}

// Restrictions (the conditions a table's rows must meet).
struct SRestriction;
using LPSRestriction = SRestriction*;
struct SAndRestriction {
  ULONG cRes;
  LPSRestriction lpRes;
};
struct SOrRestriction {
  ULONG cRes;
  LPSRestriction lpRes;
};
struct SNotRestriction {
  ULONG ulReserved;
  LPSRestriction lpRes;
};
struct SPropertyRestriction {
  ULONG relop;
  ULONG ulPropTag;
  LPSPropValue lpProp;
};
struct SExistRestriction {
  ULONG ulReserved1;
  ULONG ulPropTag;
  ULONG ulReserved2;
};
struct SRestriction {
  ULONG rt;  // RES_* (platform/mapi/mapi_flags.h): which member is live
  union {
    SAndRestriction resAnd;
    SOrRestriction resOr;
    SNotRestriction resNot;
    SPropertyRestriction resProperty;
    SExistRestriction resExist;
  } res;
};

// Sort orders.
struct SSortOrder {
  ULONG ulPropTag;
  ULONG ulOrder;  // TABLE_SORT_ASCEND or TABLE_SORT_DESCEND
};
struct SSortOrderSet {
  ULONG cSorts;
  ULONG cCategories;
  ULONG cExpanded;
  SSortOrder aSort[1];
};
using LPSSortOrderSet = SSortOrderSet*;
// Declares `name`, a sort-order set of room for `count` orders laid out as
// an SSortOrderSet: pass it as reinterpret_cast<LPSSortOrderSet>(&name).
#define SizedSSortOrderSet(count, name) \
  struct SSortOrderSet_##name {         \
    ULONG cSorts;                       \
    ULONG cCategories;                  \
    ULONG cExpanded;                    \
    SSortOrder aSort[count];            \
  } name
constexpr std::size_t CbNewSSortOrderSet(std::size_t count) {
  return offsetof(SSortOrderSet, aSort) + count * sizeof(SSortOrder);
}

// The extended error of an object's last failure (GetLastError).
struct MAPIERROR {
  ULONG ulVersion;
  LPTSTR lpszError;
  LPTSTR lpszComponent;
  ULONG ulLowLevelError;
  ULONG ulContext;
};
using LPMAPIERROR = MAPIERROR*;

struct MAPIINIT_0 {
  ULONG ulVersion;
  ULONG ulFlags;
};
using LPMAPIINIT_0 = MAPIINIT_0*;

// Notifications handed to an advise sink.
struct OBJECT_NOTIFICATION {
  ULONG cbEntryID;
  LPENTRYID lpEntryID;
  ULONG ulObjType;
  ULONG cbParentID;
  LPENTRYID lpParentID;
  ULONG cbOldID;
  LPENTRYID lpOldID;
  ULONG cbOldParentID;
  LPENTRYID lpOldParentID;
  LPSPropTagArray lpPropTagArray;
};
struct NOTIFICATION {
  ULONG ulEventType;  // fnev* (platform/mapi/mapi_flags.h)
  ULONG ulAlignPad;
  union {
    OBJECT_NOTIFICATION obj;
  } info;
};
using LPNOTIFICATION = NOTIFICATION*;

// The allocators a caller hands to ScDupPropset.
using ALLOCATEBUFFER = SCODE(ULONG cbSize, LPVOID* lppBuffer);
using ALLOCATEMORE = SCODE(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
using FREEBUFFER = ULONG(LPVOID lpBuffer);
using LPALLOCATEBUFFER = ALLOCATEBUFFER*;
using LPALLOCATEMORE = ALLOCATEMORE*;
using LPFREEBUFFER = FREEBUFFER*;
