#include "platform/mapi/profile_builder.h"

#include <map>
#include <memory>

#include "platform/mapi/database.h"
#include "platform/mapi/mapi.h"
#include "platform/mapi/prop_value.h"
#include "platform/mapi/text.h"
#include "platform/win32/time.h"

namespace mapi_profile {
namespace {

using mapi_internal::Database;
using mapi_internal::Failure;
using mapi_internal::FoldedKey;
using mapi_internal::Statement;

class Builder {
 public:
  explicit Builder(Database& db) : db_(db) {}

  HRESULT Build(const Organisation& organisation) {
    HRESULT hr = db_.CreateProfileSchema(&failure_);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < organisation.containers.size(); ++i) {
      hr = AddContainer(organisation.containers[i]);
    }
    for (std::size_t i = 0; SUCCEEDED(hr) && i < organisation.users.size(); ++i) {
      hr = AddUser(organisation.users[i]);
    }
    for (std::size_t i = 0; SUCCEEDED(hr) && i < organisation.stores.size(); ++i) {
      hr = AddStore(organisation.stores[i]);
    }
    return hr;
  }

  const Failure& failure() const { return failure_; }

  // Refuses a file that holds something other than a profile.
  HRESULT CheckTarget() {
    Statement application;
    Statement tables;
    bool row = false;
    HRESULT hr = db_.Prepare("PRAGMA application_id", &application, &failure_);
    if (SUCCEEDED(hr)) hr = application.Step(&row, &failure_);
    if (FAILED(hr) || application.Int(0) == mapi_internal::kProfileApplicationId) return hr;
    hr = db_.Prepare("SELECT count(*) FROM sqlite_master", &tables, &failure_);
    if (SUCCEEDED(hr)) hr = tables.Step(&row, &failure_);
    if (SUCCEEDED(hr) && tables.Int(0) != 0) {
      failure_ = Failure{MAPI_E_INVALID_PARAMETER, "the file holds something other than a profile", 0};
      hr = failure_.hr;
    }
    return hr;
  }

 private:
  HRESULT Run(Statement& statement) { return statement.Run(&failure_); }

  // The number of the container `name`; fails for a name not defined above.
  HRESULT ContainerId(const std::string& name, std::int64_t* id) {
    const auto found = containers_.find(name);
    if (found == containers_.end()) {
      failure_ = Failure{MAPI_E_NOT_FOUND, "no container \"" + name + "\" above", 0};
      return failure_.hr;
    }
    *id = found->second;
    return S_OK;
  }

  HRESULT AddContainer(const ContainerDescription& container) {
    Statement insert;
    HRESULT hr = db_.Prepare(
        "INSERT INTO containers (name, parent, display_name, is_global) VALUES (?, ?, ?, ?)",
        &insert, &failure_);
    if (FAILED(hr)) return hr;
    insert.BindText(1, container.name);
    if (container.parent.empty()) {
      insert.BindNull(2);
    } else {
      std::int64_t parent = 0;
      hr = ContainerId(container.parent, &parent);
      if (FAILED(hr)) return hr;
      insert.Bind(2, parent);
    }
    insert.BindText(3, container.displayName);
    insert.Bind(4, container.global ? 1 : 0);
    hr = Run(insert);
    containers_[container.name] = db_.LastInsertId();
    if (container.global) global_ = db_.LastInsertId();
    return hr;
  }

