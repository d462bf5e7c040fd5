#include "platform/registry/reg_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/win32/error.h"

namespace morvale::registry {
namespace {

// The temporary file a write fills before renaming it over the root's file.
constexpr const char kTempSuffix[] = ".partial";

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// What tells one version of a file from another without reading it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  explicit FileIdentity(const struct stat& st)
      : device(st.st_dev), inode(st.st_ino), size(st.st_size), modified(st.st_mtim) {}
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

// The last parse of a root's file, with the text it was parsed from.
//
// A file whose identity is unchanged is taken as unchanged, but only once its
// modification time lies in the past of the clock that stamps files: a file
// changed again within the same tick of that clock keeps its time (and, when
// rewritten in place at the same size, its whole identity). Until then the
// entry is unsettled and every use compares the file's text with `text`.
struct CachedRoot {
  FileIdentity identity;
  std::string text;
  std::shared_ptr<const Key> tree;
  bool settled = false;
};

struct Cache {
  std::mutex mutex;
  std::map<std::string, CachedRoot> files;  // by the file's path
};

// Never destroyed: global objects may still read the registry while the
// process exits.
Cache& TheCache() {
  static Cache* cache = new Cache;
  return *cache;
}

// The clock that file systems stamp modification times with. (A wall clock,
// as the times it is compared with are; nothing here measures durations.)
timespec FileClockNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return now;
}

// True when every change after `now` gets a later modification time than
// `modified`. A time with no fraction of a second may come from a file
// system that keeps whole seconds (or two): it is trusted two seconds later.
bool Settled(const timespec& modified, const timespec& now) {
  if (modified.tv_nsec == 0) return modified.tv_sec + 2 < now.tv_sec;
  return modified.tv_sec < now.tv_sec ||
         (modified.tv_sec == now.tv_sec && modified.tv_nsec < now.tv_nsec);
}

LONG Directory(std::string* dir) {
  const char* configured = std::getenv("MORVALE_REGISTRY_DIR");
  if (configured != nullptr && *configured != '\0') {
    *dir = configured;
    return ERROR_SUCCESS;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return ERROR_PATH_NOT_FOUND;
  *dir = std::string(home) + "/.morvale/registry";
  return ERROR_SUCCESS;
}

const char* FileName(Root root) {
  switch (root) {
    case Root::kClassesRoot: return "HKCR.reg";
    case Root::kCurrentUser: return "HKCU.reg";
    case Root::kLocalMachine: return "HKLM.reg";
  }
  return "";
}

LONG ErrnoToError(int err, LONG otherwise) {
  return (err == EACCES || err == EPERM || err == EROFS) ? static_cast<LONG>(ERROR_ACCESS_DENIED)
                                                        : otherwise;
}

bool ReadAll(int fd, size_t expected, std::string* out) {
  out->clear();
  out->reserve(expected);
  char buf[65536];
  while (true) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out->append(buf, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// The version of a root's file at hand: its identity (null when the file
// does not exist), its mode, and, once read, its text.
struct OnDisk {
  std::optional<FileIdentity> identity;
  mode_t mode = 0600;
  std::optional<std::string> text;
};

LONG Stat(const std::string& path, OnDisk* file) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return ERROR_SUCCESS;
    return ErrnoToError(errno, ERROR_CANTREAD);
  }
  file->identity.emplace(st);
  file->mode = st.st_mode & 07777;
  return ERROR_SUCCESS;
}

// Reads the file, taking its identity from the descriptor read.
LONG Read(const std::string& path, OnDisk* file) {
  const int raw = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (raw < 0) {
    if (errno != ENOENT && errno != ENOTDIR) return ErrnoToError(errno, ERROR_CANTREAD);
    *file = OnDisk{};
    file->text.emplace();
    return ERROR_SUCCESS;
  }
  Fd fd(raw);
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return ERROR_CANTREAD;
  file->identity.emplace(st);
  file->mode = st.st_mode & 07777;
  file->text.emplace();
  return ReadAll(fd.get(), static_cast<size_t>(st.st_size), &*file->text)
             ? static_cast<LONG>(ERROR_SUCCESS)
             : static_cast<LONG>(ERROR_CANTREAD);
}

// True when `entry` holds the tree of `file`, reading the file when the
// entry is not settled (and settling it when the file's time allows);
// `now` was taken before the file was looked at.
LONG Matches(const std::string& path, CachedRoot& entry, OnDisk* file, const timespec& now,
             bool* matches) {
  *matches = false;
  if (!file->identity) return ERROR_SUCCESS;
  if (*file->identity == entry.identity && entry.settled) {
    *matches = true;
    return ERROR_SUCCESS;
  }
  if (!file->text) {
    if (LONG rc = Read(path, file); rc != ERROR_SUCCESS) return rc;
  }
  if (!file->identity || *file->text != entry.text) return ERROR_SUCCESS;
  entry.identity = *file->identity;
  entry.settled = Settled(entry.identity.modified, now);
  *matches = true;
  return ERROR_SUCCESS;
}

LONG Parse(const OnDisk& file, Root root, Key* tree) {
  if (!file.identity) return ERROR_SUCCESS;
  std::string error;
  return ParseRegFile(*file.text, root, tree, &error) ? ERROR_SUCCESS : static_cast<LONG>(ERROR_BADDB);
}

// Creates the directory and the ones above it.
LONG MakeDirectory(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return ErrnoToError(errno, ERROR_CANTWRITE);
    if (slash == std::string::npos) return ERROR_SUCCESS;
  }
}

// Opens and takes the write lock of the root file `path`, creating the
// directory when it does not exist yet. The lock goes with the descriptor.
LONG Lock(const std::string& dir, const std::string& path, int* fd) {
  const std::string name = path + ".lock";
  *fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (*fd < 0 && errno == ENOENT) {
    if (LONG rc = MakeDirectory(dir); rc != ERROR_SUCCESS) return rc;
    *fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  if (*fd < 0) return ErrnoToError(errno, ERROR_CANTWRITE);
  while (flock(*fd, LOCK_EX) != 0) {
    if (errno != EINTR) return ERROR_LOCK_VIOLATION;
  }
  return ERROR_SUCCESS;
}

// Writes `text` as the file `path`, durably: into the temporary file beside
// it (removing what a writer killed before it left there), which reaches the
// disk before it is renamed over `path`; the rename reaches the disk with
// the directory. *identity is the new file's. Called under the write lock.
LONG ReplaceFile(const std::string& dir, const std::string& path, const std::string& text, mode_t mode,
                 std::optional<FileIdentity>* identity) {
  const std::string temp = path + kTempSuffix;
  if (unlink(temp.c_str()) != 0 && errno != ENOENT) return ErrnoToError(errno, ERROR_CANTWRITE);
  const int raw = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (raw < 0) return ErrnoToError(errno, ERROR_CANTWRITE);
  bool ok;
  {
    Fd file(raw);
    struct stat st;
    ok = WriteAll(raw, text) && fchmod(raw, mode) == 0 && fsync(raw) == 0 && fstat(raw, &st) == 0;
    if (ok) identity->emplace(st);
  }
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    return ErrnoToError(err, ERROR_CANTWRITE);
  }
  Fd folder(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0 || fsync(folder.get()) != 0) return ErrnoToError(errno, ERROR_CANTWRITE);
  return ERROR_SUCCESS;
}

}  // namespace

