// The kinds of database server the configuration database may live on: one
// enumeration for the whole database layer. DbConfig reads the kind from the
// registry; ODBCDatabase and ConnectionItem choose their SQL forms by it
// (the DB2 forms for DB2, the SQL Server forms otherwise).
//
// A plain value type; any thread.
#pragma once

enum class DatabaseKind : int {
  Unknown = -1,  // the registry names neither
  SqlServer = 0,
  DB2 = 1,
};
