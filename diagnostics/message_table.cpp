#include "diagnostics/message_table.h"

#include <algorithm>
#include <iterator>

#include "foundation/string_conversion.h"
#include "platform/win32/codepage.h"

namespace {

struct MessageEntry {
  unsigned number;
  const wchar_t* text;
};

// Sorted by number. Arguments are listed beside each text as call sites
// pass them.
constexpr MessageEntry kMessages[] = {
    // server name
    {10264, L"Could not load the configuration of server %s"},
    // operation name
    {20061, L"%s: unexpected exception caught"},
    // no arguments
    {20284, L"Could not build the list of pagers"},
    // server name
    {20286, L"Could not set up the statistics of server %s"},
    // source line, display name, user id
    {20310, L"Could not create the pager object (%d) for user %s, id %d"},
    // operation name, HRESULT, error message, Source, Description, SQL text
    {20640, L"%s: COM error 0x%08X - %s - Source: %s - Description: %s - SQL: %s"},
    // operation name, HRESULT
    {20656, L"%s: could not create the command object, HRESULT 0x%08X"},
    // operation name
    {20660, L"%s: unexpected exception caught in a database report step"},
    // operation name, source line
    {20667, L"%s: could not read the row bound of the result (line %d)"},
    // service id
    {20677, L"Service %d has no valid value"},
    // location, HRESULT or error number, message or SQLSTATE, Source,
    // Description, command text
    {25000, L"%s: COM Error 0x%X - %s - Source: %s - Description: %s - Command: %s"},
    // operation name, HRESULT
    {25001, L"%s: could not create an ADO object, HRESULT 0x%08X"},
    // operation name
    {25002, L"%s: unexpected exception caught"},
    // function name, row, column
    {25008, L"%s: could not read the cell at row %d, column %d"},
    // operation name, ConnectionWaitAbandonTime in seconds
    {25035, L"%s: no pooled connection became free within %d seconds"},
    // operation name, wait result or GetLastError
    {25036, L"%s: waiting for the connection pool failed (%u)"},
    // operation name
    {25037, L"%s: the work after connecting failed"},
    // operation name
    {25045, L"%s: a required argument is not set"},
    // location
    {25107, L"%s: permission denied in the configuration database"},
    // location
    {25109, L"%s: unexpected exception caught"},
    // location
    {25110, L"%s: a table of the configuration database was not found"},
    // location
    {25111, L"%s: an integrity constraint of the configuration database was violated"},
    // operation name, stored procedure name
    {25113, L"%s: the stored procedure %s failed or returned no row"},
    // operation name, connection string with the password masked
    {25137, L"%s: could not connect with %s"},
    // operation name, tries left, plural ending ("ies" or "y"), command text
    {30442, L"%s: retrying, %d tr%s left: %s"},
    // operation name
    {35007, L"%s: could not read the text of an array cell"},
    // no arguments
    {35011, L"The connection pool is up"},
    // no arguments
    {35012, L"Could not allocate the primary pooled connection"},
    // display version, current version, year, month, day
    {35019, L"Configuration database schema version %s (%d), built %04d/%02d/%02d"},
    // current version
    {35020, L"Configuration database schema version %d"},
    // operation name, tries left, command text
    {35021, L"%s: transient failure, %d tries left: %s"},
    // operation name, attempt number, attempt count
    {35028, L"%s: connection attempt %d of %d failed"},
    // operation name, time-out in seconds
    {35029, L"%s: could not connect within %d seconds"},
    // HRESULT
    {40149, L"Could not get the hierarchy table of the parent folder (0x%08X)"},
    // HRESULT
    {40150, L"Could not seek to the start of the folder hierarchy (0x%08X)"},
    // HRESULT
    {40151, L"Could not set the columns of the folder hierarchy (0x%08X)"},
    // HRESULT
    {40152, L"Could not read the folder hierarchy (0x%08X)"},
    // folder name
    {40153, L"Found folder %s"},
    // HRESULT
    {40154, L"Could not open the folder found (0x%08X)"},
    // folder name
    {40155, L"Opened folder %s"},
    // HRESULT
    {40156, L"Could not create or open the folder (0x%08X); creating it anew"},
    // folder name
    {40157, L"Created folder %s"},
    // message count
    {40158, L"The handheld information folder holds %d messages, not 2"},
    // no arguments
    {40159, L"A message of the handheld information folder has no message class"},
    // display name, user id
    {40682, L"Pager object for user %s, id %d"},
    // error text, low-level error, component, context
    {40720, L"MAPI extended error: %s (low-level error %u, component %s, context %u)"},
    // e-mail address, text
    {41079, L"User %s: %s"},
    // operation name, pool size
    {45059, L"%s: connection pool of %d connections ready"},
    // operation name
    {45060, L"%s: the connection pool is down"},
    // operation name, elapsed ms, threshold ms, waiting count
    {45063, L"%s: waited %u ms for a pooled connection (threshold %u ms), %d waiting"},
    // operation name
    {45064, L"%s: could not build the map of user child tables"},
    // operation name, excluded table name
    {45065, L"%s: table %s excluded"},
    // operation name, user id, server configuration id
    {45066, L"%s: user %d of server %d is not marked for deletion"},
    // operation name, table, user id
    {45067, L"%s: deleting rows of table %s for user %d"},
    // operation name
    {45164, L"%s: timed out waiting for the connection pool"},
};

static_assert(std::is_sorted(std::begin(kMessages), std::end(kMessages),
                             [](const MessageEntry& a, const MessageEntry& b) {
                               return a.number < b.number;
                             }));

std::wstring LoadText(unsigned id) {
  const wchar_t* text = FindMessageText(id & 0xFFFF);
  if (text == nullptr) return {};
  std::wstring loaded(text);
  if (loaded.size() > kResStringChars - 1) loaded.resize(kResStringChars - 1);
  return loaded;
}

}  // namespace

const wchar_t* FindMessageText(unsigned number) {
  auto found = std::lower_bound(
      std::begin(kMessages), std::end(kMessages), number,
      [](const MessageEntry& entry, unsigned n) { return entry.number < n; });
  if (found == std::end(kMessages) || found->number != number) return nullptr;
  return found->text;
}

ResString LoadResString(unsigned id) {
  std::wstring wide = LoadText(id);
  ResString result(ConvertToNarrowString(wide, CP_THREAD_ACP));
  SecureWipe(wide.data(), wide.size() * sizeof(wchar_t));
  return result;
}

ResStringW LoadResStringW(unsigned id) { return ResStringW(LoadText(id)); }
