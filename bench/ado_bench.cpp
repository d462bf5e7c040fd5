// The ADO layer beside raw ODBC calls on the same driver and server, in one
// run, printing the ratios against both raw forms of each piece of work:
//   1. a recordset of 100,000 rows by 64 columns of mixed types, opened and
//      walked with GetRows, against raw SQLFetch reading every cell, cell by
//      cell (SQLGetData) and in blocks of bound column arrays, the way the
//      ADO objects read (goal: at most 1.3 times the block-fetching raw
//      time; the recordset's memory within 2 times the data size). The ADO
//      time is split into the open (the fetch into the row set), GetRows
//      (the conversion to VARIANTs) and the release of both; beside the
//      recordset's memory stand the heap bytes held while the recordset and
//      the GetRows array are both alive, and the growth of the resident
//      size over the open and GetRows, both from a run ahead of the timed
//      ones (later runs reuse pages the heap kept, so their growth would
//      understate the peak);
//   2. the statement cycle open, execute a parameterised SELECT, close,
//      against the same statement on an already open raw connection, on a
//      statement handle allocated per statement and on one kept open (goal:
//      at most 1.5 times the kept handle's time).
// Each line gives wall time and the client's CPU time per operation.
//
// Run by hand on a Release build, with a server from scripts/pg-cluster:
//   MORVALE_TEST_ODBC=$(scripts/pg-cluster start /tmp/pg) build/rel/bench/ado_bench [--pin[=N]]
// Optional arguments: rows (100000) and statement cycles (2000); --pin
// pins the process to one CPU (bench/measure.h).
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/measure.h"
#include "bench/raw_odbc.h"
#include "platform/ado/ado.h"
#include "testing/test_database.h"

namespace {

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

// Runs the sides in turn, `runs` times each, and keeps the least cost of
// each: on a shared machine, load then falls on all alike.
std::vector<bench::Cost> LeastOfEach(int runs, const std::vector<std::function<void()>>& sides) {
  std::vector<bench::Cost> least(sides.size(), bench::Cost{1e30, 1e30});
  for (int i = 0; i < runs; ++i) {
    for (std::size_t k = 0; k < sides.size(); ++k) least[k] = bench::Least(least[k], bench::Measure(sides[k]));
  }
  return least;
}

}  // namespace

