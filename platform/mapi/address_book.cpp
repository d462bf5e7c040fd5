#include "platform/mapi/address_book.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/mapi/entry_id.h"
#include "platform/mapi/table.h"
#include "platform/mapi/text.h"

namespace mapi_internal {
namespace {

// Reads every row's first column as a number.
HRESULT CollectIds(Statement& read, std::vector<std::int64_t>* ids, Failure* failure) {
  for (;;) {
    bool row = false;
    const HRESULT hr = read.Step(&row, failure);
    if (FAILED(hr) || !row) return hr;
    ids->push_back(read.Int(0));
  }
}

// The users a name matches, within one container or (no container) the
// whole address book, at most `limit` of them, by number.
HRESULT FindUsers(Database& db, const NameQuery& query, std::optional<std::int64_t> container,
                  std::int64_t limit, std::vector<std::int64_t>* users, Failure* failure) {
  const char* sql;
  if (query.emailOnly) {
    sql = container ? "SELECT u.id FROM users u JOIN members m ON m.user = u.id "
                      "WHERE u.email_key = ? AND m.container = ? LIMIT ?"
                    : "SELECT id FROM users WHERE email_key = ? AND ? IS NULL LIMIT ?";
  } else {
    sql = container ? "SELECT k.user FROM name_keys k JOIN members m ON m.user = k.user "
                      "WHERE k.key = ? AND m.container = ? ORDER BY k.user LIMIT ?"
                    : "SELECT user FROM name_keys WHERE key = ? AND ? IS NULL ORDER BY user LIMIT ?";
  }
  Statement read;
  const HRESULT hr = db.Prepare(sql, &read, failure);
  if (FAILED(hr)) return hr;
  read.BindText(1, query.key);
  if (container) {
    read.Bind(2, *container);
  } else {
    read.BindNull(2);
  }
  read.Bind(3, limit);
  return CollectIds(read, users, failure);
}

HRESULT LoadUser(Database& db, std::int64_t id, PropertyBag* bag, Failure* failure) {
  Statement read;
  HRESULT hr = db.Prepare(
      "SELECT display_name, alias, email_address, address_type, smtp_address, home_mdb, "
      "proxy_addresses FROM users WHERE id = ?",
      &read, failure);
  if (FAILED(hr)) return hr;
  read.Bind(1, id);
  bool row = false;
  hr = read.Step(&row, failure);
  if (FAILED(hr)) return hr;
  if (!row) {
    *failure = Failure{MAPI_E_NOT_FOUND, "the address book holds no such mail user", 0};
    return MAPI_E_NOT_FOUND;
  }
  PropertyBag user;
  auto text = [&](ULONG tag, int column) {
    if (!read.IsNull(column)) user[PROP_ID(tag)] = TextValue(read.Text(column));
  };
  text(PR_DISPLAY_NAME, 0);
  text(PR_ACCOUNT, 1);
  text(PR_EMAIL_ADDRESS, 2);
  text(PR_ADDRTYPE, 3);
  text(PR_SMTP_ADDRESS, 4);
  text(PR_EMS_AB_HOME_MDB, 5);
  if (!read.IsNull(6)) {
    Value proxies;
    if (!DecodeFromStorage(PT_MV_UNICODE, read.Blob(6), &proxies)) {
      *failure = Failure{MAPI_E_CORRUPT_DATA, "a mail user's proxy addresses cannot be read", 0};
      return MAPI_E_CORRUPT_DATA;
    }
    user[PROP_ID(PR_EMS_AB_PROXY_ADDRESSES)] = std::move(proxies);
  }
  user[PROP_ID(PR_ENTRYID)] = BinaryValue(AddressBookEntryId(DT_MAILUSER, read.Text(2)));
  user[PROP_ID(PR_OBJECT_TYPE)] = LongValue(static_cast<std::int32_t>(MAPI_MAILUSER));
  user[PROP_ID(PR_DISPLAY_TYPE)] = LongValue(static_cast<std::int32_t>(DT_MAILUSER));
  user[PROP_ID(PR_SEND_RICH_INFO)] = BoolValue(true);
  *bag = std::move(user);
  return S_OK;
}

struct ContainerRow {
  std::int64_t id = 0;  // 0: the root
  std::string name;
  std::string displayName;
  bool global = false;
  bool hasChildren = false;
};

HRESULT LoadContainer(Database& db, const char* sql, const std::function<void(Statement&)>& bind,
                      ContainerRow* container, Failure* failure) {
  Statement read;
  HRESULT hr = db.Prepare(sql, &read, failure);
  if (FAILED(hr)) return hr;
  bind(read);
  bool row = false;
  hr = read.Step(&row, failure);
  if (FAILED(hr)) return hr;
  if (!row) {
    *failure = Failure{MAPI_E_NOT_FOUND, "the address book holds no such container", 0};
    return MAPI_E_NOT_FOUND;
  }
  container->id = read.Int(0);
  container->name = read.Text(1);
  container->displayName = read.Text(2);
  container->global = read.Int(3) != 0;
  container->hasChildren = read.Int(4) != 0;
  return S_OK;
}

constexpr char kContainerColumns[] =
    "SELECT id, name, display_name, is_global, "
    "EXISTS (SELECT 1 FROM containers c WHERE c.parent = containers.id) FROM containers ";

HRESULT LoadContainerByName(Database& db, const std::string& name, ContainerRow* container,
                            Failure* failure) {
  static const std::string sql = std::string(kContainerColumns) + "WHERE name = ?";
  return LoadContainer(db, sql.c_str(), [&](Statement& s) { s.BindText(1, name); }, container, failure);
}

HRESULT LoadContainerById(Database& db, std::int64_t id, ContainerRow* container, Failure* failure) {
  static const std::string sql = std::string(kContainerColumns) + "WHERE id = ?";
  return LoadContainer(db, sql.c_str(), [&](Statement& s) { s.Bind(1, id); }, container, failure);
}

PropertyBag ContainerProperties(const ContainerRow& container) {
  PropertyBag bag;
  bag[PROP_ID(PR_ENTRYID)] = BinaryValue(AddressBookEntryId(DT_CONTAINER, container.name));
  bag[PROP_ID(PR_OBJECT_TYPE)] = LongValue(static_cast<std::int32_t>(MAPI_ABCONT));
  if (container.id == 0) {
    bag[PROP_ID(PR_CONTAINER_FLAGS)] = LongValue(static_cast<std::int32_t>(AB_SUBCONTAINERS | AB_UNMODIFIABLE));
    return bag;
  }
  bag[PROP_ID(PR_DISPLAY_NAME)] = TextValue(container.displayName);
  bag[PROP_ID(PR_DISPLAY_TYPE)] =
      LongValue(static_cast<std::int32_t>(container.global ? DT_GLOBAL : DT_NOT_SPECIFIC));
  bag[PROP_ID(PR_CONTAINER_FLAGS)] = LongValue(static_cast<std::int32_t>(
      AB_RECIPIENTS | AB_UNMODIFIABLE | (container.hasChildren ? AB_SUBCONTAINERS : 0)));
  bag[PROP_ID(PR_AB_PROVIDER_ID)] = BinaryValue(
      std::string(reinterpret_cast<const char*>(kAddressBookProvider), sizeof(kAddressBookProvider)));
  bag[PROP_ID(PR_EMS_AB_CONTAINERID)] =
      LongValue(container.global ? 0 : static_cast<std::int32_t>(container.id));
  return bag;
}

class HierarchySource final : public RowSource {
 public:
  HierarchySource(std::shared_ptr<Context> context, std::int64_t container, bool deep)
      : context_(std::move(context)), container_(container), deep_(deep) {}

