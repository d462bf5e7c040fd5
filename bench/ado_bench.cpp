// The ADO layer beside raw ODBC calls on the same driver and server, in one
// run, printing the ratios:
//   1. a recordset of 100,000 rows by 64 columns of mixed types, opened and
//      walked with GetRows, against a raw SQLFetch/SQLGetData loop (goal:
//      at most 1.3 times the raw time; the recordset's memory within 2
//      times the data size);
//   2. the statement cycle open, execute a parameterised SELECT, close,
//      against the same statement on an already open raw connection (goal:
//      at most 1.5 times).
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/ado_bench
// Optional arguments: rows (100000) and statement cycles (2000).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/raw_odbc.h"
#include "platform/ado/ado.h"
#include "testing/test_database.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Name(char prefix, int i) {
  std::string name(1, prefix);
  name += std::to_string(i);
  return name;
}

// 64 columns: 16 integer, 8 bigint, 8 double, 8 numeric, 8 timestamp,
// 8 short texts, 4 longer texts, 4 binaries.
std::string CreateTable(int rows) {
  std::string columns;
  std::string values;
  auto add = [&](const std::string& name, const std::string& type, const std::string& value) {
    if (!columns.empty()) {
      columns += ", ";
      values += ", ";
    }
    columns.append(name).append(" ").append(type);
    values += value;
  };
  for (int i = 0; i < 16; ++i) add(Name('i', i), "integer", std::string("g * ").append(std::to_string(i + 1)));
  for (int i = 0; i < 8; ++i) add(Name('b', i), "bigint", "g::bigint * 1000000007");
  for (int i = 0; i < 8; ++i) add(Name('d', i), "double precision", "g / 7.0");
  for (int i = 0; i < 8; ++i) add(Name('n', i), "numeric(12,2)", "(g % 100000) / 3.0");
  for (int i = 0; i < 8; ++i) add(Name('t', i), "timestamp", "timestamp '2020-01-01' + g * interval '1 minute'");
  for (int i = 0; i < 8; ++i) add(Name('s', i), "varchar(32)", "'user-' || g");
  for (int i = 0; i < 4; ++i) add(Name('w', i), "text", "repeat('x', 20) || g");
  for (int i = 0; i < 4; ++i) add(Name('y', i), "bytea", "decode(md5(g::text), 'hex')");
  std::string sql = "CREATE TABLE Wide (";
  sql.append(columns).append("); INSERT INTO Wide SELECT ").append(values);
  sql.append(" FROM generate_series(1, ").append(std::to_string(rows)).append(") g; ");
  sql.append("CREATE TABLE Small (Id integer PRIMARY KEY, DisplayName varchar(64)); ");
  sql.append("INSERT INTO Small SELECT g, 'name ' || g FROM generate_series(1, 1000) g; ANALYZE");
  return sql;
}

template <typename F>
double Best(int runs, F f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    f();
    best = std::min(best, Seconds(Clock::now() - start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 2000;
  std::string error;
  std::unique_ptr<morvale::testing::TestDatabase> database = morvale::testing::TestDatabase::Create(&error);
  if (!database) {
    std::fprintf(stderr, "ado_bench: no test database: %s\n", error.c_str());
    return 1;
  }
  if (!database->Execute(CreateTable(rows), &error)) {
    std::fprintf(stderr, "ado_bench: %s\n", error.c_str());
    return 1;
  }
  std::unique_ptr<bench::RawOdbc> raw = bench::RawOdbc::Connect(database->odbc_connection_string(), &error);
  if (!raw) {
    std::fprintf(stderr, "ado_bench: raw connect: %s\n", error.c_str());
    return 1;
  }
  const _bstr_t adoString(database->ado_connection_string().c_str());

  try {
    // 1. The wide recordset.
    const char* wide = "SELECT * FROM Wide";
    std::size_t dataBytes = 0;
    std::size_t rawRows = 0;
    const double rawTime = Best(3, [&] {
      dataBytes = 0;
      rawRows = raw->ReadAll(wide, &dataBytes);
    });
    ado::_ConnectionPtr connection = ado::MakeConnection();
    connection->Open(adoString, _bstr_t(L""), _bstr_t(L""));
    std::size_t adoRows = 0;
    std::size_t memory = 0;
    const double adoTime = Best(3, [&] {
      ado::_RecordsetPtr rs = ado::MakeRecordset();
      rs->Open(_variant_t(wide), _variant_t(static_cast<IDispatch*>(connection.GetInterfacePtr())));
      memory = rs->GetRowSet()->MemoryBytes();
      _variant_t all = rs->GetRows();
      LONG upper = -1;
      SafeArrayGetUBound(all.parray, 2, &upper);
      adoRows = static_cast<std::size_t>(upper + 1);
    });
    std::printf("recordset %zu x 64: raw %.3f s, ADO %.3f s, ratio %.2f (goal <= 1.30); rows %zu/%zu\n", rawRows, rawTime,
                adoTime, adoTime / rawTime, adoRows, rawRows);
    std::printf("recordset memory: %.1f MB for %.1f MB of data, ratio %.2f (goal <= 2.00)\n", memory / 1e6,
                dataBytes / 1e6, static_cast<double>(memory) / static_cast<double>(dataBytes));
    connection->Close();

    // 2. The statement cycle.
    const char* select = "SELECT Id, DisplayName FROM Small WHERE Id = ?";
    int failures = 0;
    const double rawCycle = Best(3, [&] {
      for (int i = 0; i < cycles; ++i) failures += raw->SelectById(select, i % 1000 + 1) ? 0 : 1;
    });
    const double adoCycle = Best(3, [&] {
      for (int i = 0; i < cycles; ++i) {
        ado::_ConnectionPtr c = ado::MakeConnection();
        c->Open(adoString, _bstr_t(L""), _bstr_t(L""));
        ado::_CommandPtr command = ado::MakeCommand();
        command->PutRefActiveConnection(c);
        command->PutCommandText(_bstr_t(select));
        command->PutCommandType(ado::adCmdText);
        command->GetParameters()->Append(
            command->CreateParameter(_bstr_t(L""), ado::adInteger, ado::adParamInput, 4, _variant_t(i % 1000 + 1)));
        ado::_RecordsetPtr rs = command->Execute(nullptr);
        if (rs->GetEndOfFile() || static_cast<INT>(rs->GetFields()->GetItem(_variant_t(0))->GetValue()) != i % 1000 + 1) {
          ++failures;
        }
        c->Close();
      }
    });
    std::printf("statement cycle x %d: raw %.1f us, ADO %.1f us, ratio %.2f (goal <= 1.50)\n", cycles,
                rawCycle / cycles * 1e6, adoCycle / cycles * 1e6, adoCycle / rawCycle);
    if (failures != 0) {
      std::fprintf(stderr, "ado_bench: %d statements gave a wrong answer\n", failures);
      return 1;
    }
  } catch (const _com_error& e) {
    const wchar_t* description = e.Description();
    std::fprintf(stderr, "ado_bench: COM error 0x%08X: %ls\n", static_cast<unsigned>(e.Error()),
                 description != nullptr ? description : L"");
    return 1;
  }
  return 0;
}