LONG ReadRoot(Root root, std::shared_ptr<const Key>* tree) {
  std::string dir;
  if (LONG rc = Directory(&dir); rc != ERROR_SUCCESS) return rc;
  const std::string path = dir + "/" + FileName(root);
  const timespec now = FileClockNow();
  OnDisk file;
  if (LONG rc = Stat(path, &file); rc != ERROR_SUCCESS) return rc;
  if (!file.identity) {
    static const auto* empty = new std::shared_ptr<const Key>(std::make_shared<const Key>());
    *tree = *empty;
    return ERROR_SUCCESS;
  }
  Cache& cache = TheCache();
  {
    // A settled entry is the fast way: no read. An unsettled one reads the
    // file under the lock, which only happens within a tick of a change.
    std::lock_guard lock(cache.mutex);
    const auto it = cache.files.find(path);
    if (it != cache.files.end()) {
      bool matches = false;
      if (LONG rc = Matches(path, it->second, &file, now, &matches); rc != ERROR_SUCCESS) return rc;
      if (matches) {
        *tree = it->second.tree;
        return ERROR_SUCCESS;
      }
    }
  }
  if (!file.text) {
    if (LONG rc = Read(path, &file); rc != ERROR_SUCCESS) return rc;
  }
  auto parsed = std::make_shared<Key>();
  if (LONG rc = Parse(file, root, parsed.get()); rc != ERROR_SUCCESS) return rc;
  *tree = parsed;
  if (file.identity) {
    std::lock_guard lock(cache.mutex);
    cache.files.insert_or_assign(path, CachedRoot{*file.identity, std::move(*file.text), std::move(parsed),
                                                  Settled(file.identity->modified, now)});
  }
  return ERROR_SUCCESS;
}

