#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <unordered_map>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <string>
#include <utility>

#include "platform/ado/ascii_text.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/idle_cache.h"
#include "platform/ado/objects.h"
#include "platform/ado/sql_state.h"
#include "platform/ado/thread_own.h"

namespace ado {

// What Open needs to know of a connection string once it has been
// translated, without its password: the idle cache's key and the forms to
// show, those Open shows also as the texts it hands out (shared by every
// connection opened with it).
struct _Connection::Target {
  Target(std::wstring cacheKey, std::wstring redactedOdbc, std::wstring redactedAdo, std::wstring provider)
      : cacheKey(std::move(cacheKey)),
        redactedOdbc(std::move(redactedOdbc)),
        redactedAdo(std::move(redactedAdo)),
        provider(std::move(provider)),
        shownAdo(this->redactedAdo.c_str()),
        shownProvider(this->provider.c_str()) {}
  // A copy whose texts share no count with the original's.
  Target(const Target& other) : Target(other.cacheKey, other.redactedOdbc, other.redactedAdo, other.provider) {}
  Target& operator=(const Target&) = delete;

  std::wstring cacheKey;
  std::wstring redactedOdbc;
  std::wstring redactedAdo;
  std::wstring provider;
  _bstr_t shownAdo;       // redactedAdo
  _bstr_t shownProvider;  // provider
};

namespace {

std::wstring_view View(const _bstr_t& text) {
  const wchar_t* p = text;
  return p != nullptr ? std::wstring_view(p, text.length()) : std::wstring_view();
}

std::wstring Text(const _bstr_t& text) { return std::wstring(View(text)); }

// Wipes a string that held a password when the scope ends, also on a throw.
class WipeOnExit {
 public:
  explicit WipeOnExit(std::wstring& text) : text_(text) {}
  ~WipeOnExit() { WipeText(text_); }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

