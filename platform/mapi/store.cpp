#include "platform/mapi/store.h"

#include <map>
#include <optional>
#include <set>
#include <vector>

#include "platform/mapi/entry_id.h"
#include "platform/mapi/text.h"
#include "platform/win32/time.h"

namespace mapi_internal {
namespace {

// Properties a folder or message computes and no caller may set.
bool IsComputed(ULONG id) {
  static const std::set<ULONG> computed = {
      PROP_ID(PR_ENTRYID),       PROP_ID(PR_OBJECT_TYPE),
      PROP_ID(PR_PARENT_ENTRYID), PROP_ID(PR_CREATION_TIME),
      PROP_ID(PR_LAST_MODIFICATION_TIME), PROP_ID(PR_FOLDER_TYPE)};
  return computed.count(id) != 0;
}

std::uint64_t Now() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// One folder's or message's row of the objects table.
struct ObjectRow {
  std::int64_t id = 0;
  std::int64_t parent = 0;  // 0 for a root folder
  ULONG kind = MAPI_MESSAGE;
  std::int64_t version = 0;
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
};

// MAPI_E_NOT_FOUND when `id` is no object of `store`.
HRESULT LoadObjectRow(Database& db, std::int64_t store, std::int64_t id, ObjectRow* row,
                      Failure* failure) {
  Statement read;
  HRESULT hr = db.Prepare(
      "SELECT parent, kind, version, created, modified FROM objects WHERE id = ? AND store = ?",
      &read, failure);
  if (FAILED(hr)) return hr;
  read.Bind(1, id);
  read.Bind(2, store);
  bool found = false;
  hr = read.Step(&found, failure);
  if (FAILED(hr)) return hr;
  if (!found) {
    *failure = Failure{MAPI_E_NOT_FOUND, "no such folder or message in this store", 0};
    return MAPI_E_NOT_FOUND;
  }
  row->id = id;
  row->parent = read.IsNull(0) ? 0 : read.Int(0);
  row->kind = static_cast<ULONG>(read.Int(1));
  row->version = read.Int(2);
  row->created = static_cast<std::uint64_t>(read.Int(3));
  row->modified = static_cast<std::uint64_t>(read.Int(4));
  return S_OK;
}

HRESULT LoadStoredProps(Database& db, std::int64_t id, PropertyBag* bag, Failure* failure) {
  Statement read;
  HRESULT hr = db.Prepare("SELECT id, type, value FROM props WHERE object = ?", &read, failure);
  if (FAILED(hr)) return hr;
  read.Bind(1, id);
  for (;;) {
    bool row = false;
    hr = read.Step(&row, failure);
    if (FAILED(hr)) return hr;
    if (!row) return S_OK;
    Value value;
    if (!DecodeFromStorage(static_cast<ULONG>(read.Int(1)), read.Blob(2), &value)) {
      *failure = Failure{MAPI_E_CORRUPT_DATA, "a stored property cannot be read", 0};
      return MAPI_E_CORRUPT_DATA;
    }
    (*bag)[static_cast<ULONG>(read.Int(0))] = std::move(value);
  }
}

void AddComputed(const StoreInfo& store, const ObjectRow& row, PropertyBag* bag) {
  if (row.id != 0) {
    (*bag)[PROP_ID(PR_ENTRYID)] = BinaryValue(ObjectEntryId(row.kind, store.id, row.id));
    (*bag)[PROP_ID(PR_LAST_MODIFICATION_TIME)] = TimeValue(row.modified);
  }
  if (row.parent != 0) {
    (*bag)[PROP_ID(PR_PARENT_ENTRYID)] = BinaryValue(ObjectEntryId(MAPI_FOLDER, store.id, row.parent));
  }
  (*bag)[PROP_ID(PR_OBJECT_TYPE)] = LongValue(static_cast<std::int32_t>(row.kind));
  (*bag)[PROP_ID(PR_CREATION_TIME)] = TimeValue(row.created);
  if (row.kind == MAPI_FOLDER) {
    (*bag)[PROP_ID(PR_FOLDER_TYPE)] =
        LongValue(static_cast<std::int32_t>(row.parent == 0 ? FOLDER_ROOT : FOLDER_GENERIC));
  }
}

// Every property of a saved object, as committed.
HRESULT ReadObject(Database& db, const StoreInfo& store, std::int64_t id, ObjectRow* row,
                   PropertyBag* bag, Failure* failure) {
  Transaction transaction(db);
  HRESULT hr = transaction.BeginRead(failure);
  if (SUCCEEDED(hr)) hr = LoadObjectRow(db, store.id, id, row, failure);
  if (SUCCEEDED(hr)) hr = LoadStoredProps(db, id, bag, failure);
  if (SUCCEEDED(hr)) hr = transaction.Commit(failure);
  if (SUCCEEDED(hr)) AddComputed(store, *row, bag);
  return hr;
}

// The folders (kind MAPI_FOLDER) or messages below `parent`, by number.
HRESULT Children(Database& db, std::int64_t parent, ULONG kind, std::vector<std::int64_t>* ids,
                 Failure* failure) {
  Statement read;
  HRESULT hr = db.Prepare("SELECT id FROM objects WHERE parent = ? AND kind = ? ORDER BY id", &read,
                          failure);
  if (FAILED(hr)) return hr;
  read.Bind(1, parent);
  read.Bind(2, kind);
  for (;;) {
    bool row = false;
    hr = read.Step(&row, failure);
    if (FAILED(hr) || !row) return hr;
    ids->push_back(read.Int(0));
  }
}

class FolderTableSource final : public RowSource {
 public:
  FolderTableSource(std::shared_ptr<Context> context, std::shared_ptr<const StoreInfo> store,
                    std::int64_t folder, ULONG kind, bool deep)
      : context_(std::move(context)), store_(std::move(store)), folder_(folder), kind_(kind),
        deep_(deep) {}