  HRESULT Keys(const Condition*, std::vector<RowKey>* keys, Failure* failure) override {
    return Walk(container_, 0, keys, failure);
  }

  HRESULT Read(const RowKey& key, PropertyBag* row, Failure* failure) override {
    ContainerRow container;
    const HRESULT hr = LoadContainerById(*context_->db, key.id, &container, failure);
    if (FAILED(hr)) return hr;
    *row = ContainerProperties(container);
    (*row)[PROP_ID(PR_DEPTH)] = LongValue(key.depth);
    return S_OK;
  }

  std::vector<ULONG> DefaultColumns() const override {
    return {PR_ENTRYID, PR_DISPLAY_NAME, PR_OBJECT_TYPE, PR_DISPLAY_TYPE, PR_DEPTH};
  }

 private:
  HRESULT Walk(std::int64_t parent, LONG depth, std::vector<RowKey>* keys, Failure* failure) {
    Statement read;
    HRESULT hr = context_->db->Prepare("SELECT id FROM containers WHERE parent IS ? ORDER BY id",
                                       &read, failure);
    if (FAILED(hr)) return hr;
    if (parent == 0) {
      read.BindNull(1);
    } else {
      read.Bind(1, parent);
    }
    std::vector<std::int64_t> ids;
    hr = CollectIds(read, &ids, failure);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < ids.size(); ++i) {
      keys->push_back({ids[i], depth});
      if (deep_) hr = Walk(ids[i], depth + 1, keys, failure);
    }
    return hr;
  }