  HRESULT AddUser(const UserDescription& user) {
    Statement insert;
    HRESULT hr = db_.Prepare(
        "INSERT INTO users (display_name, alias, email_address, email_key, address_type, "
        "smtp_address, home_mdb, proxy_addresses) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
        &insert, &failure_);
    if (FAILED(hr)) return hr;
    insert.BindText(1, user.displayName);
    insert.BindOptionalText(2, user.alias ? &*user.alias : nullptr);
    insert.BindText(3, user.emailAddress);
    insert.BindText(4, FoldedKey(user.emailAddress));
    insert.BindText(5, user.addressType);
    insert.BindOptionalText(6, user.smtpAddress ? &*user.smtpAddress : nullptr);
    insert.BindOptionalText(7, user.homeMdb ? &*user.homeMdb : nullptr);
    if (user.proxyAddresses.empty()) {
      insert.BindNull(8);
    } else {
      insert.BindBlob(8, EncodeForStorage(mapi_internal::TextListValue(user.proxyAddresses)));
    }
    hr = Run(insert);
    if (FAILED(hr)) return hr;
    const std::int64_t id = db_.LastInsertId();

    const std::string* names[] = {&user.displayName, user.alias ? &*user.alias : nullptr,
                                  &user.emailAddress, user.smtpAddress ? &*user.smtpAddress : nullptr};
    for (const std::string* name : names) {
      if (name == nullptr) continue;
      Statement key;
      hr = db_.Prepare("INSERT OR IGNORE INTO name_keys (key, user) VALUES (?, ?)", &key, &failure_);
      if (FAILED(hr)) return hr;
      key.BindText(1, FoldedKey(mapi_internal::TrimBlanks(*name)));
      key.Bind(2, id);
      hr = Run(key);
      if (FAILED(hr)) return hr;
    }

    std::vector<std::int64_t> members;
    for (const std::string& name : user.containers) {
      members.emplace_back();
      hr = ContainerId(name, &members.back());
      if (FAILED(hr)) return hr;
    }
    if (members.empty()) {
      if (global_ == 0) {
        failure_ = Failure{MAPI_E_NOT_FOUND, "a user names no container and there is no global one", 0};
        return failure_.hr;
      }
      members.push_back(global_);
    }
    for (std::int64_t container : members) {
      Statement member;
      hr = db_.Prepare("INSERT OR IGNORE INTO members (container, user) VALUES (?, ?)", &member,
                       &failure_);
      if (FAILED(hr)) return hr;
      member.Bind(1, container);
      member.Bind(2, id);
      hr = Run(member);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  HRESULT AddStore(const StoreDescription& store) {
    static const std::map<StoreRole, std::int64_t> roles = {
        {StoreRole::kMailbox, mapi_internal::kRoleMailbox},
        {StoreRole::kDefault, mapi_internal::kRoleDefault},
        {StoreRole::kPublic, mapi_internal::kRolePublic}};
    Statement insert;
    HRESULT hr = db_.Prepare(
        "INSERT INTO stores (name, name_key, display_name, role, root) VALUES (?, ?, ?, ?, 0)",
        &insert, &failure_);
    if (FAILED(hr)) return hr;
    insert.BindText(1, store.dn);
    insert.BindText(2, FoldedKey(store.dn));
    insert.BindText(3, store.displayName);
    insert.Bind(4, roles.at(store.role));
    hr = Run(insert);
    if (FAILED(hr)) return hr;
    const std::int64_t id = db_.LastInsertId();

    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto time = static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                                now.dwLowDateTime);
    Statement root;
    hr = db_.Prepare("INSERT INTO objects (store, parent, kind, version, created, modified) "
                     "VALUES (?, NULL, ?, 1, ?, ?)",
                     &root, &failure_);
    if (FAILED(hr)) return hr;
    root.Bind(1, id);
    root.Bind(2, MAPI_FOLDER);
    root.Bind(3, time);
    root.Bind(4, time);
    hr = Run(root);
    if (FAILED(hr)) return hr;
    Statement link;
    hr = db_.Prepare("UPDATE stores SET root = ? WHERE id = ?", &link, &failure_);
    if (FAILED(hr)) return hr;
    link.Bind(1, db_.LastInsertId());
    link.Bind(2, id);
    return Run(link);
  }

  Database& db_;
  Failure failure_;
  std::map<std::string, std::int64_t> containers_;
  std::int64_t global_ = 0;
};

}  // namespace

bool BuildProfile(const Organisation& organisation, const std::string& path, std::string* error) {
  std::unique_ptr<Database> db;
  Failure failure;
  HRESULT hr = Database::Open(path, true, &db, &failure);
  if (FAILED(hr)) {
    *error = failure.text;
    return false;
  }
  Builder builder(*db);
  hr = builder.CheckTarget();
  if (FAILED(hr)) failure = builder.failure();
  if (SUCCEEDED(hr)) hr = db->Exec("PRAGMA journal_mode = WAL", &failure);
  mapi_internal::Transaction transaction(*db);
  if (SUCCEEDED(hr)) hr = transaction.BeginWrite(&failure);
  if (SUCCEEDED(hr)) {
    hr = builder.Build(organisation);
    if (FAILED(hr)) failure = builder.failure();
  }
  if (SUCCEEDED(hr)) hr = transaction.Commit(&failure);
  if (FAILED(hr)) {
    *error = path + ": " + failure.text;
    return false;
  }
  return true;
}

}  // namespace mapi_profile