  HRESULT Keys(const Condition*, std::vector<RowKey>* keys, Failure* failure) override {
    return Walk(folder_, 0, keys, failure);
  }

  HRESULT Read(const RowKey& key, PropertyBag* row, Failure* failure) override {
    ObjectRow object;
    HRESULT hr = ReadObject(*context_->db, *store_, key.id, &object, row, failure);
    if (hr == MAPI_E_NOT_FOUND) {
      // Deleted since the table read its rows: a row of its identity alone.
      row->clear();
      (*row)[PROP_ID(PR_ENTRYID)] = BinaryValue(ObjectEntryId(kind_, store_->id, key.id));
      (*row)[PROP_ID(PR_OBJECT_TYPE)] = LongValue(static_cast<std::int32_t>(kind_));
      hr = S_OK;
    }
    if (kind_ == MAPI_FOLDER) (*row)[PROP_ID(PR_DEPTH)] = LongValue(key.depth);
    return hr;
  }

  std::vector<ULONG> DefaultColumns() const override {
    return {PR_ENTRYID, PR_DISPLAY_NAME, PR_OBJECT_TYPE};
  }

 private:
  HRESULT Walk(std::int64_t parent, LONG depth, std::vector<RowKey>* keys, Failure* failure) {
    std::vector<std::int64_t> ids;
    HRESULT hr = Children(*context_->db, parent, kind_, &ids, failure);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < ids.size(); ++i) {
      keys->push_back({ids[i], depth});
      if (deep_) hr = Walk(ids[i], depth + 1, keys, failure);
    }
    return hr;
  }

