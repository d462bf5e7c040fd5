// The registry: keys holding named, typed values under the roots
// HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT, with the calls,
// flags and error codes (platform/win32/error.h, returned as LONG) that the
// system's code is written against.
//
// Storage. Each root is one text file in the registry export format
// (platform/registry/reg_file.h): HKLM.reg, HKCU.reg and HKCR.reg in the
// directory named by the environment variable MORVALE_REGISTRY_DIR, or, when
// that is unset or empty, $HOME/.morvale/registry (with neither set, every call
// that reaches the files fails with ERROR_PATH_NOT_FOUND), with the changes
// made since the file was last written in its journal beside it
// ("HKLM.reg.journal", of the same format). A missing file is an empty root;
// the directory and the files are created by the first write (mode 0700 and
// 0600; a file that exists keeps its mode, and its journal takes it). A file
// or journal that cannot be read as the format fails every call on its root
// with ERROR_BADDB and is never overwritten.
//
// Consistency. A key handle holds a path, not a copy: every call looks at
// the root's current files, so a change made by another process is seen by
// the next call. Each process keeps the last parse of each root: it reads
// only the records appended to the journal since, and parses the file again
// only when it changed: when its device and inode, size or modification time
// differ, or, within the tick of the file clock in which it was last changed
// (when an edit in place would keep all of those), when its text differs. A
// call on a handle whose key has been deleted fails with ERROR_KEY_DELETED.
//
// Writes. Every write takes an exclusive lock (flock on "<file>.lock" beside
// the file), starts from the current files and appends its one change as a
// record to the journal, which it syncs to the disk: no write loses another
// process's change, and a write that returned survives a crash of the
// machine. A record cut short by a crash is ignored by readers and cut off
// by the next write. The write that would make the journal longer than the
// file (or than 64 KiB) merges it instead: it writes the whole text as the
// file's next generation to "<file>.partial", syncs it, renames it over the
// file, syncs the directory and removes the journal, so that a reader never
// sees a half-written file; a journal that a crash leaves behind is of the
// older generation and ignored. A new journal is started the same way,
// through "<file>.partial". A "<file>.partial" found under the lock is what a
// killed writer left and is removed. Comments of a hand-edited file
// are kept (reg_file.h says where).
//
// Editing a file by hand. The journal names the version of the file it
// applies to (its generation, size and checksum). A file changed while its
// journal holds changes (edited, replaced or removed) still takes them: they
// are applied to the file as it is now, and the next write merges both into
// the file. Where the edit and the journal change the same value or key,
// the journal's change is the one that stays: an editor shows the file
// without the journal's changes, so change by hand what programs write only
// while the file has no journal.
//
// Names of keys and values are compared without regard to case and keep the
// case they were first written with; sub-keys enumerate in the order of their
// case-folded names, values in the order they were first set. Key and value
// names may not hold control characters, and a write refuses a key name (one
// level of a path) of more than 255 UTF-16 units, a key more than 512 levels
// below its root and a value name of more than 16,383 UTF-16 units
// (ERROR_INVALID_PARAMETER).
//
// Text. The wide (W) calls take and give wchar_t text: 4 bytes per character
// here, and every size in bytes counts sizeof(wchar_t) per character. The
// narrow (A) calls convert names and the data of REG_SZ, REG_EXPAND_SZ and
// REG_MULTI_SZ from and to the ANSI code page (GetACP), and count their sizes
// in bytes of that code page.
//
// Access. A handle has the rights it was opened with: reading values needs
// KEY_QUERY_VALUE, enumerating sub-keys KEY_ENUMERATE_SUB_KEYS, setting and
// deleting values KEY_SET_VALUE, creating and deleting sub-keys
// KEY_CREATE_SUB_KEY; a call without them fails with ERROR_ACCESS_DENIED. The
// roots have every right. There is one view of the registry here:
// KEY_WOW64_64KEY and KEY_WOW64_32KEY are accepted and change nothing. Keys
// have no class, security descriptor or last-write time: those outputs are
// returned empty or zero.
//
// Thread safety: every call may be made from any thread and from several
// processes at once. One handle may be used by several threads; a call that
// races with the handle's close either completes or fails with
// ERROR_INVALID_HANDLE, as does any call on a closed or unknown handle.
#pragma once