int main(int argc, char** argv) {
  if (!bench::TakePinOption(&argc, argv)) return 1;
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
    std::size_t cellRows = 0;
    std::size_t blockRows = 0;
    ado::_ConnectionPtr connection = ado::MakeConnection();
    connection->Open(adoString, _bstr_t(L""), _bstr_t(L""));
    std::size_t adoRows = 0;
    std::size_t memory = 0;
    // Memory while the recordset and its GetRows array are both held, on a
    // run of its own ahead of the timed ones: the heap's bytes, and the
    // growth of the resident size, honest only while the heap has not yet
    // kept freed pages from an earlier run (the timed runs would reuse them).
    std::size_t heldBoth = 0;
    std::size_t heldArray = 0;
    std::size_t residentGrowth = 0;
    const bool peakReset = bench::ResetPeakResident();
    {
      const std::size_t residentBefore = bench::ResidentBytes();
      const std::size_t heapBefore = bench::HeldHeapBytes();
      ado::_RecordsetPtr rs = ado::MakeRecordset();
      rs->Open(_variant_t(wide), _variant_t(static_cast<IDispatch*>(connection.GetInterfacePtr())));
      memory = rs->GetRowSet()->MemoryBytes();
      const std::size_t heapOpen = bench::HeldHeapBytes();
      _variant_t all = rs->GetRows();
      const std::size_t heapBoth = bench::HeldHeapBytes();
      residentGrowth = bench::PeakResidentBytes() - residentBefore;
      heldBoth = heapBoth - heapBefore;
      heldArray = heapBoth - heapOpen;
    }
    // The ADO side's parts, each the least over the runs: the open (the
    // fetch into the row set), GetRows (the conversion to VARIANTs) and the
    // release of the recordset and the array.
    bench::Cost adoOpen{1e30, 1e30, 1e30}, adoGetRows{1e30, 1e30, 1e30}, adoRelease{1e30, 1e30, 1e30};
    const std::vector<bench::Cost> read = LeastOfEach(
        5, {[&] {
              dataBytes = 0;
              cellRows = raw->ReadAll(wide, &dataBytes);
            },
            [&] {
              std::size_t ignored = 0;
              blockRows = raw->ReadAllInBlocks(wide, &ignored);
            },
            [&] {
              ado::_RecordsetPtr rs = ado::MakeRecordset();
              adoOpen = bench::Least(adoOpen, bench::Measure([&] {
                rs->Open(_variant_t(wide), _variant_t(static_cast<IDispatch*>(connection.GetInterfacePtr())));
              }));
              _variant_t all;
              adoGetRows = bench::Least(adoGetRows, bench::Measure([&] { all = rs->GetRows(); }));
              LONG upper = -1;
              SafeArrayGetUBound(all.parray, 2, &upper);
              adoRows = static_cast<std::size_t>(upper + 1);
              adoRelease = bench::Least(adoRelease, bench::Measure([&] {
                rs = nullptr;
                all.Clear();
              }));
            }});
    std::printf("recordset %d x 64, walked with GetRows; wall / CPU ms per recordset\n", rows);
    std::printf("  raw, cell by cell   %s\n", bench::PerOperation(read[0], 1e3).c_str());
    std::printf("  raw, block fetch    %s\n", bench::PerOperation(read[1], 1e3).c_str());
    std::printf("  ADO                 %s   ratio %.2f / %.2f to block fetch (goal <= 1.30), "
                "%.2f / %.2f to cell by cell\n",
                bench::PerOperation(read[2], 1e3).c_str(), read[2].wall / read[1].wall, read[2].cpu / read[1].cpu,
                read[2].wall / read[0].wall, read[2].cpu / read[0].cpu);
    std::printf("    open, the fetch into the row set     %s\n", bench::PerOperation(adoOpen, 1e3).c_str());
    std::printf("    GetRows, the conversion to VARIANTs  %s\n", bench::PerOperation(adoGetRows, 1e3).c_str());
    std::printf("    release of the recordset and array   %s\n", bench::PerOperation(adoRelease, 1e3).c_str());
    std::printf("  rows %zu / %zu / %zu\n", cellRows, blockRows, adoRows);
    std::printf("recordset memory: %.1f MB for %.1f MB of data, ratio %.2f (goal <= 2.00)\n", memory / 1e6,
                dataBytes / 1e6, static_cast<double>(memory) / static_cast<double>(dataBytes));
    std::printf("held while the recordset and its GetRows array are both alive: %.1f MB on the heap, ratio %.2f to "
                "the data (the array %.1f MB)\n",
                heldBoth / 1e6, static_cast<double>(heldBoth) / static_cast<double>(dataBytes), heldArray / 1e6);
    if (peakReset) {
      std::printf("peak resident growth over the open and GetRows, on a fresh heap: %.1f MB, ratio %.2f to the "
                  "data\n",
                  residentGrowth / 1e6, static_cast<double>(residentGrowth) / static_cast<double>(dataBytes));
    } else {
      std::printf("peak resident growth over the open and GetRows: not measurable (no clear_refs)\n");
    }
    connection->Close();
    if (cellRows != adoRows || blockRows != adoRows) {
      std::fprintf(stderr, "ado_bench: the sides read different row counts\n");
      return 1;
    }

    // 2. The statement cycle.
    const char* select = "SELECT Id, DisplayName FROM Small WHERE Id = ?";
    int failures = 0;
    const std::vector<bench::Cost> cycle = LeastOfEach(
        5, {[&] {
              for (int i = 0; i < cycles; ++i) failures += raw->SelectById(select, i % 1000 + 1) ? 0 : 1;
            },
            [&] {
              for (int i = 0; i < cycles; ++i) failures += raw->SelectByIdOnKeptStatement(select, i % 1000 + 1) ? 0 : 1;
            },
            [&] {
              for (int i = 0; i < cycles; ++i) {
                ado::_ConnectionPtr c = ado::MakeConnection();
                c->Open(adoString, _bstr_t(L""), _bstr_t(L""));
                ado::_CommandPtr command = ado::MakeCommand();
                command->PutRefActiveConnection(c);
                command->PutCommandText(_bstr_t(select));
                command->PutCommandType(ado::adCmdText);
                command->GetParameters()->Append(command->CreateParameter(
                    _bstr_t(L""), ado::adInteger, ado::adParamInput, 4, _variant_t(i % 1000 + 1)));
                ado::_RecordsetPtr rs = command->Execute(nullptr);
                if (rs->GetEndOfFile() ||
                    static_cast<INT>(rs->GetFields()->GetItem(_variant_t(0))->GetValue()) != i % 1000 + 1) {
                  ++failures;
                }
                c->Close();
              }
            }});
    std::printf("statement cycle x %d (open, parameterised SELECT, close); wall / CPU us per cycle\n", cycles);
    std::printf("  raw, handle per statement  %s\n", bench::PerOperation(cycle[0], cycles).c_str());
    std::printf("  raw, handle kept           %s\n", bench::PerOperation(cycle[1], cycles).c_str());
    std::printf("  ADO                        %s   ratio %.2f / %.2f to the kept handle (goal <= 1.50), "
                "%.2f / %.2f to a handle per statement\n",
                bench::PerOperation(cycle[2], cycles).c_str(), cycle[2].wall / cycle[1].wall,
                cycle[2].cpu / cycle[1].cpu, cycle[2].wall / cycle[0].wall, cycle[2].cpu / cycle[0].cpu);
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