  std::shared_ptr<Context> context_;
  std::shared_ptr<const StoreInfo> store_;
  std::int64_t folder_;
  ULONG kind_;
  bool deep_;
};

HRESULT OpenStoreEntry(const std::shared_ptr<Context>& context,
                       const std::shared_ptr<const StoreInfo>& store, ULONG cbEntryID,
                       LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                       LPUNKNOWN* lppUnk, Failure* failure);

// The IMAPIProp side of a folder or message: its saved state and the
// changes made through this handle since it last saved.
template <class Interface>
class StoredObject : public PropObject<Interface> {
 public:
  HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray,
                   LPSPropProblemArray* lppProblems) override {
    auto hold = this->Enter();
    if (lppProblems != nullptr) *lppProblems = nullptr;
    if (const HRESULT hr = this->Injected("IMAPIProp::SetProps")) return hr;
    if (cValues > 0 && lpPropArray == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (!writable_) return this->Fail(MAPI_E_NO_ACCESS, "opened read-only");
    std::vector<SPropProblem> problems;
    for (ULONG i = 0; i < cValues; ++i) {
      const ULONG tag = lpPropArray[i].ulPropTag;
      Value value;
      HRESULT hr = IsComputed(PROP_ID(tag)) ? MAPI_E_COMPUTED : ValueFromProp(lpPropArray[i], &value);
      if (SUCCEEDED(hr) && PROP_ID(tag) == 0) hr = MAPI_E_INVALID_PARAMETER;
      if (FAILED(hr)) {
        problems.push_back({i, tag, hr});
      } else {
        pending_[PROP_ID(tag)] = std::move(value);
      }
    }
    return HandOutProblems(problems, lppProblems);
  }

  HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) override {
    auto hold = this->Enter();
    if (lppProblems != nullptr) *lppProblems = nullptr;
    if (const HRESULT hr = this->Injected("IMAPIProp::DeleteProps")) return hr;
    if (lpPropTagArray == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (!writable_) return this->Fail(MAPI_E_NO_ACCESS, "opened read-only");
    std::vector<SPropProblem> problems;
    for (ULONG i = 0; i < lpPropTagArray->cValues; ++i) {
      const ULONG tag = lpPropTagArray->aulPropTag[i];
      if (IsComputed(PROP_ID(tag))) {
        problems.push_back({i, tag, MAPI_E_COMPUTED});
      } else {
        pending_[PROP_ID(tag)] = std::nullopt;
      }
    }
    return HandOutProblems(problems, lppProblems);
  }

  HRESULT SaveChanges(ULONG ulFlags) override {
    auto hold = this->Enter();
    if (const HRESULT hr = this->Injected("IMAPIProp::SaveChanges")) return hr;
    if ((ulFlags & ~(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE | MAPI_DEFERRED_ERRORS)) != 0) {
      return this->Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    }
    if (!writable_) return this->Fail(MAPI_E_NO_ACCESS, "opened read-only");
    Failure failure;
    if (FAILED(Save((ulFlags & FORCE_SAVE) != 0, &failure))) return this->Fail(failure);
    if ((ulFlags & KEEP_OPEN_READWRITE) == 0) writable_ = false;
    return S_OK;
  }

 protected:
  StoredObject(std::shared_ptr<Context> context, std::shared_ptr<const StoreInfo> store,
               const ObjectRow& row, bool writable)
      : PropObject<Interface>(std::move(context)), store_(std::move(store)), row_(row),
        writable_(writable) {}

  // The committed properties with this handle's changes over them.
  HRESULT Current(PropertyBag* bag, Failure* failure) override {
    if (row_.id != 0) {
      ObjectRow saved;
      HRESULT hr = ReadObject(this->db(), *store_, row_.id, &saved, bag, failure);
      if (hr == MAPI_E_NOT_FOUND) {
        *failure = Failure{MAPI_E_OBJECT_DELETED, "the object was deleted", 0};
        hr = MAPI_E_OBJECT_DELETED;
      }
      if (FAILED(hr)) return hr;
    } else {
      AddComputed(*store_, row_, bag);
    }
    for (const auto& [id, value] : pending_) {
      if (value) {
        (*bag)[id] = *value;
      } else {
        bag->erase(id);
      }
    }
    return S_OK;
  }

  std::shared_ptr<const StoreInfo> store_;
  ObjectRow row_;  // id 0: a message not saved yet
  bool writable_;

 private:
  HRESULT HandOutProblems(const std::vector<SPropProblem>& problems, LPSPropProblemArray* out) {
    if (problems.empty() || out == nullptr) return S_OK;
    void* block = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropProblemArray(problems.size())), &block) != S_OK) {
      return this->Fail(MAPI_E_NOT_ENOUGH_MEMORY, "out of memory");
    }
    auto* array = static_cast<SPropProblemArray*>(block);
    array->cProblem = static_cast<ULONG>(problems.size());
    for (std::size_t i = 0; i < problems.size(); ++i) array->aProblem[i] = problems[i];
    *out = array;
    return S_OK;
  }

  // Writes the changes in one transaction; MAPI_E_OBJECT_CHANGED when
  // another handle saved first and `force` is false.
  HRESULT Save(bool force, Failure* failure) {
    Database& db = this->db();
    Transaction transaction(db);
    HRESULT hr = transaction.BeginWrite(failure);
    if (FAILED(hr)) return hr;
    const std::uint64_t now = Now();
    std::int64_t version = 1;
    const bool created = row_.id == 0;
    if (created) {
      ObjectRow parent;
      hr = LoadObjectRow(db, store_->id, row_.parent, &parent, failure);
      if (hr == MAPI_E_NOT_FOUND) {
        *failure = Failure{MAPI_E_OBJECT_DELETED, "the message's folder was deleted", 0};
        return MAPI_E_OBJECT_DELETED;
      }
      if (FAILED(hr)) return hr;
      Statement insert;
      hr = db.Prepare("INSERT INTO objects (store, parent, kind, version, created, modified) "
                      "VALUES (?, ?, ?, 1, ?, ?)",
                      &insert, failure);
      if (FAILED(hr)) return hr;
      insert.Bind(1, store_->id);
      insert.Bind(2, row_.parent);
      insert.Bind(3, row_.kind);
      insert.Bind(4, static_cast<std::int64_t>(row_.created));
      insert.Bind(5, static_cast<std::int64_t>(now));
      hr = insert.Run(failure);
      if (FAILED(hr)) return hr;
      row_.id = db.LastInsertId();
    } else {
      ObjectRow saved;
      hr = LoadObjectRow(db, store_->id, row_.id, &saved, failure);
      if (hr == MAPI_E_NOT_FOUND) {
        *failure = Failure{MAPI_E_OBJECT_DELETED, "the object was deleted", 0};
        return MAPI_E_OBJECT_DELETED;
      }
      if (FAILED(hr)) return hr;
      if (saved.version != row_.version && !force) {
        *failure = Failure{MAPI_E_OBJECT_CHANGED, "another handle saved the object first", 0};
        return MAPI_E_OBJECT_CHANGED;
      }
      version = saved.version + 1;
      Statement update;
      hr = db.Prepare("UPDATE objects SET version = ?, modified = ? WHERE id = ?", &update, failure);
      if (FAILED(hr)) return hr;
      update.Bind(1, version);
      update.Bind(2, static_cast<std::int64_t>(now));
      update.Bind(3, row_.id);
      hr = update.Run(failure);
      if (FAILED(hr)) return hr;
    }
    for (const auto& [id, value] : pending_) {
      Statement write;
      if (value) {
        hr = db.Prepare("INSERT OR REPLACE INTO props (object, id, type, value) VALUES (?, ?, ?, ?)",
                        &write, failure);
        if (FAILED(hr)) return hr;
        write.Bind(3, value->type);
        write.BindBlob(4, EncodeForStorage(*value));
      } else {
        hr = db.Prepare("DELETE FROM props WHERE object = ? AND id = ?", &write, failure);
        if (FAILED(hr)) return hr;
      }
      write.Bind(1, row_.id);
      write.Bind(2, id);
      hr = write.Run(failure);
      if (FAILED(hr)) return hr;
    }
    hr = transaction.Commit(failure);
    if (FAILED(hr)) {
      if (created) row_.id = 0;  // the new message was not made
      return hr;
    }
    pending_.clear();
    row_.version = version;
    row_.modified = now;
    if (this->context_->hub != nullptr) this->context_->hub->Saved(row_.id, version);
    return S_OK;
  }

  std::map<ULONG, std::optional<Value>> pending_;
};