 private:
  std::wstring& text_;
};

// An empty text to return by reference (never destroyed: Open may run at exit).
const std::wstring& NoText() {
  static const std::wstring* const none = new std::wstring();
  return *none;
}

const std::wstring& InfoValue(const backend::Session& session, std::wstring_view name) {
  for (const auto& [key, value] : session.Info()) {
    if (key == name) return value;
  }
  return NoText();
}

// "host,port" or the DSN, as the providers report their data source.
std::wstring DataSourceOf(const std::wstring& odbc) {
  std::vector<ConnectionAttribute> pairs;
  if (!ParseOdbcConnectionString(odbc, &pairs, nullptr)) return {};
  std::wstring server, port, dsn;
  for (const auto& pair : pairs) {
    if (SameName(pair.keyword, L"Server") || SameName(pair.keyword, L"Servername")) server = pair.value;
    if (SameName(pair.keyword, L"Port")) port = pair.value;
    if (SameName(pair.keyword, L"DSN")) dsn = pair.value;
  }
  if (server.empty()) return dsn;
  return port.empty() ? server : server + L"," + port;
}

std::wstring FailoverPartnerOf(const std::wstring& adoString) {
  std::vector<ConnectionAttribute> pairs;
  std::wstring partner;
  if (ParseConnectionString(adoString, &pairs, nullptr)) {
    for (const auto& pair : pairs) {
      if (SameName(pair.keyword, L"Failover Partner")) partner = pair.value;
    }
  }
  return partner;
}

// A part of a digest: the bytes of a value, or a wide text.
struct Bytes {
  Bytes(std::wstring_view text) : wide(text), data(nullptr), size(text.size()) {}
  Bytes(const std::wstring& text) : Bytes(std::wstring_view(text)) {}
  Bytes(std::string_view text) : data(text.data()), size(text.size()) {}
  std::wstring_view wide;  // digested in its narrow form when data is null
  const void* data;
  std::size_t size;  // bytes, or the characters of a wide text
};

// A SHA-256 digest: keys that stand for a connection string without
// holding its password.
using DigestBytes = std::array<unsigned char, 32>;

// SHA-256 through OpenSSL's own block functions: the same digest as the
// EVP interface, without the provider context that EVP_DigestInit_ex frees
// and makes again (with an engine look-up) at every digest, on the stack
// and wiped after use, since what it digests may hold a password.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
class Sha256 {
 public:
  Sha256() { ok_ = SHA256_Init(&context_) == 1; }
  ~Sha256() { OPENSSL_cleanse(&context_, sizeof context_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, std::size_t size) { ok_ = ok_ && SHA256_Update(&context_, data, size) == 1; }
  bool Final(DigestBytes* digest) { return ok_ && SHA256_Final(digest->data(), &context_) == 1; }

 private:
  SHA256_CTX context_;
  bool ok_;
};
#pragma GCC diagnostic pop

// Feeds a wide text in its narrow form: one byte for a character below
// 0x80 (the whole of most connection strings), 0xFF and its four bytes for
// any other (so that no two texts give the same bytes), a quarter of the
// bytes of its wide form. Through a stack buffer that is wiped: the text
// may hold a password.
void DigestWide(Sha256& sha, std::wstring_view text) {
  unsigned char narrow[512];
  std::size_t used = 0;
  for (const wchar_t c : text) {
    if (used + 5 > sizeof narrow) {
      sha.Update(narrow, used);
      used = 0;
    }
    const auto code = static_cast<std::uint32_t>(c);
    if (code < 0x80) {
      narrow[used++] = static_cast<unsigned char>(code);
    } else {
      narrow[used++] = 0xFF;
      std::memcpy(narrow + used, &code, sizeof code);
      used += sizeof code;
    }
  }
  sha.Update(narrow, used);
  OPENSSL_cleanse(narrow, sizeof narrow);
}

// The SHA-256 of the parts.
DigestBytes Digest(std::initializer_list<Bytes> parts) {
  Sha256 sha;
  for (const Bytes& part : parts) {
    // Each part with its length, so that no two lists of parts run together.
    sha.Update(&part.size, sizeof part.size);
    if (part.data != nullptr) {
      sha.Update(part.data, part.size);
    } else {
      DigestWide(sha, part.wide);
    }
  }
  DigestBytes digest{};
  if (!sha.Final(&digest)) {
    throw _com_error(E_OUTOFMEMORY, _bstr_t(L"ADO"), _bstr_t(L"The connection string could not be digested."));
  }
  return digest;
}

// A digest in hexadecimal.
std::wstring Hex(const DigestBytes& digest) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring hex(2 * digest.size(), L'0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    hex[2 * i] = kHex[digest[i] >> 4];
    hex[2 * i + 1] = kHex[digest[i] & 15];
  }
  return hex;
}

// The driver's identity as a part of a digest: its address.
std::string_view DriverId(const backend::Driver* const& driver) {
  return std::string_view(reinterpret_cast<const char*>(&driver), sizeof driver);
}

// Texts found once and kept for the process, by a pair of texts: a
// table's identity column (by cache key and table name: each table is
// looked up once per database and login) and the rewrite of a statement's
// text (by cache key and text, since the rewrite names identity columns).
// Looked up without building a key. At most 1024 entries: one more starts
// it afresh.
template <typename Value>
class TextMemo {
 public:
  bool Find(std::wstring_view first, std::wstring_view second, Value* value) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    auto found = texts_.find(KeyView{first, second});
    if (found == texts_.end()) return false;
    *value = found->second;
    return true;
  }
  void Keep(std::wstring_view first, std::wstring_view second, const Value& value) {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    if (texts_.size() >= 1024) {
      texts_.clear();
      clears_.fetch_add(1, std::memory_order_relaxed);
    }
    texts_.insert_or_assign(Key{std::wstring(first), std::wstring(second)}, value);
  }
  // How often the memo has started afresh: what was found in it before is
  // not to be used past a fresh start.
  std::uint64_t Clears() const { return clears_.load(std::memory_order_relaxed); }

