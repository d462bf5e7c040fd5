// The ADO objects: Connection, Command, Parameters, Recordset, Fields,
// Errors and Properties, over ODBC.
//
// They behave as the system's code expects of ADO with the OLE DB providers
// for SQL Server and DB2:
//   - Create them with `_ConnectionPtr::CreateInstance(CLSID_Connection)` and
//     the like (RegisterAdoClasses, called on first use of this header's
//     objects through EnsureAdoClasses or by the caller at start-up, makes
//     the three classes known to platform/com's factory), or directly with
//     the Make* functions.
//   - A failed operation throws `_com_error` with the HRESULT ADO would raise
//     (sql_state.h maps the driver's SQLSTATE: a missing table 0x80040E37,
//     a time-out 0x80040E31, ...), its Source (the provider) and its
//     Description (the driver's message; the raw SQLSTATE is added when it
//     was normalised). The connection's Errors collection then holds one
//     Error per diagnostic record of the driver (Number, SQLState,
//     NativeError, Source, Description). Passwords never appear in either.
//   - Connection::Open translates the ADO connection string once
//     (connection_string.h) and takes a physical connection from the idle
//     cache when one is there and alive (idle_cache.h); Close gives it back
//     unless it failed with a connection-class error, which also drops the
//     other idle connections to the same server. A connection taken from
//     the cache may have died while idle without a sign: when the first
//     request on it (outside a transaction, or the first of a transaction
//     begun on it) fails with a connection-class error, nothing of it can
//     have run, and it runs once more on a new physical connection; only
//     when that cannot be made does the caller see the failure. After Open
//     the ConnectionString shows the string without its password, and no
//     password is kept once the connection has answered.
//   - A commit that fails ends the transaction (the driver rolls back what
//     is left); when the connection failed during the commit, the outcome
//     is unknown and kTransactionInDoubt is raised.
//   - SQL texts reach SQL Server unchanged and other servers through
//     RewriteSql (dialect.h).
//   - A Recordset is read in full when it opens: it stays readable after
//     Close of its connection or after its ActiveConnection is set to null;
//     GetRows returns a 2-D VARIANT array indexed [field][row].
//   - Values travel as VARIANTs: adInteger VT_I4, adBigInt VT_I8, adBoolean
//     VT_BOOL, adNumeric VT_DECIMAL, adDBTimeStamp VT_DATE, texts VT_BSTR,
//     binaries VT_ARRAY|VT_UI1 (an empty value is an empty array, not NULL),
//     NULL VT_NULL.
//   - Stored procedures (adCmdStoredProc) go through the ODBC call escape.
//     On PostgreSQL a procedure is a function whose OUT parameters are the
//     output parameters followed by one refcursor per result set; with the
//     driver's FetchRefcursors=1 (the provider map's attributes) the driver
//     fills the outputs and returns the cursors' rows, inside a transaction,
//     so a call made outside one runs in a transaction of its own.
//
// Threads: each object belongs to one thread at a time (ADO's free-threaded
// objects are used that way by the system); two connections may be used on
// two threads at once. The idle cache behind Open/Close is shared and locked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/backend.h"
#include "platform/ado/dialect.h"
#include "platform/com/com_error.h"
#include "platform/com/com_ptr.h"
#include "platform/com/safearray.h"
#include "platform/com/variant.h"