  std::shared_ptr<Context> context_;
  std::int64_t container_;
  bool deep_;
};

// The name query of a restriction that only rows matching it can meet: a
// PR_ANR restriction, or an AND holding one.
const NameQuery* AnrOf(const Condition* condition) {
  if (condition == nullptr) return nullptr;
  if (condition->kind == RES_PROPERTY && condition->anr) return &condition->name;
  if (condition->kind == RES_AND) {
    for (const Condition& child : condition->children) {
      if (const NameQuery* query = AnrOf(&child)) return query;
    }
  }
  return nullptr;
}

class ContentsSource final : public RowSource {
 public:
  ContentsSource(std::shared_ptr<Context> context, std::int64_t container)
      : context_(std::move(context)), container_(container) {}

  HRESULT Keys(const Condition* restriction, std::vector<RowKey>* keys, Failure* failure) override {
    std::vector<std::int64_t> ids;
    HRESULT hr;
    if (const NameQuery* query = AnrOf(restriction)) {
      hr = FindUsers(*context_->db, *query, container_, -1, &ids, failure);
    } else {
      Statement read;
      hr = context_->db->Prepare("SELECT user FROM members WHERE container = ? ORDER BY user", &read,
                                 failure);
      if (SUCCEEDED(hr)) {
        read.Bind(1, container_);
        hr = CollectIds(read, &ids, failure);
      }
    }
    for (std::int64_t id : ids) keys->push_back({id, 0});
    return hr;
  }

  HRESULT Read(const RowKey& key, PropertyBag* row, Failure* failure) override {
    return LoadUser(*context_->db, key.id, row, failure);
  }

  bool AnswersAnr() const override { return true; }

  std::vector<ULONG> DefaultColumns() const override {
    return {PR_ENTRYID, PR_DISPLAY_NAME, PR_ADDRTYPE, PR_EMAIL_ADDRESS, PR_OBJECT_TYPE,
            PR_DISPLAY_TYPE};
  }

 private:
  std::shared_ptr<Context> context_;
  std::int64_t container_;
};

// The name an address-list entry asks to resolve, if it has one.
std::optional<std::string> EntryName(const ADRENTRY& entry) {
  for (ULONG i = 0; i < entry.cValues; ++i) {
    const SPropValue& value = entry.rgPropVals[i];
    if (PROP_ID(value.ulPropTag) != PROP_ID(PR_DISPLAY_NAME)) continue;
    if (PROP_TYPE(value.ulPropTag) == PT_STRING8 && value.Value.lpszA != nullptr) {
      return Utf8FromAnsi(value.Value.lpszA);
    }
    if (PROP_TYPE(value.ulPropTag) == PT_UNICODE && value.Value.lpszW != nullptr) {
      return Utf8FromWide(value.Value.lpszW);
    }
  }
  return std::nullopt;
}

const SPropValue* FindValue(const ADRENTRY& entry, ULONG tag) {
  for (ULONG i = 0; i < entry.cValues; ++i) {
    if (entry.rgPropVals[i].ulPropTag == tag) return &entry.rgPropVals[i];
  }
  return nullptr;
}

// Replaces an entry's values by `tags` taken from `user`, followed (with
// `keepOthers`) by the entry's values of other identifiers.
HRESULT ReplaceEntry(ADRENTRY* entry, const PropertyBag& user, const std::vector<ULONG>& tags,
                     bool unicode, bool keepOthers) {
  std::set<ULONG> ids;
  for (ULONG tag : tags) ids.insert(PROP_ID(tag));
  std::vector<SPropValue> kept;
  if (keepOthers) {
    for (ULONG i = 0; i < entry->cValues; ++i) {
      if (ids.count(PROP_ID(entry->rgPropVals[i].ulPropTag)) == 0) kept.push_back(entry->rgPropVals[i]);
    }
  }
  const std::size_t count = tags.size() + kept.size();
  const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(SPropValue);
  void* block = nullptr;
  if (bytes > 0xFFFFFFFFu || MAPIAllocateBuffer(static_cast<ULONG>(bytes), &block) != S_OK) {
    return MAPI_E_NOT_ENOUGH_MEMORY;
  }
  auto* values = static_cast<SPropValue*>(block);
  HRESULT hr = S_OK;
  for (std::size_t i = 0; SUCCEEDED(hr) && i < tags.size(); ++i) {
    const auto found = user.find(PROP_ID(tags[i]));
    hr = FillProp(found != user.end() ? &found->second : nullptr, tags[i], unicode, false, block,
                  &values[i]);
  }
  if (SUCCEEDED(hr) && !kept.empty()) {
    hr = CopyProps(kept.data(), static_cast<ULONG>(kept.size()), block, values + tags.size());
  }
  if (FAILED(hr)) {
    MAPIFreeBuffer(block);
    return hr;
  }
  MAPIFreeBuffer(entry->rgPropVals);
  entry->rgPropVals = values;
  entry->cValues = static_cast<ULONG>(count);
  return S_OK;
}

class MailUser final : public ReadOnlyPropObject<IMailUser> {
 public:
  MailUser(std::shared_ptr<Context> context, std::int64_t id)
      : ReadOnlyPropObject(std::move(context)), id_(id) {}