 private:
  using Key = std::pair<std::wstring, std::wstring>;
  using KeyView = std::pair<std::wstring_view, std::wstring_view>;
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(const KeyView& key) const {
      const std::size_t first = std::hash<std::wstring_view>()(key.first);
      return first ^ (std::hash<std::wstring_view>()(key.second) + 0x9e3779b97f4a7c15ull + (first << 6) + (first >> 2));
    }
    std::size_t operator()(const Key& key) const { return (*this)(KeyView{key.first, key.second}); }
  };
  struct Equal {
    using is_transparent = void;
    static KeyView View(const Key& key) { return {key.first, key.second}; }
    static KeyView View(const KeyView& key) { return key; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return View(a) == View(b);
    }
  };

  mutable std::shared_mutex mutex_;
  std::unordered_map<Key, Value, Hash, Equal> texts_;
  std::atomic<std::uint64_t> clears_{0};
};

// A statement's text as it goes to PostgreSQL, also in the UTF-16 its
// driver reads.
struct Rewrite {
  std::wstring text;
  std::u16string utf16;
};

TextMemo<std::wstring>& KnownIdentityColumns() {
  static auto* columns = new TextMemo<std::wstring>();  // never destroyed: Open may run at exit
  return *columns;
}

TextMemo<Rewrite>& KnownRewrites() {
  static auto* rewrites = new TextMemo<Rewrite>();  // never destroyed: statements may run at exit
  return *rewrites;
}

// The last N entries a thread kept, found again by a linear look without a
// lock; a new one takes the place of the oldest.
template <typename Entry, std::size_t N>
class Recent {
 public:
  template <typename Match>
  const Entry* Find(Match match) const {
    for (const Entry& entry : entries_) {
      if (match(entry)) return &entry;
    }
    return nullptr;
  }
  // The entry to fill in place of the oldest.
  Entry& Replace() {
    Entry& entry = entries_[next_];
    next_ = (next_ + 1) % N;
    return entry;
  }

 private:
  std::array<Entry, N> entries_;
  std::size_t next_ = 0;
};

// The rewrites a thread used last, each a copy of its own, found again
// without a lock, a hash or a shared count: by the plan of the connection
// (which stands for its cache key) and the text. And the room for the
// next statement's text, handed on from one statement to the next.
class RecentRewrites {
 public:
  const Rewrite* Find(const void* target, std::wstring_view text, std::uint64_t clears) const {
    if (target == nullptr) return nullptr;
    const Entry* found = entries_.Find([&](const Entry& entry) {
      return entry.target.get() == target && entry.clears == clears && entry.source == text;
    });
    return found != nullptr ? &found->rewrite : nullptr;
  }
  const Rewrite* Remember(std::shared_ptr<const void> target, std::wstring_view text, std::uint64_t clears,
                          Rewrite rewrite) {
    Entry& entry = entries_.Replace();
    entry.target = std::move(target);
    entry.source.assign(text);
    entry.clears = clears;
    entry.rewrite = std::move(rewrite);
    return &entry.rewrite;
  }
  std::wstring& Spare() { return spare_; }

 private:
  struct Entry {
    std::shared_ptr<const void> target;
    std::wstring source;
    std::uint64_t clears = 0;
    Rewrite rewrite;
  };
  Recent<Entry, 8> entries_;
  std::wstring spare_;
};

