// The computer's names in the forms of the system's home platform.
//
//   ComputerNameDnsHostname, ComputerNamePhysicalDnsHostname: the host name
//     (gethostname) up to its first '.';
//   ComputerNameDnsFullyQualified, ComputerNamePhysicalDnsFullyQualified:
//     the canonical name the resolver gives the host name (getaddrinfo,
//     AI_CANONNAME), or the host name as it stands when that fails;
//   ComputerNameNetBIOS, ComputerNamePhysicalNetBIOS: the short host name in
//     upper case, cut to MAX_COMPUTERNAME_LENGTH (15) characters.
// The physical forms equal the others: there is no cluster name here. Wide
// forms convert with the ANSI code page.
//
// Sizes are in characters. *size gives the buffer's size; on success it
// receives the length without the terminator. A buffer that is too small
// (or null with *size 0) fails and *size receives the size needed with the
// terminator: ERROR_MORE_DATA from GetComputerNameEx, ERROR_BUFFER_OVERFLOW
// from GetComputerName. Another format (the domain forms are not offered)
// fails with ERROR_INVALID_PARAMETER, a host name that cannot be read with
// ERROR_INVALID_DATA.
//
// The host name comes from gethostname unless a test has put a hook in
// place (SetHostNameHookForTesting), for the machine whose name cannot be
// read.
//
// Thread safety: any thread may call these; a test replaces the hook only
// while no other thread asks for a name.
#pragma once

#include "platform/win32/types.h"

enum COMPUTER_NAME_FORMAT {
  ComputerNameNetBIOS = 0,
  ComputerNameDnsHostname = 1,
  ComputerNameDnsFullyQualified = 3,
  ComputerNamePhysicalNetBIOS = 4,
  ComputerNamePhysicalDnsHostname = 5,
  ComputerNamePhysicalDnsFullyQualified = 7,
};

inline constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;

BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, char* buffer, DWORD* size);
BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT format, wchar_t* buffer, DWORD* size);

// The NetBIOS name.
BOOL GetComputerNameA(char* buffer, DWORD* size);
BOOL GetComputerNameW(wchar_t* buffer, DWORD* size);

// Replaces gethostname (same contract: 0, or -1 when the name cannot be
// read); null restores it. Returns the hook it replaced (null for
// gethostname).
using HostNameHook = int (*)(char* name, unsigned long length);
HostNameHook SetHostNameHookForTesting(HostNameHook hook);