namespace ado {

// Class identifiers of the creatable objects.
inline constexpr CLSID CLSID_Connection = {0x00000514, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr CLSID CLSID_Command = {0x00000507, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
inline constexpr CLSID CLSID_Recordset = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

// Registers Connection, Command and Recordset with platform/com's factory
// (once per process; further calls do nothing). Any thread.
void RegisterAdoClasses();
// Registers the creator of one of the three classes again, after a test
// replaced it with one that fails.
void RegisterAdoClass(REFCLSID clsid);

// DataTypeEnum: the type codes of fields and parameters.
enum DataTypeEnum : LONG {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adCurrency = 6,
  adDate = 7,
  adBSTR = 8,
  adError = 10,
  adBoolean = 11,
  adVariant = 12,
  adDecimal = 14,
  adTinyInt = 16,
  adUnsignedTinyInt = 17,
  adUnsignedSmallInt = 18,
  adUnsignedInt = 19,
  adBigInt = 20,
  adUnsignedBigInt = 21,
  adGUID = 72,
  adBinary = 128,
  adChar = 129,
  adWChar = 130,
  adNumeric = 131,
  adDBDate = 133,
  adDBTime = 134,
  adDBTimeStamp = 135,
  adVarChar = 200,
  adLongVarChar = 201,
  adVarWChar = 202,
  adLongVarWChar = 203,
  adVarBinary = 204,
  adLongVarBinary = 205,
};

enum ParameterDirectionEnum : LONG {
  adParamUnknown = 0,
  adParamInput = 1,
  adParamOutput = 2,
  adParamInputOutput = 3,
  adParamReturnValue = 4,
};

enum CommandTypeEnum : LONG {
  adCmdUnspecified = -1,
  adCmdText = 1,
  adCmdTable = 2,
  adCmdStoredProc = 4,
  adCmdUnknown = 8,
};

enum ExecuteOptionEnum : LONG {
  adOptionUnspecified = -1,
  adExecuteNoRecords = 0x80,
};

enum ObjectStateEnum : LONG {
  adStateClosed = 0,
  adStateOpen = 1,
  adStateConnecting = 2,
  adStateExecuting = 4,
  adStateFetching = 8,
};

enum CursorTypeEnum : LONG {
  adOpenUnspecified = -1,
  adOpenForwardOnly = 0,
  adOpenKeyset = 1,
  adOpenDynamic = 2,
  adOpenStatic = 3,
};

enum LockTypeEnum : LONG {
  adLockUnspecified = -1,
  adLockReadOnly = 1,
  adLockPessimistic = 2,
  adLockOptimistic = 3,
  adLockBatchOptimistic = 4,
};

enum CursorLocationEnum : LONG {
  adUseServer = 2,
  adUseClient = 3,
};

enum GetRowsOptionEnum : LONG {
  adGetRowsRest = -1,
};

enum BookmarkEnum : LONG {
  adBookmarkCurrent = 0,
  adBookmarkFirst = 1,
  adBookmarkLast = 2,
};

// XACT_E_NOTRANSACTION: commit or roll back without a transaction.
inline constexpr HRESULT kNoTransaction = HResultFromBits(0x8004D00Eu);
// XACT_E_XTIONEXISTS: a second BeginTrans on one connection.
inline constexpr HRESULT kTransactionExists = HResultFromBits(0x8004D013u);
// XACT_E_INDOUBT: the connection failed during a commit; whether the server
// committed cannot be told.
inline constexpr HRESULT kTransactionInDoubt = HResultFromBits(0x8004D016u);

class _Connection;
class _Command;
class _Recordset;
class Field;
class Fields;
class _Parameter;
class Parameters;
class Error;
class Errors;
class Property;
class Properties;

using _ConnectionPtr = _com_ptr_t<_Connection>;
using _CommandPtr = _com_ptr_t<_Command>;
using _RecordsetPtr = _com_ptr_t<_Recordset>;
using FieldPtr = _com_ptr_t<Field>;
using FieldsPtr = _com_ptr_t<Fields>;
using _ParameterPtr = _com_ptr_t<_Parameter>;
using ParametersPtr = _com_ptr_t<Parameters>;
using ErrorPtr = _com_ptr_t<Error>;
using ErrorsPtr = _com_ptr_t<Errors>;
using PropertyPtr = _com_ptr_t<Property>;
using PropertiesPtr = _com_ptr_t<Properties>;

// One diagnostic record of a failed operation.
class Error : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x00000500, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  LONG GetNumber() const { return number_; }  // the HRESULT raised for it
  _bstr_t GetSource() const { return source_; }
  _bstr_t GetDescription() const { return description_; }
  _bstr_t GetSQLState() const { return sqlState_; }  // normalised
  LONG GetNativeError() const { return nativeError_; }

 protected:
  Error() = default;
  ~Error() = default;

  LONG number_ = 0;
  _bstr_t source_;
  _bstr_t description_;
  _bstr_t sqlState_;
  LONG nativeError_ = 0;
  friend class ErrorList;
};

// The Errors of a connection: the records of its most recent failure.
class Errors : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x00000501, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  LONG GetCount() const { return static_cast<LONG>(items_.size()); }
  // By position from 0; adErrItemNotFound otherwise.
  ErrorPtr GetItem(const _variant_t& index) const;
  void Clear() { items_.clear(); }

 protected:
  Errors() = default;
  ~Errors() = default;

  std::vector<ErrorPtr> items_;
  friend class ErrorList;
};

class Property : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x00000503, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  _bstr_t GetName() const { return name_; }
  _variant_t GetValue() const { return value_; }

