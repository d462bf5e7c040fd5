// ODBCRecord: one table operation of the record layer. The caller names a
// table or view, adds output columns with the variables that receive them,
// adds column values and WHERE terms; the record builds the SELECT, INSERT,
// UPDATE or DELETE text with "?" placeholders, binds every value as an ADO
// parameter (values never enter the SQL text), runs it on a connection
// borrowed from its ODBCDatabase and copies fetched values back.
//
// Statements (BuildSelect and the others show them without running):
//   SELECT <outputs joined by ", "> FROM <table> [WHERE <terms>] [ORDER BY ...]
//   SQL Server:  SET NOCOUNT ON; INSERT INTO <table> (<value columns>,
//                <columns of the WHERE terms that carry a value>) VALUES
//                (?, ...) ; SELECT SCOPE_IDENTITY(); SET NOCOUNT OFF
//   DB2:         INSERT INTO <table> (...) VALUES (?, ...)
//   UPDATE <table> SET a = ?, b = ? [WHERE <terms>]
//   DELETE FROM <table> [WHERE <terms>]
// The WHERE terms of a record are its identifying columns: an INSERT writes
// them as ordinary columns. Parameters follow the text: the values in the
// order added, then the WHERE terms that carry a value, then the page keys.
// A term is "<column><operator>?" joined to the one before by " AND " or
// " OR " (the first term's conjunction is not written); adjacent comparison
// kIn terms on one column form one "col IN (?, ?) " list; group terms open
// and close parentheses; a case code wraps the column in UPPER( ) or
// LOWER( ). Page keys add a keyset paging clause after the terms.
//
// Every operation returns false on failure and logs through the
// ODBCDatabase, with the SQL text and a DATA text of the values. Each
// operation borrows its own connection and gives it back at its end, except
// between BeginTransaction and Commit or Rollback, when the record keeps
// one. Statements are tried up to CommandRetryCount times while the server
// reports a time-out (HYT00; inside a transaction only while the server
// keeps the transaction, which PostgreSQL does not) or, outside a
// transaction, a deadlock or lock time-out (40001, 57033), sleeping 1, 4,
// 9, 16 ... seconds between tries. A commit that fails ends the
// transaction all the same: the connection goes back.
//
// Lifetime: string values and every output destination are held by
// pointer; they must stay alive and unchanged until the statement has run
// or the row has been read. Only the constructor (given no database) and
// BeginTransaction, Commit and Rollback (when misused) throw, a
// std::runtime_error naming the misuse.
//
// Thread safety: a record is used by one thread at a time; records on
// different threads share nothing but their ODBCDatabase.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/odbc_database.h"
#include "foundation/zev_string.h"
#include "platform/com/variant.h"

class ODBCRecord {
 public:
  // Type codes of outputs, values and terms (the ADO type numbers).
  enum TypeCode : std::int16_t {
    kTypeIsNull = 1,  // IS NULL term, no value
    kTypeInt = 3,
    kTypeWideString = 8,
    kTypeInt64 = 20,
  };
  // Comparison codes of a WHERE term.
  enum Comparison : std::int32_t {
    kEqual = 0,
    kNotEqual = 1,
    kGreater = 2,
    kLess = 3,
    kGreaterOrEqual = 4,
    kLessOrEqual = 5,
    kBitSet = 6,    // col & ? != 0
    kBitClear = 7,  // col & ? = 0
    kLike = 8,
    kNotLike = 9,
    kIn = 10,
  };
  // Case codes of a WHERE term: the column compared as written, or wrapped.
  enum CaseCode : std::int32_t { kCaseAsIs = 0, kCaseUpper = 1, kCaseLower = 2 };
  // Conjunctions: how a term joins the one before it.
  static constexpr bool kOr = false;
  static constexpr bool kAnd = true;
  // The last status of an operation.
  static constexpr std::int16_t kStatusRunning = -1;
  static constexpr std::int16_t kStatusOk = 0;
  static constexpr std::int16_t kStatusNoRows = 100;