 private:
  HRESULT Current(PropertyBag* bag, Failure* failure) override {
    return LoadUser(db(), id_, bag, failure);
  }
  std::int64_t id_;
};

HRESULT OpenAddressBookEntry(const std::shared_ptr<Context>& context, ULONG cbEntryID,
                             LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                             ULONG* lpulObjType, LPUNKNOWN* lppUnk, Failure* failure);

class ABContainer final : public ReadOnlyPropObject<IABContainer> {
 public:
  ABContainer(std::shared_ptr<Context> context, ContainerRow row)
      : ReadOnlyPropObject(std::move(context)), row_(std::move(row)) {}

  HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPIContainer::GetContentsTable")) return hr;
    if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if ((ulFlags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS)) != 0) {
      return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    }
    if (row_.id == 0) return Fail(MAPI_E_NO_SUPPORT, "the root lists no recipients");
    *lppTable = NewTable(context_, std::make_unique<ContentsSource>(context_, row_.id),
                         (ulFlags & MAPI_UNICODE) != 0);
    return S_OK;
  }

  HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IMAPIContainer::GetHierarchyTable")) return hr;
    if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if ((ulFlags & ~(MAPI_UNICODE | MAPI_DEFERRED_ERRORS | CONVENIENT_DEPTH)) != 0) {
      return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    }
    *lppTable = NewTable(
        context_,
        std::make_unique<HierarchySource>(context_, row_.id, (ulFlags & CONVENIENT_DEPTH) != 0),
        (ulFlags & MAPI_UNICODE) != 0);
    return S_OK;
  }

  HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                    ULONG* lpulObjType, LPUNKNOWN* lppUnk) override {
    return Run("IMAPIContainer::OpenEntry", [&](Failure* failure) {
      return OpenAddressBookEntry(context_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType,
                                  lppUnk, failure);
    });
  }

  HRESULT ResolveNames(LPSPropTagArray lpPropTagArray, ULONG ulFlags, LPADRLIST lpAdrList,
                       LPFlagList lpFlagList) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IABContainer::ResolveNames")) return hr;
    if (lpAdrList == nullptr || lpFlagList == nullptr || lpFlagList->cFlags != lpAdrList->cEntries) {
      return MAPI_E_INVALID_PARAMETER;
    }
    if ((ulFlags & ~(MAPI_UNICODE | EMS_AB_ADDRESS_LOOKUP)) != 0) {
      return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    }
    if (row_.id == 0) return Fail(MAPI_E_NO_SUPPORT, "the root lists no recipients");
    const std::vector<ULONG> tags =
        lpPropTagArray != nullptr
            ? std::vector<ULONG>(lpPropTagArray->aulPropTag,
                                 lpPropTagArray->aulPropTag + lpPropTagArray->cValues)
            : std::vector<ULONG>{PR_ADDRTYPE, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ENTRYID,
                                 PR_OBJECT_TYPE, PR_DISPLAY_TYPE};
    for (ULONG i = 0; i < lpAdrList->cEntries; ++i) {
      if (lpFlagList->ulFlag[i] != MAPI_UNRESOLVED) continue;
      const std::optional<std::string> name = EntryName(lpAdrList->aEntries[i]);
      if (!name) continue;
      std::vector<std::int64_t> users;
      Failure failure;
      HRESULT hr = FindUsers(db(), ParseName(*name), row_.id, 2, &users, &failure);
      if (FAILED(hr)) return Fail(failure);
      if (users.size() > 1) {
        lpFlagList->ulFlag[i] = MAPI_AMBIGUOUS;
      } else if (users.size() == 1) {
        PropertyBag user;
        hr = LoadUser(db(), users[0], &user, &failure);
        if (FAILED(hr)) return Fail(failure);
        hr = ReplaceEntry(&lpAdrList->aEntries[i], user, tags, (ulFlags & MAPI_UNICODE) != 0, false);
        if (FAILED(hr)) return Fail(hr, "out of memory");
        lpFlagList->ulFlag[i] = MAPI_RESOLVED;
      }
    }
    return S_OK;
  }

 private:
  HRESULT Current(PropertyBag* bag, Failure*) override {
    *bag = ContainerProperties(row_);
    return S_OK;
  }

  ContainerRow row_;
};

