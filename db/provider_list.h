// The OLE DB provider names this machine can serve, for the environment
// report (which logs them) and for the database settings (which add a
// mirror partner only when a native-client provider is present).
//
// The names are those of the ADO layer's provider map whose ODBC driver is
// installed (ado::InstalledProviders, platform/ado/providers.h), in the
// map's order: "SQLOLEDB", "SQLNCLI", "SQLNCLI10", "IBMDADB2" as their
// drivers are present, or as MORVALE_ADO_PROVIDERS says.
//
// The enumeration needs COM on the calling thread: on a thread that has not
// initialised COM the result is empty and the sink is told "CoInitialize has
// not been called. [-2147221008]". Every message goes to the sink at level 4
// with the location "provider_list"; nothing throws.
//
// Thread safety: callable from any thread; see providers.h for the
// environment it reads.
#pragma once

#include <string>
#include <vector>

#include "db/db_log_sink.h"

std::vector<std::wstring> provider_list(DBLogSink sink = nullptr);