 protected:
  Property() = default;
  ~Property() = default;

  _bstr_t name_;
  _variant_t value_;
  friend class PropertyList;
};

// Dynamic properties of a connection ("DBMS Name", "Data Source Name", ...).
class Properties : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x00000504, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  LONG GetCount() const { return static_cast<LONG>(items_.size()); }
  // By position from 0 or by name (case ignored); adErrItemNotFound otherwise.
  PropertyPtr GetItem(const _variant_t& index) const;

 protected:
  Properties() = default;
  ~Properties() = default;

  std::vector<PropertyPtr> items_;
  friend class PropertyList;
};

class _Connection : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x00000550, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  // Opens the connection; `connectionString` empty means the one set with
  // PutConnectionString. A non-empty user or password replaces the
  // string's login (its "uid"/"User ID" or "pwd"/"Password" pairs). Throws
  // on failure (Errors filled).
  void Open(const _bstr_t& connectionString, const _bstr_t& userId, const _bstr_t& password, LONG options = -1);
  // Not part of ADO: Open with the login of `connectionString` (an empty
  // one: as Open), for a caller that opens one text again and again and has
  // named it `textId` (NewTextId) for as long as the text stays unchanged:
  // an Open on the same thread then finds what it worked out from the text
  // without reading the text again, while the provider override and the
  // driver are the ones it was worked out under.
  void OpenKnown(const _bstr_t& connectionString, std::uint64_t textId);
  // A name for OpenKnown, unique in the process (never 0).
  static std::uint64_t NewTextId();
  // Gives the physical connection back to the idle cache (rolling back an
  // open transaction). adErrObjectClosed when not open.
  void Close();
  // Runs a text; returns its first result as a recordset (closed when the
  // text returns no rows).
  _RecordsetPtr Execute(const _bstr_t& commandText, VARIANT* recordsAffected, LONG options = -1);
  // Returns the nesting level 1; a second call without commit or rollback
  // raises kTransactionExists.
  LONG BeginTrans();
  void CommitTrans();
  void RollbackTrans();

  LONG GetState() const { return session_ ? adStateOpen : adStateClosed; }
  ErrorsPtr GetErrors() const { return errors_; }
  PropertiesPtr GetProperties() const;
  _bstr_t GetConnectionString() const;
  void PutConnectionString(const _bstr_t& value) { connectionString_ = value; }
  LONG GetConnectionTimeout() const { return connectionTimeout_; }
  void PutConnectionTimeout(LONG seconds) { connectionTimeout_ = seconds; }
  LONG GetCommandTimeout() const { return commandTimeout_; }
  void PutCommandTimeout(LONG seconds) { commandTimeout_ = seconds; }
  _bstr_t GetProvider() const { return provider_; }

  // Not part of ADO: the dialect the connected server speaks.
  Dialect GetDialect() const { return dialect_; }
  // Not part of ADO: the server has ended the open transaction after a
  // failure (as PostgreSQL does at any error in a transaction), so nothing
  // more can run in it before RollbackTrans; trying a statement again is
  // useless. False outside a transaction.
  bool GetTransactionAborted() const { return transactionAborted_; }
  // Runs one request on the open connection: request.text receives `text`
  // rewritten for the server; fills Errors and throws on failure, and marks
  // the physical connection unusable after a connection-class error. Used
  // by Command and Recordset.
  void Run(backend::Request& request, std::wstring_view text, backend::Response* response);

 protected:
  _Connection();
  ~_Connection();

 private:
  struct Target;
  // Raises the first diagnostic's error, or `fallback` with `preface` (when
  // not empty) ahead of the diagnostics.
  [[noreturn]] void Fail(const backend::Diagnostics& diagnostics, HRESULT fallback,
                         const std::wstring& preface = std::wstring());
  [[noreturn]] void FailWith(HRESULT hr, const std::wstring& description);
  // What Open needs of `login`, shared with every Open of the same string
  // (null, with *error, when it cannot be used); *odbc gets the ODBC
  // string when it had to be translated here.
  // `textId` (0: none) names `login` as OpenKnown tells.
  std::shared_ptr<const Target> Plan(std::wstring_view login, std::uint64_t textId, backend::Driver& driver,
                                     std::wstring* odbc, std::wstring* error);
  // Open with `login` as the string and its login.
  void OpenLogin(std::wstring_view login, std::uint64_t textId);
  // A new physical connection for `login` (*odbc, when not empty, is its
  // translation; wiped).
  std::unique_ptr<backend::Session> Connect(std::wstring_view login, std::wstring* odbc,
                                            backend::Diagnostics* diagnostics);
  // Replaces a session from the cache that failed its first request.
  bool Reconnect(backend::Diagnostics* diagnostics);
  // The session has answered once: the string kept to reconnect goes.
  void Tested();
  bool Attempt(backend::Request& request, std::wstring_view text, backend::Response* response,
               backend::Diagnostics* diagnostics);
  // The identity column of a PostgreSQL table, from the catalogue once.
  // False when the look-up failed (*column is then empty and not kept).
  bool IdentityColumn(std::wstring_view table, std::wstring* column);
  void GiveBack(bool keep);
  // The idle cache's key of the last Open (empty when there is none).
  const std::wstring& CacheKey() const;

  ErrorsPtr errors_;
  std::unique_ptr<backend::Session> session_;
  backend::Driver* driver_ = nullptr;
  // What the last Open planned, shared with every Open of the same string
  // (no password in it): the idle cache's key and the ODBC string with its
  // password masked, read for the properties. Null before an Open and after
  // one whose string could not be used.
  std::shared_ptr<const Target> target_;
  // The ADO string (password included) of a session taken from the idle
  // cache, kept only until the session has answered once.
  std::wstring reconnect_;
  _bstr_t connectionString_;
  _bstr_t provider_;
  LONG connectionTimeout_ = 15;
  LONG commandTimeout_ = 30;
  Dialect dialect_ = Dialect::Other;
  bool broken_ = false;
  bool inTransaction_ = false;
  bool transactionAborted_ = false;
  bool untested_ = false;
};

