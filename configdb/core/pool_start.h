// Starting the process-wide connection pool from the configuration
// database's own (narrow) connection string. The pool keeps its string wide;
// the wide copy made on the way holds the password and is wiped at once.
//
// Thread safety: as ConnectionPool::InitializePool, from any thread.
#pragma once

#include <string>

// ConnectionPool::InitializePool(size, string, msdeSizeLimit, not
// re-initialising, retrying) with `connectionString` in the ANSI code page.
bool InitializePoolFromNarrow(int poolSize, const std::string& connectionString, int msdeSizeLimit);