// The plans a thread's Opens of known texts (OpenKnown) used last, found
// again without a digest or a lock: by the text's name, the provider
// override (its value is no secret) and the driver they were worked out
// under. Each is a copy of the thread's own, so that an Open writes no
// count that other threads' Opens write too.
template <typename Plan>
class RecentPlans {
 public:
  const std::shared_ptr<const Plan>* Find(std::uint64_t textId, const char* override,
                                          const backend::Driver* driver) const {
    const Entry* found = entries_.Find([&](const Entry& entry) {
      return entry.textId == textId && entry.driver == driver &&
             (override != nullptr ? entry.overrideSet && entry.override == override : !entry.overrideSet);
    });
    return found != nullptr ? &found->plan : nullptr;
  }
  // Keeps a copy of `plan` in place of the oldest; returns the copy.
  const std::shared_ptr<const Plan>& Remember(std::uint64_t textId, const char* override,
                                              const backend::Driver* driver, const Plan& plan) {
    Entry& entry = entries_.Replace();
    entry.textId = textId;
    entry.overrideSet = override != nullptr;
    entry.override.assign(override != nullptr ? override : "");
    entry.driver = driver;
    entry.plan = std::make_shared<const Plan>(plan);
    return entry.plan;
  }

 private:
  struct Entry {
    std::uint64_t textId = 0;  // 0: unused
    bool overrideSet = false;
    std::string override;
    const backend::Driver* driver = nullptr;
    std::shared_ptr<const Plan> plan;
  };
  Recent<Entry, 4> entries_;
};

std::atomic<std::uint64_t> lastTextId{0};

// PostgreSQL's identity column of a table: a column GENERATED AS IDENTITY or
// one whose default draws from a sequence (serial), the first of them.
constexpr wchar_t kIdentityQuery[] =
    L"SELECT quote_ident(a.attname) FROM pg_catalog.pg_attribute a "
    L"WHERE a.attrelid = to_regclass(?) AND a.attnum > 0 AND NOT a.attisdropped "
    L"AND (a.attidentity <> '' OR EXISTS (SELECT 1 FROM pg_catalog.pg_attrdef d "
    L"WHERE d.adrelid = a.attrelid AND d.adnum = a.attnum "
    L"AND pg_catalog.pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%')) "
    L"ORDER BY a.attnum LIMIT 1";

bool ConnectionClass(const backend::Diagnostics& diagnostics) {
  for (const backend::Diagnostic& d : diagnostics) {
    if (ClassifySqlState(d.sqlState).connectionClass) return true;
  }
  return false;
}

}  // namespace

_Connection::_Connection() : errors_(ErrorList::Make()) {}

_Connection::~_Connection() {
  if (session_) GiveBack(!broken_);
  WipeText(reconnect_);
}

void _Connection::FailWith(HRESULT hr, const std::wstring& description) {
  errors_->Clear();
  const std::wstring source = Text(provider_).empty() ? L"ADO" : Text(provider_);
  ErrorList::Add(errors_, hr, source, description, std::string(), 0);
  throw _com_error(hr, _bstr_t(source.c_str()), _bstr_t(description.c_str()));
}

void _Connection::Fail(const backend::Diagnostics& diagnostics, HRESULT fallback, const std::wstring& preface) {
  errors_->Clear();
  const std::wstring source = Text(provider_).empty() ? L"ADO" : Text(provider_);
  HRESULT raised = fallback;
  std::wstring description;
  bool decided = false;
  if (!preface.empty()) {
    ErrorList::Add(errors_, fallback, source, preface, std::string(), 0);
    description = preface;
    decided = true;
  }
  for (const backend::Diagnostic& d : diagnostics) {
    const SqlStateInfo info = ClassifySqlState(d.sqlState);
    std::wstring text = d.message;
    if (info.state != d.sqlState) text += L" (SQLSTATE " + backend::WideFromUtf8(d.sqlState) + L")";
    ErrorList::Add(errors_, info.hr, source, text, info.state, d.nativeError);
    // The first error decides what is raised; a warning ("01...") only
    // when there is nothing else.
    const bool warning = d.sqlState.rfind("01", 0) == 0;
    if (!decided && (!warning || description.empty())) {
      raised = info.hr;
      description = text;
      decided = !warning;
    }
  }
  if (ConnectionClass(diagnostics)) {
    broken_ = true;
    // The connections idle beside this one reach the same server: suspect too.
    if (!CacheKey().empty()) IdleCache::Shared().Drop(CacheKey());
  }
  if (diagnostics.empty() && preface.empty()) {
    description = L"The driver failed without a diagnostic record.";
    ErrorList::Add(errors_, raised, source, description, std::string(), 0);
  }
  if (!preface.empty() && !diagnostics.empty()) description += L" " + diagnostics.front().message;
  throw _com_error(raised, _bstr_t(source.c_str()), _bstr_t(description.c_str()));
}