class Message final : public StoredObject<IMessage> {
 public:
  Message(std::shared_ptr<Context> context, std::shared_ptr<const StoreInfo> store,
          const ObjectRow& row, bool writable)
      : StoredObject(std::move(context), std::move(store), row, writable) {}
};

class Folder final : public StoredObject<IMAPIFolder> {
 public:
  Folder(std::shared_ptr<Context> context, std::shared_ptr<const StoreInfo> store,
         const ObjectRow& row, bool writable)
      : StoredObject(std::move(context), std::move(store), row, writable) {}

  HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
    return Table("IMAPIContainer::GetContentsTable", MAPI_MESSAGE, ulFlags,
                 MAPI_UNICODE | MAPI_DEFERRED_ERRORS, lppTable);
  }

  HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
    return Table("IMAPIContainer::GetHierarchyTable", MAPI_FOLDER, ulFlags,
                 MAPI_UNICODE | MAPI_DEFERRED_ERRORS | CONVENIENT_DEPTH, lppTable);
  }

  HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                    ULONG* lpulObjType, LPUNKNOWN* lppUnk) override {
    return Run("IMAPIContainer::OpenEntry", [&](Failure* failure) {
      return OpenStoreEntry(context_, store_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType,
                            lppUnk, failure);
    });
  }

  HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPIFolder::CreateMessage")) return hr;
    if (lppMessage == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppMessage = nullptr;
    if ((ulFlags & ~MAPI_DEFERRED_ERRORS) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    if (FAILED(CheckInterface<IMessage>(lpInterface))) {
      return Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "a message is an IMessage");
    }
    if (!writable_) return Fail(MAPI_E_NO_ACCESS, "opened read-only");
    ObjectRow row;
    row.parent = row_.id;
    row.kind = MAPI_MESSAGE;
    row.created = Now();
    auto* message = new Message(context_, store_, row, true);
    message->AddRef();
    *lppMessage = message;
    return S_OK;
  }

  HRESULT CreateFolder(ULONG ulFolderType, LPTSTR lpszFolderName, LPTSTR lpszFolderComment,
                       LPCIID lpInterface, ULONG ulFlags, LPMAPIFOLDER* lppFolder) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPIFolder::CreateFolder")) return hr;
    if (lppFolder == nullptr || lpszFolderName == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppFolder = nullptr;
    if ((ulFlags & ~(OPEN_IF_EXISTS | MAPI_UNICODE | MAPI_DEFERRED_ERRORS)) != 0) {
      return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    }
    if (ulFolderType == FOLDER_SEARCH) return Fail(MAPI_E_NO_SUPPORT, "no search folders here");
    if (ulFolderType != FOLDER_GENERIC) return Fail(MAPI_E_INVALID_PARAMETER, "unknown folder type");
    if (FAILED(CheckInterface<IMAPIFolder>(lpInterface))) {
      return Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "a folder is an IMAPIFolder");
    }
    if (!writable_) return Fail(MAPI_E_NO_ACCESS, "opened read-only");
    const bool wide = (ulFlags & MAPI_UNICODE) != 0;
    auto text = [&](LPTSTR t) {
      return wide ? Utf8FromWide(reinterpret_cast<const wchar_t*>(t)) : Utf8FromAnsi(t);
    };
    const std::string name = text(lpszFolderName);
    if (name.empty()) return Fail(MAPI_E_INVALID_PARAMETER, "a folder needs a name");
    const std::optional<std::string> comment =
        lpszFolderComment != nullptr ? std::optional<std::string>(text(lpszFolderComment)) : std::nullopt;

    Failure failure;
    Database& database = db();
    Transaction transaction(database);
    HRESULT hr = transaction.BeginWrite(&failure);
    std::int64_t existing = 0;
    if (SUCCEEDED(hr)) hr = FindChildFolder(name, &existing, &failure);
    if (FAILED(hr)) return Fail(failure);
    if (existing != 0 && (ulFlags & OPEN_IF_EXISTS) == 0) {
      return Fail(MAPI_E_COLLISION, "a folder of that name exists");
    }
    ObjectRow row;
    if (existing != 0) {
      hr = LoadObjectRow(database, store_->id, existing, &row, &failure);
    } else {
      hr = InsertFolder(name, comment, &row, &failure);
    }
    if (SUCCEEDED(hr)) hr = transaction.Commit(&failure);
    if (FAILED(hr)) return Fail(failure);
    auto* folder = new Folder(context_, store_, row, true);
    folder->AddRef();
    *lppFolder = folder;
    return S_OK;
  }

  HRESULT DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG ulFlags) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPIFolder::DeleteFolder")) return hr;
    if ((ulFlags & ~(DEL_FOLDERS | DEL_MESSAGES | FOLDER_DIALOG)) != 0) {
      return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    }
    if (!writable_) return Fail(MAPI_E_NO_ACCESS, "opened read-only");
    ParsedEntryId entry;
    HRESULT hr = ParseEntryId(lpEntryID, cbEntryID, &entry);
    if (FAILED(hr)) return Fail(hr, "not an entry identifier of this store");
    if (entry.kind != ParsedEntryId::Kind::kObject || entry.type != MAPI_FOLDER ||
        entry.store != store_->id) {
      return Fail(MAPI_E_INVALID_ENTRYID, "not a folder of this store");
    }
    Failure failure;
    Database& database = db();
    Transaction transaction(database);
    hr = transaction.BeginWrite(&failure);
    ObjectRow target;
    if (SUCCEEDED(hr)) hr = LoadObjectRow(database, store_->id, entry.object, &target, &failure);
    if (SUCCEEDED(hr) && (target.kind != MAPI_FOLDER || target.parent != row_.id)) {
      failure = Failure{MAPI_E_NOT_FOUND, "no such folder in this folder", 0};
      hr = MAPI_E_NOT_FOUND;
    }
    std::vector<std::int64_t> folders{entry.object};  // the folder and all below it
    std::vector<std::int64_t> messages;
    for (std::size_t i = 0; SUCCEEDED(hr) && i < folders.size(); ++i) {
      hr = Children(database, folders[i], MAPI_FOLDER, &folders, &failure);
      if (SUCCEEDED(hr)) hr = Children(database, folders[i], MAPI_MESSAGE, &messages, &failure);
    }
    if (FAILED(hr)) return Fail(failure);
    if (folders.size() > 1 && (ulFlags & DEL_FOLDERS) == 0) {
      return Fail(MAPI_E_HAS_FOLDERS, "the folder holds folders");
    }
    if (!messages.empty() && (ulFlags & DEL_MESSAGES) == 0) {
      return Fail(MAPI_E_HAS_MESSAGES, "the folder holds messages");
    }
    messages.insert(messages.end(), folders.begin(), folders.end());
    for (std::int64_t id : messages) {
      Statement props;
      Statement object;
      hr = database.Prepare("DELETE FROM props WHERE object = ?", &props, &failure);
      if (SUCCEEDED(hr)) {
        props.Bind(1, id);
        hr = props.Run(&failure);
      }
      if (SUCCEEDED(hr)) hr = database.Prepare("DELETE FROM objects WHERE id = ?", &object, &failure);
      if (SUCCEEDED(hr)) {
        object.Bind(1, id);
        hr = object.Run(&failure);
      }
      if (FAILED(hr)) return Fail(failure);
    }
    hr = transaction.Commit(&failure);
    return FAILED(hr) ? Fail(failure) : S_OK;
  }

 private:
  HRESULT Table(const char* call, ULONG kind, ULONG flags, ULONG allowed, LPMAPITABLE* table) {
    auto hold = Enter();
    if (const HRESULT hr = Injected(call)) return hr;
    if (table == nullptr) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    if ((flags & ~allowed) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    ObjectRow self;
    Failure failure;
    const HRESULT hr = LoadObjectRow(db(), store_->id, row_.id, &self, &failure);
    if (hr == MAPI_E_NOT_FOUND) return Fail(MAPI_E_OBJECT_DELETED, "the folder was deleted");
    if (FAILED(hr)) return Fail(failure);
    *table = NewTable(context_,
                      std::make_unique<FolderTableSource>(context_, store_, row_.id, kind,
                                                          (flags & CONVENIENT_DEPTH) != 0),
                      (flags & MAPI_UNICODE) != 0);
    return S_OK;
  }

  // The subfolder named `name` (compared folded), or 0.
  HRESULT FindChildFolder(const std::string& name, std::int64_t* found, Failure* failure) {
    *found = 0;
    std::vector<std::int64_t> ids;
    HRESULT hr = Children(db(), row_.id, MAPI_FOLDER, &ids, failure);
    const std::string key = FoldedKey(name);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < ids.size() && *found == 0; ++i) {
      PropertyBag bag;
      hr = LoadStoredProps(db(), ids[i], &bag, failure);
      const auto display = bag.find(PROP_ID(PR_DISPLAY_NAME));
      if (SUCCEEDED(hr) && display != bag.end() && display->second.type == PT_UNICODE &&
          FoldedKey(display->second.data) == key) {
        *found = ids[i];
      }
    }
    return hr;
  }

  HRESULT InsertFolder(const std::string& name, const std::optional<std::string>& comment,
                       ObjectRow* row, Failure* failure) {
    Database& database = db();
    const std::uint64_t now = Now();
    Statement insert;
    HRESULT hr = database.Prepare("INSERT INTO objects (store, parent, kind, version, created, modified) "
                                  "VALUES (?, ?, ?, 1, ?, ?)",
                                  &insert, failure);
    if (FAILED(hr)) return hr;
    insert.Bind(1, store_->id);
    insert.Bind(2, row_.id);
    insert.Bind(3, MAPI_FOLDER);
    insert.Bind(4, static_cast<std::int64_t>(now));
    insert.Bind(5, static_cast<std::int64_t>(now));
    hr = insert.Run(failure);
    if (FAILED(hr)) return hr;
    *row = ObjectRow{database.LastInsertId(), row_.id, MAPI_FOLDER, 1, now, now};
    std::vector<std::pair<ULONG, std::string>> texts{{PROP_ID(PR_DISPLAY_NAME), name}};
    if (comment) texts.emplace_back(PROP_ID(PR_COMMENT), *comment);
    for (const auto& [id, text] : texts) {
      Statement prop;
      hr = database.Prepare("INSERT INTO props (object, id, type, value) VALUES (?, ?, ?, ?)", &prop,
                            failure);
      if (FAILED(hr)) return hr;
      prop.Bind(1, row->id);
      prop.Bind(2, id);
      prop.Bind(3, PT_UNICODE);
      prop.BindBlob(4, text);
      hr = prop.Run(failure);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
};

HRESULT OpenStoreEntry(const std::shared_ptr<Context>& context,
                       const std::shared_ptr<const StoreInfo>& store, ULONG cbEntryID,
                       LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                       LPUNKNOWN* lppUnk, Failure* failure) {
  auto fail = [&](HRESULT hr, const char* text) { return Refuse(failure, hr, text); };
  if (const HRESULT hr = StartOpenEntry(ulFlags, lpulObjType, lppUnk, failure); FAILED(hr)) return hr;
  if ((ulFlags & MAPI_MODIFY) != 0 && !store->writable) {
    return fail(MAPI_E_NO_ACCESS, "the store was opened read-only");
  }
  const bool writable = store->writable && (ulFlags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
  std::int64_t id = store->root;
  if (cbEntryID != 0 || lpEntryID != nullptr) {
    ParsedEntryId entry;
    const HRESULT hr = ParseEntryId(lpEntryID, cbEntryID, &entry);
    if (FAILED(hr)) return fail(hr, "not an entry identifier of this store");
    if (entry.kind != ParsedEntryId::Kind::kObject || entry.store != store->id) {
      return fail(MAPI_E_INVALID_ENTRYID, "not a folder or message of this store");
    }
    id = entry.object;
  }
  ObjectRow row;
  HRESULT hr = LoadObjectRow(*context->db, store->id, id, &row, failure);
  if (FAILED(hr)) return hr;
  if (row.kind == MAPI_FOLDER) {
    hr = CheckInterface<IMAPIFolder>(lpInterface);
    if (FAILED(hr)) return fail(hr, "a folder is an IMAPIFolder");
    auto* folder = new Folder(context, store, row, writable);
    folder->AddRef();
    *lppUnk = static_cast<IMAPIFolder*>(folder);
  } else {
    hr = CheckInterface<IMessage>(lpInterface);
    if (FAILED(hr)) return fail(hr, "a message is an IMessage");
    auto* message = new Message(context, store, row, writable);
    message->AddRef();
    *lppUnk = static_cast<IMessage*>(message);
  }
  if (lpulObjType != nullptr) *lpulObjType = row.kind;
  return S_OK;
}

class MsgStore;

// The store-administration view of a store.
class ManageStore final : public ComObject<IExchangeManageStore> {
 public:
  explicit ManageStore(IMsgStore* store) : store_(store) { store_->AddRef(); }
  ~ManageStore() override { store_->Release(); }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object != nullptr && iid != IID_IExchangeManageStore && iid != IID_IUnknown) {
      return store_->QueryInterface(iid, object);
    }
    return ComObject::QueryInterface(iid, object);
  }

  HRESULT CreateStoreEntryID(LPSTR, LPSTR lpszMailboxDN, ULONG ulFlags, ULONG* lpcbEntryID,
                             LPENTRYID* lppEntryID) override {
    if (const HRESULT hr = InjectedFailure("IExchangeManageStore::CreateStoreEntryID")) return hr;
    if (lpcbEntryID == nullptr || lppEntryID == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lpcbEntryID = 0;
    *lppEntryID = nullptr;
    constexpr ULONG kKnown = OPENSTORE_USE_ADMIN_PRIVILEGE | OPENSTORE_PUBLIC | OPENSTORE_HOME_LOGON |
                             OPENSTORE_TAKE_OWNERSHIP | OPENSTORE_OVERRIDE_HOME_MDB;
    if ((ulFlags & ~kKnown) != 0) return MAPI_E_UNKNOWN_FLAGS;
    if (lpszMailboxDN == nullptr || *lpszMailboxDN == '\0') return MAPI_E_INVALID_PARAMETER;
    return HandOutEntryId(StoreEntryId(Utf8FromAnsi(lpszMailboxDN)), lpcbEntryID, lppEntryID);
  }

 private:
  IMsgStore* store_;
};

class MsgStore final : public ReadOnlyPropObject<IMsgStore> {
 public:
  MsgStore(std::shared_ptr<Context> context, StoreInfo store)
      : ReadOnlyPropObject(std::move(context)),
        store_(std::make_shared<const StoreInfo>(std::move(store))) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object != nullptr && iid == IID_IExchangeManageStore) {
      if (const HRESULT hr = InjectedFailure("IMsgStore::QueryInterface")) {
        *object = nullptr;
        return hr;
      }
      auto* manage = new ManageStore(this);
      manage->AddRef();
      *object = static_cast<IExchangeManageStore*>(manage);
      return S_OK;
    }
    return ReadOnlyPropObject::QueryInterface(iid, object);
  }

  HRESULT Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask,
                 LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMsgStore::Advise")) return hr;
    if (lpulConnection == nullptr || lpAdviseSink == nullptr || ulEventMask == 0) {
      return MAPI_E_INVALID_PARAMETER;
    }
    *lpulConnection = 0;
    if (cbEntryID == 0 || lpEntryID == nullptr) {
      return Fail(MAPI_E_NO_SUPPORT, "registrations are for one folder or message");
    }
    ParsedEntryId entry;
    HRESULT hr = ParseEntryId(lpEntryID, cbEntryID, &entry);
    if (FAILED(hr)) return Fail(hr, "not an entry identifier of this store");
    if (entry.kind != ParsedEntryId::Kind::kObject || entry.store != store_->id) {
      return Fail(MAPI_E_INVALID_ENTRYID, "not a folder or message of this store");
    }
    ObjectRow row;
    Failure failure;
    hr = LoadObjectRow(db(), store_->id, entry.object, &row, &failure);
    if (FAILED(hr)) return Fail(failure);
    const std::string parent =
        row.parent != 0 ? ObjectEntryId(MAPI_FOLDER, store_->id, row.parent) : std::string();
    *lpulConnection = context_->Hub().Advise(row.id, row.kind,
                                             ObjectEntryId(row.kind, store_->id, row.id), parent,
                                             ulEventMask, lpAdviseSink, row.version);
    return S_OK;
  }

  HRESULT Unadvise(ULONG ulConnection) override {
    NotificationHub* hub = nullptr;
    {
      auto hold = Enter();
      if (const HRESULT hr = Injected("IMsgStore::Unadvise")) return hr;
      hub = context_->hub.get();
    }
    // The hub lives as long as the context this store holds; the lock is
    // not held while the sink is released.
    if (hub == nullptr || !hub->Unadvise(ulConnection)) {
      auto hold = Enter();
      return Fail(MAPI_E_NOT_FOUND, "no such registration");
    }
    return S_OK;
  }

  HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                    ULONG* lpulObjType, LPUNKNOWN* lppUnk) override {
    return Run("IMsgStore::OpenEntry", [&](Failure* failure) {
      return OpenStoreEntry(context_, store_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType,
                            lppUnk, failure);
    });
  }

 private:
  HRESULT Current(PropertyBag* bag, Failure*) override {
    *bag = StoreProperties(*store_);
    return S_OK;
  }

  std::shared_ptr<const StoreInfo> store_;
};