  // An empty record working against `database`. A null database logs
  // nothing (there is no sink) and throws std::runtime_error
  // "ODBCRecord::ODBCRecord:  Invalid ODBCDatabase object".
  explicit ODBCRecord(ODBCDatabase* database);
  // Gives back a connection still held by an unfinished transaction (the
  // transaction is rolled back by the connection's close).
  virtual ~ODBCRecord();

  ODBCRecord(const ODBCRecord&) = delete;
  ODBCRecord& operator=(const ODBCRecord&) = delete;

  void SetTableName(const wchar_t* table);

  // Outputs, in select-list order. `function` (may be null) wraps the
  // column: "MAX(Id)".
  void AddOutputString(const wchar_t* column, std::wstring* destination, const wchar_t* function = nullptr);
  void AddOutputInt(const wchar_t* column, std::int32_t* destination, const wchar_t* function = nullptr);
  void AddOutputInt64(const char* column, std::int64_t* destination, const char* function = nullptr);

  // Column values of an INSERT or UPDATE. A null string is written as NULL.
  void AddValueString(const wchar_t* column, const wchar_t* value);
  void AddValueInt(const wchar_t* column, std::int32_t value);

  // WHERE terms. A null string compares with NULL (and so matches nothing).
  void AddWhereIsNull(const wchar_t* column, bool conjunction);
  void AddWhereString(const wchar_t* column, const wchar_t* value, bool conjunction, std::int32_t comparison,
                      std::int32_t caseCode = kCaseAsIs);
  void AddWhereInt(const wchar_t* column, std::int32_t value, bool conjunction, std::int32_t comparison);
  // Opens a parenthesis before the next term (joined by `conjunction` to
  // the one before), or closes the innermost open one.
  void AddWhereOpenGroup();
  void AddWhereCloseGroup();

  // Sort order of the SELECT.
  void AddOrderBy(const wchar_t* column, bool ascending);
  // Keyset paging: the rows after the one whose keys are these values, in
  // key order (ascending keys: greater; descending: less).
  void AddPageKeyInt(const wchar_t* column, bool ascending, std::int32_t value);

  // The identity of the last INSERT: value as decimal text and, in *name
  // (may be null), the column "Id". False when there is none.
  bool GetIdentifier(zev::ZEVString& value, zev::ZEVString* name = nullptr) const;

  // Empties outputs, values, terms, order, page keys, identifier and
  // fetched rows. The table, the database, a transaction in progress and
  // the last message stay.
  void Reset();

  // The statement texts as the operations send them (before the ADO
  // objects rewrite them for a server of another dialect).
  std::wstring BuildSelect() const;
  std::wstring BuildInsert() const;
  std::wstring BuildUpdate() const;
  std::wstring BuildDelete() const;
  // The values of the statement, for log lines: "col[value] ..." per value,
  // then per WHERE term with a column.
  std::wstring BuildDataText() const;

  // --- Execution ---

  // Runs `statement` (null: the built SELECT) and copies the first row into
  // the outputs. True when the query ran; *found false when it returned no
  // row (the outputs are then unchanged). An integer output takes a number
  // within its range (a decimal rounded half to even); a larger one fails
  // the copy ("Unexpected variant type") rather than being cut.
  bool GetFirstValue(bool* found, const wchar_t* statement = nullptr);
  bool QueryFirstValue(bool* found, const wchar_t* statement = nullptr);
  // Copies the next row of the last query. True unless copying failed;
  // *found false past the last row.
  bool GetNextRow(bool* found);
  // Calls the stored procedure `name` with the WHERE terms' values as its
  // parameters and copies the first row of its result into the outputs.
  bool DoStoredProcQuery(const wchar_t* name, bool* found);