std::shared_ptr<const _Connection::Target> _Connection::Plan(std::wstring_view login, std::uint64_t textId,
                                                            backend::Driver& driver, std::wstring* odbc,
                                                            std::wstring* error) {
  // Translations are remembered by a digest of the string, the driver and
  // the provider override in effect (unset and empty told apart), so that a
  // pooled Open neither parses the same text again nor keeps a password.
  // Failures are not kept: their errors are built afresh. Opens look up at
  // once; only a translation made anew takes the memo's lock alone. A
  // known text is first looked for among its thread's recent plans.
  constexpr std::size_t kMemoCapacity = 64;
  static std::shared_mutex* memoMutex = new std::shared_mutex();  // never destroyed: Open may run at exit
  static auto* memo = new std::map<DigestBytes, std::shared_ptr<const Target>>();
  const char* spec = std::getenv(kProviderOverrideVariable);
  const backend::Driver* const driverAddress = &driver;
  RecentPlans<Target>* recent = textId != 0 ? ThreadOwn<RecentPlans<Target>>() : nullptr;
  if (recent != nullptr) {
    if (const std::shared_ptr<const Target>* known = recent->Find(textId, spec, driverAddress)) return *known;
  }
  const std::string_view override = spec != nullptr ? std::string_view(spec) : std::string_view();
  const DigestBytes key =
      Digest({std::string_view(spec != nullptr ? "=" : ""), override, DriverId(driverAddress), login});
  std::shared_ptr<const Target> target;
  {
    std::shared_lock<std::shared_mutex> lock(*memoMutex);
    auto found = memo->find(key);
    if (found != memo->end()) target = found->second;
  }
  if (target == nullptr) {
    OdbcTarget translated;
    if (!TranslateConnectionString(login, &translated, error)) return nullptr;
    target = std::make_shared<const Target>(Hex(Digest({DriverId(driverAddress), translated.odbc})),
                                            std::move(translated.redacted), MaskPasswords(login, L"***"),
                                            std::move(translated.provider));
    *odbc = std::move(translated.odbc);
    std::unique_lock<std::shared_mutex> lock(*memoMutex);
    if (memo->size() >= kMemoCapacity) memo->clear();
    memo->emplace(key, target);
  }
  return recent != nullptr ? recent->Remember(textId, spec, driverAddress, *target) : target;
}

std::unique_ptr<backend::Session> _Connection::Connect(std::wstring_view login, std::wstring* odbc,
                                                       backend::Diagnostics* diagnostics) {
  WipeOnExit wipe(*odbc);
  if (odbc->empty()) {
    OdbcTarget translated;
    if (!TranslateConnectionString(login, &translated, nullptr)) {
      diagnostics->push_back(backend::Diagnostic{"08001", 0, L"The connection string cannot be used."});
      return nullptr;
    }
    *odbc = std::move(translated.odbc);
  }
  return driver_->Connect(*odbc, connectionTimeout_, diagnostics);
}