HRESULT LoadStoreById(Database& db, std::int64_t id, StoreInfo* store, Failure* failure);

class StoresTableSource final : public RowSource {
 public:
  explicit StoresTableSource(std::shared_ptr<Context> context) : context_(std::move(context)) {}

  HRESULT Keys(const Condition*, std::vector<RowKey>* keys, Failure* failure) override {
    Statement read;
    HRESULT hr = context_->db->Prepare("SELECT id FROM stores WHERE role <> 0 ORDER BY id", &read,
                                       failure);
    for (bool row = true; SUCCEEDED(hr);) {
      hr = read.Step(&row, failure);
      if (FAILED(hr) || !row) break;
      keys->push_back({read.Int(0), 0});
    }
    return hr;
  }

  HRESULT Read(const RowKey& key, PropertyBag* row, Failure* failure) override {
    StoreInfo store;
    const HRESULT hr = LoadStoreById(*context_->db, key.id, &store, failure);
    if (SUCCEEDED(hr)) *row = StoreProperties(store);
    return hr;
  }

  std::vector<ULONG> DefaultColumns() const override {
    return {PR_ENTRYID, PR_DISPLAY_NAME, PR_DEFAULT_STORE, PR_OBJECT_TYPE};
  }

 private:
  std::shared_ptr<Context> context_;
};