  // Runs the INSERT; on SQL Server reads the new identity (GetIdentifier).
  // *rowCount (may be null) gets the rows inserted, -1 when unknown.
  bool DoCreateRecord(std::int32_t* rowCount = nullptr);
  // Runs the UPDATE (or `statement`). True when a row was updated; with
  // `createIfMissing`, a row that is certainly missing (0 rows updated) is
  // inserted instead. False with status kStatusNoRows when no row matched.
  bool DoSetValue(bool createIfMissing = false, std::int32_t* rowCount = nullptr,
                  const wchar_t* statement = nullptr);
  // Runs the DELETE; refuses to run without WHERE terms unless `deleteAll`.
  // True when at least one row was deleted (or the count is unknown).
  bool DeleteRecord(bool deleteAll = false, std::int32_t* rowCount = nullptr);

  // Borrows a connection and begins a transaction on it; the record's
  // operations then use that connection until Commit or Rollback. Throws
  // std::runtime_error when a transaction is already open.
  bool BeginTransaction();
  // End the transaction and give the connection back, also when they fail
  // (the transaction has then ended with the failure; a commit whose
  // connection failed has an unknown outcome, which the log line says).
  // Throw std::runtime_error when no transaction was begun; a Rollback
  // right after a failed Commit is accepted and does nothing.
  bool Commit();
  bool Rollback();

  std::int16_t GetStatus() const { return status_; }
  bool InTransaction() const { return !autoConnection_; }
  // The last text that ODBCDatabase::Log wrote for this record.
  const zev::ZEVString& GetLastMessage() const { return lastMessage_; }

 private:
  struct Value {
    std::int16_t type = 0;
    std::int32_t number = 0;          // kTypeInt
    const wchar_t* text = nullptr;    // kTypeWideString
    bool isNull = false;              // bound as NULL (a null string)
  };
  // A column name in `names_`, placed after the table name; empty for a
  // group term.
  struct Name {
    std::size_t at = 0;
    std::size_t length = 0;
  };
  struct Output {
    std::int16_t type = 0;
    void* destination = nullptr;
    Name column;
    Name function;
    bool wrapped = false;  // written as "<function>(<column>)"
  };
  struct ColumnValue {
    Name column;
    Value value;
  };
  enum GroupCode : std::int32_t { kPlain = 0, kOpen = 1, kClose = 2 };
  struct Term {
    Name column;
    std::int32_t comparison = kEqual;
    bool conjunction = kAnd;
    std::int32_t group = kPlain;
    std::int32_t caseCode = kCaseAsIs;
    Value value;
  };
  struct Order {
    Name column;
    bool ascending = true;
  };
  struct PageKey {
    Name column;
    bool ascending = true;
    Value value;
  };

  // Keeps a column name with the others.
  Name AddName(const wchar_t* column);
  std::wstring_view NameOf(const Name& name) const {
    return std::wstring_view(names_).substr(tableLength_ + name.at, name.length);
  }
  std::wstring_view Table() const { return std::wstring_view(names_).substr(0, tableLength_); }
  void AddOutput(const wchar_t* column, const wchar_t* function, std::int16_t type, void* destination);
  void AddTerm(Term term);
  // Appends " WHERE " and the terms and page keys to `sql`.
  void AppendWhereClause(std::wstring* sql) const;
  bool HasWhere() const { return !terms_.empty() || !pageKeys_.empty(); }