void _Connection::Open(const _bstr_t& connectionString, const _bstr_t& userId, const _bstr_t& password, LONG) {
  if (session_) Raise(adErrObjectOpen, L"Operation is not allowed when the object is open.");
  // The string given is read where it is; the object's own is copied, since
  // it changes below.
  std::wstring stored;
  WipeOnExit wipeStored(stored);
  std::wstring_view adoString = View(connectionString);
  if (adoString.empty()) {
    stored = Text(connectionString_);
    adoString = stored;
  }
  const std::wstring_view user = View(userId);
  const std::wstring_view secret = View(password);
  // The string as given when no login replaces its own (no copy to wipe).
  std::wstring replaced = user.empty() && secret.empty() ? std::wstring() : ReplaceLogin(adoString, user, secret);
  WipeOnExit wipeReplaced(replaced);
  const std::wstring_view login = user.empty() && secret.empty() ? adoString : std::wstring_view(replaced);
  OpenLogin(login, 0);
}

void _Connection::OpenKnown(const _bstr_t& connectionString, std::uint64_t textId) {
  if (connectionString.length() == 0) return Open(connectionString, _bstr_t(), _bstr_t());
  if (session_) Raise(adErrObjectOpen, L"Operation is not allowed when the object is open.");
  OpenLogin(View(connectionString), textId);
}

std::uint64_t _Connection::NewTextId() { return lastTextId.fetch_add(1, std::memory_order_relaxed) + 1; }

void _Connection::OpenLogin(std::wstring_view login, std::uint64_t textId) {
  backend::Driver& driver = CurrentDriver();
  std::wstring odbc;
  WipeOnExit wipeOdbc(odbc);
  std::wstring error;
  target_ = Plan(login, textId, driver, &odbc, &error);
  const Target* const target = target_.get();
  if (target == nullptr) {
    provider_ = _bstr_t();
    FailWith(E_FAIL, L"The connection string cannot be used: " + error);
  }
  // What ConnectionString shows from now on: the string without its
  // password, as a provider that does not persist security information does.
  connectionString_ = target->shownAdo;
  provider_ = target->shownProvider;
  broken_ = false;
  inTransaction_ = false;
  transactionAborted_ = false;
  driver_ = &driver;

  std::unique_ptr<backend::Session> session = IdleCache::Shared().Take(target->cacheKey);
  untested_ = session != nullptr;
  if (untested_) {
    // Kept until the session has answered once (see Run).
    reconnect_.assign(login);
  } else {
    backend::Diagnostics diagnostics;
    session = Connect(login, &odbc, &diagnostics);
    if (!session) Fail(diagnostics, E_FAIL);
  }
  if (target->provider.empty()) provider_ = InfoValue(*session, L"Driver Name").c_str();
  dialect_ = DialectOfDbms(InfoValue(*session, L"DBMS Name"));
  session_ = std::move(session);
}

void _Connection::Tested() {
  untested_ = false;
  WipeText(reconnect_);
}

bool _Connection::Reconnect(backend::Diagnostics* diagnostics) {
  std::wstring login;
  login.swap(reconnect_);
  WipeOnExit wipe(login);
  Tested();
  session_.reset();
  IdleCache::Shared().Drop(CacheKey());
  std::wstring odbc;
  backend::Diagnostics failure;
  session_ = Connect(login, &odbc, &failure);
  if (!session_) {
    *diagnostics = std::move(failure);
    return false;
  }
  if (inTransaction_ && !session_->BeginTransaction(&failure)) {
    *diagnostics = std::move(failure);
    return false;
  }
  return true;
}

void _Connection::GiveBack(bool keep) {
  std::unique_ptr<backend::Session> session = std::move(session_);
  Tested();
  if (inTransaction_) {
    backend::Diagnostics ignored;
    if (!session->EndTransaction(false, &ignored)) keep = false;
    inTransaction_ = false;
  }
  if (keep) IdleCache::Shared().Put(CacheKey(), std::move(session));
}

const std::wstring& _Connection::CacheKey() const { return target_ ? target_->cacheKey : NoText(); }

void _Connection::Close() {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  GiveBack(!broken_);
}