class _Parameter : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x0000050C, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  _bstr_t GetName() const { return name_; }
  void PutName(const _bstr_t& name) { name_ = name; }
  DataTypeEnum GetType() const { return type_; }
  void PutType(DataTypeEnum type) { type_ = type; }
  ParameterDirectionEnum GetDirection() const { return direction_; }
  void PutDirection(ParameterDirectionEnum direction) { direction_ = direction; }
  LONG GetSize() const { return size_; }
  void PutSize(LONG size) { size_ = size; }
  BYTE GetPrecision() const { return precision_; }
  void PutPrecision(BYTE precision) { precision_ = precision; }
  BYTE GetNumericScale() const { return scale_; }
  void PutNumericScale(BYTE scale) { scale_ = scale; }
  // The input value, or after Execute the output value.
  _variant_t GetValue() const { return value_; }
  void PutValue(const _variant_t& value) { value_ = value; }

 protected:
  _Parameter() = default;
  ~_Parameter() = default;

 private:
  _bstr_t name_;
  DataTypeEnum type_ = adEmpty;
  ParameterDirectionEnum direction_ = adParamInput;
  LONG size_ = 0;
  BYTE precision_ = 0;
  BYTE scale_ = 0;
  _variant_t value_;
  friend class _Command;
};

class Parameters : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x0000050D, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  // Appends a parameter made by CreateParameter (E_INVALIDARG for null).
  void Append(_Parameter* parameter);
  void Delete(const _variant_t& index);
  LONG GetCount() const { return static_cast<LONG>(items_.size()); }
  // By position from 0 or by name (case ignored); adErrItemNotFound otherwise.
  _ParameterPtr GetItem(const _variant_t& index) const;

 protected:
  Parameters() = default;
  ~Parameters() = default;

 private:
  std::size_t IndexOf(const _variant_t& index) const;
  std::vector<_ParameterPtr> items_;
  friend class _Command;
};

