#include "configdb/core/pool_start.h"

#include "db/connection_pool.h"
#include "foundation/secure_wipe.h"
#include "foundation/string_conversion.h"

bool InitializePoolFromNarrow(int poolSize, const std::string& connectionString, int msdeSizeLimit) {
  std::wstring wide = ConvertToWideString(connectionString, -1);
  const bool initialised = GetConnectionPool().InitializePool(
      static_cast<unsigned>(poolSize), wide, static_cast<unsigned>(msdeSizeLimit), false, true);
  SecureWipe(wide.data(), wide.size() * sizeof(wchar_t));
  return initialised;
}