bool _Connection::Attempt(backend::Request& request, std::wstring_view text, backend::Response* response,
                          backend::Diagnostics* diagnostics) {
  Rewrite made;  // a rewrite not remembered by this thread
  if (dialect_ == Dialect::PostgreSql) {
    // The same text on the same database gets the same rewrite, unless an
    // identity column it names could not be looked up this time.
    const std::uint64_t clears = KnownRewrites().Clears();
    RecentRewrites* recent = ThreadOwn<RecentRewrites>();
    const Rewrite* rewrite = recent != nullptr ? recent->Find(target_.get(), text, clears) : nullptr;
    if (rewrite == nullptr) {
      bool known = KnownRewrites().Find(CacheKey(), text, &made);
      if (!known) {
        known = true;
        made.text = RewriteSql(text, dialect_, [this, &known](std::wstring_view table) {
          std::wstring column;
          if (!IdentityColumn(table, &column)) known = false;
          return column;
        });
        backend::Utf16Into(made.text, made.utf16);
        if (known) KnownRewrites().Keep(CacheKey(), text, made);
      }
      rewrite = known && recent != nullptr ? recent->Remember(target_, text, clears, std::move(made)) : &made;
    }
    request.text.assign(rewrite->text);
    request.utf16 = &rewrite->utf16;
  } else {
    request.text = RewriteSql(text, dialect_);
  }
  // The PostgreSQL driver returns a procedure's result cursors only inside
  // a transaction.
  const bool ownTransaction = request.procedure && dialect_ == Dialect::PostgreSql && !inTransaction_;
  if (ownTransaction && !session_->BeginTransaction(diagnostics)) return false;
  bool ok = session_->Execute(request, response, diagnostics);
  request.utf16 = nullptr;  // it may not outlive the next statement
  if (ownTransaction) ok = session_->EndTransaction(ok, diagnostics) && ok;
  return ok;
}

bool _Connection::IdentityColumn(std::wstring_view table, std::wstring* column) {
  if (KnownIdentityColumns().Find(CacheKey(), table, column)) return true;
  std::vector<backend::Param> params(1);
  params[0].kind = backend::ValueKind::Text;
  params[0].value.kind = backend::ValueKind::Text;
  params[0].value.text = std::wstring(table);
  backend::Request lookup;
  lookup.text = kIdentityQuery;
  lookup.params = &params;
  backend::Response response;
  backend::Diagnostics ignored;
  // A failed look-up is not kept: the statement that needed it fails or
  // runs without the identity, and the next one looks again.
  if (!session_->Execute(lookup, &response, &ignored)) return false;
  column->clear();
  if (!response.results.empty() && response.results.front().rows &&
      response.results.front().rows->RowCount() > 0 && !response.results.front().rows->IsNull(0, 0)) {
    *column = backend::WideFromUtf8(response.results.front().rows->TextAt(0, 0));
  }
  KnownIdentityColumns().Keep(CacheKey(), table, *column);
  return true;
}

void _Connection::Run(backend::Request& request, std::wstring_view text, backend::Response* response) {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  // Attempt gives request.text the form the dialect needs, each time from
  // the caller's text, in the room the thread's previous statement left
  // (which gets it back afterwards, whatever the outcome).
  RecentRewrites* recent = ThreadOwn<RecentRewrites>();
  struct SpareBack {
    RecentRewrites* recent;
    std::wstring& text;
    ~SpareBack() {
      if (recent != nullptr) recent->Spare().swap(text);
    }
  } spareBack{recent, request.text};
  if (recent != nullptr) request.text.swap(recent->Spare());
  backend::Diagnostics diagnostics;
  bool ok = Attempt(request, text, response, &diagnostics);
  if (!ok && untested_ && ConnectionClass(diagnostics)) {
    // The session died while idle in the cache, before this first request
    // could reach the server: nothing of it ran. Once more on a new one.
    response->results.clear();
    diagnostics.clear();
    ok = Reconnect(&diagnostics) && Attempt(request, text, response, &diagnostics);
    if (!session_) {
      broken_ = true;
      Fail(diagnostics, E_FAIL);
    }
  }
  Tested();
  if (!ok) {
    // PostgreSQL ends a transaction at its first failure: nothing more can
    // run in it until it is rolled back.
    if (inTransaction_ && dialect_ == Dialect::PostgreSql) transactionAborted_ = true;
    Fail(diagnostics, E_FAIL);
  }
}