  // odbc_record_exec.cpp
  static std::wstring DoublePercent(const std::wstring& text);
  bool DoGetFirstValue(const wchar_t* location, bool* found, const wchar_t* statement, const wchar_t* procedure);
  // `query` (null: the row of an earlier query) names the statement in log lines.
  bool FetchData(const wchar_t* location, const std::wstring* query);
  bool EndTransaction(bool commit);
  // Keeps `value` as the identity of the INSERT (GetIdentifier).
  void KeepIdentity(std::int64_t value);
  // Borrows a connection unless the record holds one; a failure is reported
  // with `sql`.
  bool Borrow(const wchar_t* location, const std::wstring& sql);
  // Gives the connection back unless a transaction holds it.
  void GiveBackIfAuto();
  // Sets `command` up for `text` with its parameters (the values when
  // asked, the WHERE terms, the page keys when asked), traces it as
  // `shown`, borrows a connection unless the record holds one and makes it
  // the command's. False when no connection could be had (reported).
  bool PrepareStatement(const wchar_t* location, ado::_Command* command, const std::wstring& text,
                        ado::CommandTypeEnum type, const std::wstring& shown, bool values, bool pageKeys);
  // Appends `value` to `parameters`, the command's collection.
  void BindValue(ado::_Command* command, ado::Parameters* parameters, const Value& value);
  // True when `bind` ran without an exception.
  template <typename Bind>
  static bool Binds(Bind bind);
  // Values (when asked), then the WHERE terms, then the page keys (when
  // asked); a failure is reported ("Bind parms/where/page call failed").
  bool BindParameters(const wchar_t* location, ado::_Command* command, bool values, bool pageKeys,
                      const std::wstring& shown);
  // The ADO objects of an operation; a failure is logged ("Command create
  // failed", "Recordset create failed").
  bool CreateCommand(const wchar_t* location, ado::_CommandPtr& command);
  bool CreateRecordset(const wchar_t* location, ado::_RecordsetPtr& recordset);
  // Runs `attempt` under the retry rule; throws the last _com_error.
  template <typename Attempt>
  void RunWithRetry(const wchar_t* location, const std::wstring& sql, Attempt attempt);
  // Opens `recordset` over `command`: the first result that has rows (null
  // when none has).
  ado::_RecordsetPtr OpenRecordset(const wchar_t* location, ado::_Command* command, ado::_RecordsetPtr recordset,
                                   const std::wstring& sql);
  // Runs `command`; the rows it affected, -1 when unknown.
  std::int32_t Execute(const wchar_t* location, ado::_Command* command, const std::wstring& sql);
  // The level-2 SQL line (with "%" doubled).
  void LogSql(const wchar_t* location, const std::wstring& sql);
  // Log lines: the SQL text (with "%" doubled when `doubled`) and the DATA text.
  void LogSqlAndData(int level, const wchar_t* location, const std::wstring& sql, bool doubled);
  // Level-6 lines, built only when the debug logger would keep them.
  void TraceSqlAndData(const wchar_t* location, const std::wstring& sql);
  void Trace(const wchar_t* fmt, const wchar_t* location, std::int32_t number);
  // "[location] message" with the SQL and DATA lines.
  void FailureReport(const wchar_t* location, const wchar_t* message, const std::wstring& sql);
  // A COM error with a connection at hand: the connection's Errors entries,
  // the error itself, the SQL and DATA lines; then gives the connection back
  // (unless a transaction holds it) and checks the database's connections.
  void SqlErrorReport(const wchar_t* location, const _com_error& error, const std::wstring& sql);

  // The table name, then the names of outputs (and their functions),
  // values, terms, order and page keys: one buffer, so that an operation's
  // names take one allocation.
  std::wstring names_;
  std::size_t tableLength_ = 0;
  std::vector<Output> outputs_;
  std::vector<ColumnValue> values_;
  std::vector<Order> order_;
  std::vector<PageKey> pageKeys_;
  std::vector<Term> terms_;
  ODBCDatabase* database_;
  bool autoConnection_ = true;
  // The last transaction ended with a failed commit.
  bool commitFailed_ = false;
  RecordConnections::Lent lent_;
  bool holdsConnection_ = false;
  // The identity of the last INSERT as GetIdentifier gives it: no text
  // before any INSERT or Reset, empty texts after one that read none, or
  // "Id" and the decimal text of the value.
  enum class Identity : std::uint8_t { kNoText, kEmpty, kRead };
  Identity identity_ = Identity::kNoText;
  wchar_t identityText_[24] = {};  // kRead: the value, NUL-terminated
  zev::ZEVString lastMessage_;
  _variant_t rows_;
  std::int32_t currentRow_ = 0;
  std::int32_t upperRow_ = 0;
  std::int16_t status_ = kStatusOk;
};