#include "platform/win32/error.h"
#include "platform/win32/time.h"
#include "platform/win32/types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

// The roots. Macros because a pointer made from an integer is no constant
// expression: an inline variable would be initialised at run time, after
// global objects of other files that already read the registry.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens the existing key `subKey` below `key` (null or "" opens `key` again).
// ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegOpenKeyExW(HKEY key, const wchar_t* subKey, DWORD options, REGSAM access, PHKEY result);

// Opens `subKey` below `key`, creating it and the keys on its way when
// missing; *disposition (optional) tells which. Only REG_OPTION_NON_VOLATILE
// is offered; `className` and `security` are ignored.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* className, DWORD options,
                     REGSAM access, const void* security, PHKEY result, DWORD* disposition);
LONG RegCreateKeyExW(HKEY key, const wchar_t* subKey, DWORD reserved, wchar_t* className,
                     DWORD options, REGSAM access, const void* security, PHKEY result,
                     DWORD* disposition);

// Frees a handle; closing a root does nothing.
LONG RegCloseKey(HKEY key);

// Reads a value (null or "" names the default value). With `data` null and
// `size` given: *size = the value's size. With a buffer smaller than the
// value: ERROR_MORE_DATA, *size = the size needed, the buffer is not written.
// Text values are given as stored, terminators included.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);

// Stores a value of any type; `size` bytes of `data` are kept as given (the
// caller includes the terminator of a text). A wide text value whose size is
// not a whole number of characters, or that holds a character beyond
// U+10FFFF, fails with ERROR_INVALID_PARAMETER.
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegSetValueExW(HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);

LONG RegDeleteValueA(HKEY key, const char* name);
LONG RegDeleteValueW(HKEY key, const wchar_t* name);

// Deletes the key `subKey` below `key`; a key that still has sub-keys is kept
// (ERROR_ACCESS_DENIED), as is a root.
LONG RegDeleteKeyA(HKEY key, const char* subKey);
LONG RegDeleteKeyW(HKEY key, const wchar_t* subKey);

// The name of sub-key number `index` into a buffer of `size` characters
// (terminator included). ERROR_NO_MORE_ITEMS past the last one,
// ERROR_MORE_DATA when the name does not fit.
LONG RegEnumKeyA(HKEY key, DWORD index, char* name, DWORD size);
LONG RegEnumKeyW(HKEY key, DWORD index, wchar_t* name, DWORD size);
// As RegEnumKey; *size is the buffer's size in characters on entry and the
// name's length without terminator on success.
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* size, DWORD* reserved,
                   char* className, DWORD* classSize, FILETIME* lastWriteTime);
LONG RegEnumKeyExW(HKEY key, DWORD index, wchar_t* name, DWORD* size, DWORD* reserved,
                   wchar_t* className, DWORD* classSize, FILETIME* lastWriteTime);

// The name, type and data of value number `index`; the name as in
// RegEnumKeyEx, the data as in RegQueryValueEx (ERROR_MORE_DATA when either
// does not fit).
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameSize, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataSize);

// Counts of sub-keys and values, the longest sub-key and value names (in
// characters, without terminator) and the largest value (in bytes). Every
// output is optional.
LONG RegQueryInfoKeyA(HKEY key, char* className, DWORD* classSize, DWORD* reserved,
                      DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values,
                      DWORD* maxValueNameLen, DWORD* maxValueLen, DWORD* securityDescriptorSize,
                      FILETIME* lastWriteTime);
LONG RegQueryInfoKeyW(HKEY key, wchar_t* className, DWORD* classSize, DWORD* reserved,
                      DWORD* subKeys, DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values,
                      DWORD* maxValueNameLen, DWORD* maxValueLen, DWORD* securityDescriptorSize,
                      FILETIME* lastWriteTime);