HRESULT OpenAddressBookEntry(const std::shared_ptr<Context>& context, ULONG cbEntryID,
                             LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                             ULONG* lpulObjType, LPUNKNOWN* lppUnk, Failure* failure) {
  auto fail = [&](HRESULT hr, const char* text) { return Refuse(failure, hr, text); };
  if (const HRESULT hr = StartOpenEntry(ulFlags, lpulObjType, lppUnk, failure); FAILED(hr)) return hr;
  if ((ulFlags & MAPI_MODIFY) != 0) return fail(MAPI_E_NO_ACCESS, "the address book is read-only");
  ParsedEntryId entry;
  entry.kind = ParsedEntryId::Kind::kAddressBook;
  entry.type = DT_CONTAINER;  // no entry identifier: the root
  if (cbEntryID != 0 || lpEntryID != nullptr) {
    const HRESULT hr = ParseEntryId(lpEntryID, cbEntryID, &entry);
    if (FAILED(hr)) return fail(hr, "not an address-book entry identifier");
    if (entry.kind != ParsedEntryId::Kind::kAddressBook) {
      return fail(MAPI_E_UNKNOWN_ENTRYID, "not an address-book entry identifier");
    }
  }
  Database& db = *context->db;
  if (entry.type == DT_CONTAINER) {
    HRESULT hr = CheckInterface<IABContainer>(lpInterface);
    if (FAILED(hr)) return fail(hr, "a container is an IABContainer");
    ContainerRow row;
    if (!entry.name.empty()) {
      hr = LoadContainerByName(db, entry.name, &row, failure);
      if (FAILED(hr)) return hr;
    }
    auto* container = new ABContainer(context, std::move(row));
    container->AddRef();
    *lppUnk = static_cast<IABContainer*>(container);
    if (lpulObjType != nullptr) *lpulObjType = MAPI_ABCONT;
    return S_OK;
  }
  HRESULT hr = CheckInterface<IMailUser>(lpInterface);
  if (FAILED(hr)) return fail(hr, "a mail user is an IMailUser");
  std::vector<std::int64_t> users;
  hr = FindUsers(db, NameQuery{true, FoldedKey(entry.name)}, std::nullopt, 1, &users, failure);
  if (FAILED(hr)) return hr;
  if (users.empty()) return fail(MAPI_E_NOT_FOUND, "the address book holds no such mail user");
  auto* user = new MailUser(context, users[0]);
  user->AddRef();
  *lppUnk = static_cast<IMailUser*>(user);
  if (lpulObjType != nullptr) *lpulObjType = MAPI_MAILUSER;
  return S_OK;
}

class AddrBook final : public ReadOnlyPropObject<IAddrBook> {
 public:
  explicit AddrBook(std::shared_ptr<Context> context) : ReadOnlyPropObject(std::move(context)) {}

  HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                    ULONG* lpulObjType, LPUNKNOWN* lppUnk) override {
    return Run("IAddrBook::OpenEntry", [&](Failure* failure) {
      return OpenAddressBookEntry(context_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType,
                                  lppUnk, failure);
    });
  }

  HRESULT ResolveName(ULONG_PTR, ULONG ulFlags, LPTSTR, LPADRLIST lpAdrList) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IAddrBook::ResolveName")) return hr;
    if (lpAdrList == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((ulFlags & ~(MAPI_DIALOG | MAPI_UNICODE | EMS_AB_ADDRESS_LOOKUP)) != 0) {
      return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    }
    const bool unicode = (ulFlags & MAPI_UNICODE) != 0;
    static const std::vector<ULONG> kResolved = {PR_ADDRTYPE,    PR_DISPLAY_NAME,  PR_EMAIL_ADDRESS,
                                                 PR_ENTRYID,     PR_OBJECT_TYPE,   PR_DISPLAY_TYPE,
                                                 PR_SEND_RICH_INFO};
    std::vector<ULONG> tags = kResolved;
    if (unicode) {
      for (ULONG& tag : tags) {
        if (PROP_TYPE(tag) == PT_STRING8) tag = CHANGE_PROP_TYPE(tag, PT_UNICODE);
      }
    }
    bool ambiguous = false;
    bool missing = false;
    for (ULONG i = 0; i < lpAdrList->cEntries; ++i) {
      ADRENTRY& entry = lpAdrList->aEntries[i];
      if (FindValue(entry, PR_ENTRYID) != nullptr) continue;  // resolved already
      const std::optional<std::string> name = EntryName(entry);
      std::vector<std::int64_t> users;
      Failure failure;
      if (name) {
        const HRESULT hr = FindUsers(db(), ParseName(*name), std::nullopt, 2, &users, &failure);
        if (FAILED(hr)) return Fail(failure);
      }
      if (users.size() > 1) {
        ambiguous = true;
      } else if (users.empty()) {
        missing = true;
      } else {
        PropertyBag user;
        HRESULT hr = LoadUser(db(), users[0], &user, &failure);
        if (FAILED(hr)) return Fail(failure);
        hr = ReplaceEntry(&entry, user, tags, unicode, true);
        if (FAILED(hr)) return Fail(hr, "out of memory");
      }
    }
    if (ambiguous) return Fail(MAPI_E_AMBIGUOUS_RECIP, "a name matches several mail users");
    if (missing) return Fail(MAPI_E_NOT_FOUND, "a name matches no mail user");
    return S_OK;
  }

  HRESULT PrepareRecips(ULONG ulFlags, LPSPropTagArray lpPropTagArray,
                        LPADRLIST lpRecipList) override {
    auto hold = Enter();
    if (const HRESULT hr = Injected("IAddrBook::PrepareRecips")) return hr;
    if (lpRecipList == nullptr) return MAPI_E_INVALID_PARAMETER;
    if ((ulFlags & ~MAPI_UNICODE) != 0) return Fail(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
    if (lpPropTagArray == nullptr) return S_OK;
    const std::vector<ULONG> tags(lpPropTagArray->aulPropTag,
                                  lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
    for (ULONG i = 0; i < lpRecipList->cEntries; ++i) {
      ADRENTRY& entry = lpRecipList->aEntries[i];
      const SPropValue* id = FindValue(entry, PR_ENTRYID);
      if (id == nullptr) return Fail(MAPI_E_INVALID_PARAMETER, "an entry is not resolved");
      ParsedEntryId parsed;
      HRESULT hr = ParseEntryId(id->Value.bin.lpb, id->Value.bin.cb, &parsed);
      if (SUCCEEDED(hr) && (parsed.kind != ParsedEntryId::Kind::kAddressBook ||
                            parsed.type != DT_MAILUSER)) {
        hr = MAPI_E_UNKNOWN_ENTRYID;
      }
      if (FAILED(hr)) return Fail(hr, "an entry is no mail user of this address book");
      std::vector<std::int64_t> users;
      Failure failure;
      hr = FindUsers(db(), NameQuery{true, FoldedKey(parsed.name)}, std::nullopt, 1, &users, &failure);
      if (FAILED(hr)) return Fail(failure);
      if (users.empty()) return Fail(MAPI_E_NOT_FOUND, "the address book holds no such mail user");
      PropertyBag user;
      hr = LoadUser(db(), users[0], &user, &failure);
      if (FAILED(hr)) return Fail(failure);
      hr = ReplaceEntry(&entry, user, tags, (ulFlags & MAPI_UNICODE) != 0, true);
      if (FAILED(hr)) return Fail(hr, "out of memory");
    }
    return S_OK;
  }

 private:
  HRESULT Current(PropertyBag* bag, Failure*) override {
    (*bag)[PROP_ID(PR_OBJECT_TYPE)] = LongValue(static_cast<std::int32_t>(MAPI_ADDRBOOK));
    return S_OK;
  }
};

}  // namespace

IAddrBook* NewAddrBook(std::shared_ptr<Context> context) {
  auto* book = new AddrBook(std::move(context));
  book->AddRef();
  return book;
}

}  // namespace mapi_internal