HRESULT ReadStore(Statement& read, StoreInfo* store, Failure* failure) {
  bool row = false;
  const HRESULT hr = read.Step(&row, failure);
  if (FAILED(hr)) return hr;
  if (!row) {
    *failure = Failure{MAPI_E_NOT_FOUND, "the profile holds no such store", 0};
    return MAPI_E_NOT_FOUND;
  }
  store->id = read.Int(0);
  store->name = read.Text(1);
  store->displayName = read.Text(2);
  store->role = read.Int(3);
  store->root = read.Int(4);
  return S_OK;
}

HRESULT LoadStoreById(Database& db, std::int64_t id, StoreInfo* store, Failure* failure) {
  Statement read;
  const HRESULT hr = db.Prepare(
      "SELECT id, name, display_name, role, root FROM stores WHERE id = ?", &read, failure);
  if (FAILED(hr)) return hr;
  read.Bind(1, id);
  return ReadStore(read, store, failure);
}

}  // namespace

HRESULT LoadStoreByName(Database& db, std::string_view name, StoreInfo* store, Failure* failure) {
  Statement read;
  const HRESULT hr = db.Prepare(
      "SELECT id, name, display_name, role, root FROM stores WHERE name_key = ?", &read, failure);
  if (FAILED(hr)) return hr;
  read.BindText(1, FoldedKey(name));
  return ReadStore(read, store, failure);
}

PropertyBag StoreProperties(const StoreInfo& store) {
  PropertyBag bag;
  bag[PROP_ID(PR_ENTRYID)] = BinaryValue(StoreEntryId(store.name));
  bag[PROP_ID(PR_DISPLAY_NAME)] = TextValue(store.displayName);
  bag[PROP_ID(PR_DEFAULT_STORE)] = BoolValue(store.role == kRoleDefault);
  bag[PROP_ID(PR_OBJECT_TYPE)] = LongValue(static_cast<std::int32_t>(MAPI_STORE));
  // A fixed block that answers the round trip a client makes to test the
  // connection.
  bag[PROP_ID(PR_TEST_LINE_SPEED)] = BinaryValue(std::string(64, '\x55'));
  return bag;
}

std::unique_ptr<RowSource> NewStoresTableSource(std::shared_ptr<Context> context) {
  return std::make_unique<StoresTableSource>(std::move(context));
}

IMsgStore* NewMsgStore(std::shared_ptr<Context> context, StoreInfo store) {
  auto* created = new MsgStore(std::move(context), std::move(store));
  created->AddRef();
  return created;
}

}  // namespace mapi_internal