class _Command : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x0000054E, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  _ConnectionPtr GetActiveConnection() const { return connection_; }
  void PutRefActiveConnection(_Connection* connection) { connection_ = connection; }
  _bstr_t GetCommandText() const { return text_; }
  void PutCommandText(const _bstr_t& text) { text_ = text; }
  CommandTypeEnum GetCommandType() const { return type_; }
  void PutCommandType(CommandTypeEnum type) { type_ = type; }
  LONG GetCommandTimeout() const { return timeout_; }
  void PutCommandTimeout(LONG seconds) { timeout_ = seconds; }
  // The command's collection: a part of it, so that a reference to it keeps
  // the command alive.
  ParametersPtr GetParameters() const;

  _ParameterPtr CreateParameter(const _bstr_t& name, DataTypeEnum type, ParameterDirectionEnum direction, LONG size,
                                const _variant_t& value = vtMissing);
  // Runs the command; returns its first result (a closed recordset when it
  // returns no rows, null with adExecuteNoRecords). Output parameters get
  // their values. adErrInvalidConnection without an open connection.
  _RecordsetPtr Execute(VARIANT* recordsAffected, VARIANT* parameters = nullptr, LONG options = -1);

  // Not part of ADO: runs the command for a recordset with a row limit.
  backend::Response Run(std::int64_t maxRows);

 protected:
  _Command();
  ~_Command() = default;

 private:
  _ConnectionPtr connection_;
  _bstr_t text_;
  CommandTypeEnum type_ = adCmdUnknown;
  LONG timeout_ = 30;
  ComPart<Parameters> parameters_;
};

class Field : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x00000569, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  _bstr_t GetName() const;
  DataTypeEnum GetType() const;
  LONG GetDefinedSize() const;
  BYTE GetPrecision() const;
  BYTE GetNumericScale() const;
  // The value of the current row; adErrNoCurrentRecord at BOF or EOF.
  _variant_t GetValue() const;
  // Bytes of the current value (characters × 2 for wide texts); 0 for NULL
  // and for an empty value.
  LONG GetActualSize() const;

 protected:
  Field() = default;
  ~Field() = default;

 private:
  // This field's column of the open result: adErrObjectClosed when the
  // recordset is closed, adErrNoCurrentRecord without a current row when
  // `current`, adErrItemNotFound when the result has fewer columns than the
  // one the field was taken from.
  const backend::ColumnInfo& Column(bool current) const;

  _Recordset* recordset_ = nullptr;  // the owner: this Field is a part of it
  std::size_t column_ = 0;
  friend class Fields;
  friend class _Recordset;
};

class Fields : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x00000564, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  LONG GetCount() const;
  // By position from 0 or by name (case ignored); adErrItemNotFound otherwise.
  FieldPtr GetItem(const _variant_t& index) const;

 protected:
  Fields() = default;
  ~Fields() = default;

 private:
  _Recordset* recordset_ = nullptr;  // the owner: this Fields is a part of it
  friend class _Recordset;
};