LONG UpdateRoot(Root root, const std::function<LONG(Key& tree, bool* changed)>& change) {
  std::string dir;
  if (LONG rc = Directory(&dir); rc != ERROR_SUCCESS) return rc;
  const std::string path = dir + "/" + FileName(root);
  int raw = -1;
  const LONG locked = Lock(dir, path, &raw);
  const Fd lock(raw);  // the write lock is held until this call returns
  if (locked != ERROR_SUCCESS) return locked;

  const timespec now = FileClockNow();
  OnDisk file;
  if (LONG rc = Stat(path, &file); rc != ERROR_SUCCESS) return rc;

  // The current tree: the cached one when it is the file's (taken over when
  // no reader holds it, copied otherwise), else the file parsed.
  Cache& cache = TheCache();
  std::shared_ptr<Key> tree;
  std::optional<CachedRoot> taken;
  {
    std::lock_guard hold(cache.mutex);
    const auto it = cache.files.find(path);
    if (it != cache.files.end()) {
      bool matches = false;
      if (LONG rc = Matches(path, it->second, &file, now, &matches); rc != ERROR_SUCCESS) return rc;
      if (matches && it->second.tree.use_count() == 1) {
        taken.emplace(std::move(it->second));
        cache.files.erase(it);
        tree = std::const_pointer_cast<Key>(taken->tree);
      } else if (matches) {
        tree = std::make_shared<Key>(*it->second.tree);
      }
    }
  }
  if (tree == nullptr) {
    if (file.identity && !file.text) {
      if (LONG rc = Read(path, &file); rc != ERROR_SUCCESS) return rc;
    }
    tree = std::make_shared<Key>();
    if (LONG rc = Parse(file, root, tree.get()); rc != ERROR_SUCCESS) return rc;
  }

  bool changed = false;
  const LONG rc = change(*tree, &changed);
  if (rc != ERROR_SUCCESS || !changed) {
    // The tree is as it was: what was taken from the cache goes back.
    if (taken) {
      std::lock_guard hold(cache.mutex);
      cache.files.emplace(path, std::move(*taken));
    }
    return rc;
  }
  taken.reset();
  std::string text = SerializeRegFile(*tree, root);
  std::optional<FileIdentity> identity;
  if (LONG written = ReplaceFile(dir, path, text, file.mode, &identity); written != ERROR_SUCCESS) {
    std::lock_guard hold(cache.mutex);
    cache.files.erase(path);
    return written;
  }
  // Settled only once the file clock has passed the new file's time: an
  // edit in place within the same tick would keep it.
  const bool settled = Settled(identity->modified, FileClockNow());
  std::lock_guard hold(cache.mutex);
  cache.files.insert_or_assign(path, CachedRoot{*identity, std::move(text), std::move(tree), settled});
  return ERROR_SUCCESS;
}

}  // namespace morvale::registry