_RecordsetPtr _Connection::Execute(const _bstr_t& commandText, VARIANT* recordsAffected, LONG options) {
  _CommandPtr command = MakeCommand();
  command->PutRefActiveConnection(this);
  command->PutCommandText(commandText);
  command->PutCommandType(adCmdText);
  command->PutCommandTimeout(commandTimeout_);
  return command->Execute(recordsAffected, nullptr, options);
}

LONG _Connection::BeginTrans() {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  if (inTransaction_) FailWith(kTransactionExists, L"A transaction is already active on this connection.");
  backend::Diagnostics diagnostics;
  bool ok = session_->BeginTransaction(&diagnostics);
  if (!ok && untested_ && ConnectionClass(diagnostics)) {
    diagnostics.clear();
    ok = Reconnect(&diagnostics) && session_->BeginTransaction(&diagnostics);
    if (!session_) broken_ = true;
  }
  if (!ok) {
    Tested();
    Fail(diagnostics, E_FAIL);
  }
  inTransaction_ = true;
  transactionAborted_ = false;
  return 1;
}

void _Connection::CommitTrans() {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  if (!inTransaction_) FailWith(kNoTransaction, L"No transaction is active.");
  backend::Diagnostics diagnostics;
  const bool ok = session_->EndTransaction(true, &diagnostics);
  // The transaction is over either way: committed, rolled back by the
  // server or the driver, or lost with the connection.
  inTransaction_ = false;
  transactionAborted_ = false;
  Tested();
  if (ok) return;
  if (ConnectionClass(diagnostics)) {
    Fail(diagnostics, kTransactionInDoubt,
         L"The connection failed during the commit: the outcome of the transaction is unknown.");
  }
  Fail(diagnostics, E_FAIL);
}

void _Connection::RollbackTrans() {
  if (!session_) Raise(adErrObjectClosed, L"Operation is not allowed when the object is closed.");
  if (!inTransaction_) FailWith(kNoTransaction, L"No transaction is active.");
  inTransaction_ = false;
  transactionAborted_ = false;
  Tested();
  backend::Diagnostics diagnostics;
  if (!session_->EndTransaction(false, &diagnostics)) Fail(diagnostics, E_FAIL);
}

_bstr_t _Connection::GetConnectionString() const { return connectionString_; }

PropertiesPtr _Connection::GetProperties() const {
  std::vector<std::pair<std::wstring, _variant_t>> items;
  auto add = [&items](const wchar_t* name, const std::wstring& value) {
    items.emplace_back(name, _variant_t(value.c_str()));
  };
  const std::wstring provider = Text(provider_);
  add(L"Provider Name", provider);
  add(L"Provider Friendly Name", provider);
  add(L"OLE DB Version", L"02.70");
  if (session_) {
    add(L"Provider Version", InfoValue(*session_, L"Driver Version"));
    add(L"DBMS Name", InfoValue(*session_, L"DBMS Name"));
    add(L"DBMS Version", InfoValue(*session_, L"DBMS Version"));
    add(L"Current Catalog", InfoValue(*session_, L"Current Catalog"));
    add(L"User Name", InfoValue(*session_, L"User Name"));
    add(L"Data Source Name", DataSourceOf(target_->redactedOdbc));
    // The provider's connection string, with every password masked.
    add(L"Extended Properties", target_->redactedOdbc);
    const std::wstring failoverPartner = FailoverPartnerOf(Text(connectionString_));
    if (!failoverPartner.empty()) add(L"Failover Partner", failoverPartner);
  }
  return PropertyList::Make(items);
}

}  // namespace ado