class _Recordset : public IDispatch {
 public:
  static constexpr IID kInterfaceId = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

  // Opens over a Command (VT_DISPATCH/VT_UNKNOWN source; `connection`
  // ignored) or a SQL text (VT_BSTR) on a connection object or string. The
  // cursor and lock types are accepted and ignored: every recordset is a
  // static, read-only copy.
  void Open(const _variant_t& source, const _variant_t& connection, CursorTypeEnum cursorType = adOpenUnspecified,
            LockTypeEnum lockType = adLockUnspecified, LONG options = -1);
  void Close();
  LONG GetState() const { return open_ ? adStateOpen : adStateClosed; }

  bool GetEndOfFile() const;
  bool GetBOF() const;
  LONG GetRecordCount() const;
  void MoveNext();
  void MovePrevious();
  void MoveFirst();
  void MoveLast();
  FieldsPtr GetFields();
  // Reads `rows` rows (adGetRowsRest: all) from `start` (missing or
  // adBookmarkCurrent: the current row; adBookmarkFirst; adBookmarkLast)
  // into a VT_ARRAY|VT_VARIANT of [field][row] and moves past them. `fields`
  // is missing, one field (position or name) or an array of them.
  // adErrNoCurrentRecord at EOF.
  _variant_t GetRows(LONG rows = adGetRowsRest, const _variant_t& start = vtMissing,
                     const _variant_t& fields = vtMissing);
  // The next result of the batch (a closed recordset for a result without
  // rows), or null when there is none; this recordset is closed.
  _RecordsetPtr NextRecordset(VARIANT* recordsAffected);

  _ConnectionPtr GetActiveConnection() const { return connection_; }
  // Null detaches the recordset: its rows stay readable.
  void PutRefActiveConnection(_Connection* connection) { connection_ = connection; }
  LONG GetMaxRecords() const { return maxRecords_; }
  void PutMaxRecords(LONG rows);
  CursorLocationEnum GetCursorLocation() const { return cursorLocation_; }
  void PutCursorLocation(CursorLocationEnum location) { cursorLocation_ = location; }

  // Not part of ADO: the row set read, for the benchmarks' memory figures.
  std::shared_ptr<const backend::RowSet> GetRowSet() const { return rows_; }

 protected:
  _Recordset();
  ~_Recordset();

 private:
  friend class _Connection;
  friend class _Command;
  friend class Field;
  friend class Fields;
  // Takes over the results of an execution, the first becomes current.
  void Attach(backend::Response response, std::size_t first, _ConnectionPtr connection);
  void CheckOpen() const;
  void CheckCurrent() const;

  _ConnectionPtr connection_;
  std::vector<backend::Result> results_;
  std::size_t result_ = 0;
  std::shared_ptr<const backend::RowSet> rows_;
  std::int64_t position_ = 0;  // -1 BOF, RowCount() EOF
  LONG maxRecords_ = 0;
  CursorLocationEnum cursorLocation_ = adUseServer;
  bool open_ = false;
  // The Fields collection, and one Field per column made on the first Item
  // asked for; they live inside this recordset and count their references
  // with it. A later result with more columns gets Field objects of its
  // own; the former ones stay valid as long as the recordset.
  ComPart<Fields> fields_;
  std::vector<ComPart<Field>> fieldItems_;
  std::vector<std::vector<ComPart<Field>>> formerFieldItems_;
};

// Creates the objects without the COM factory (each with its first
// reference held by the returned pointer).
_ConnectionPtr MakeConnection();
_CommandPtr MakeCommand();
_RecordsetPtr MakeRecordset();

// The driver new connections use: the ODBC driver unless a test put another
// in place (the scripted driver of the test fixtures). Any thread; tests swap it only while no
// connection opens.
backend::Driver& CurrentDriver();
// Sets the driver for new connections (null: the ODBC driver) and returns
// the one in effect before. For tests.
backend::Driver* SetDriver(backend::Driver* driver);

}  // namespace ado
