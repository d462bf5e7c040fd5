#include "platform/registry/reg_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/error.h"

namespace morvale::registry {
namespace {

// Beside a root's file: the changes since it was written, and what a write
// fills before renaming it over the file or the journal.
constexpr const char kJournalSuffix[] = ".journal";
constexpr const char kTempSuffix[] = ".partial";

// The journal is merged into the root's file by the write that would make it
// longer than the file, or than this for a small file: a process that starts
// parses at most about twice the file, and the file is rewritten at most once
// for every write of its size to the journal.
constexpr off_t kLeastJournalBound = 64 * 1024;

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

// The journal as last read.
struct JournalSeen {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;        // its size then
  bool stale = false;    // of an older generation than the root's file: ignored
  bool edited = false;   // over another version of the file (one edited by hand): the next write merges
  off_t applied = 0;     // the end of the last whole record applied to the tree
  std::string lastLine;  // the line that ends there, to tell that the file is still the one read
};

// A root as last read: its file, its journal and the tree of both.
//
// A file whose identity is unchanged is taken as unchanged, but only once its
// modification time lies in the past of the clock that stamps files: a file
// changed again within the same tick of that clock keeps its time (and, when
// rewritten in place at the same size, its whole identity). Until then the
// entry is unsettled and every use compares the file's text with `text`.
// A journal is only appended to until a write merges it into the file, which
// gives the file a new identity: while the file is unchanged, a journal of
// the same identity that grew has new records after `applied`.
struct CachedRoot {
  std::mutex mutex;  // held while the entry is used or brought up to date
  bool loaded = false;
  std::optional<FileIdentity> identity;  // the root's file; none: there is none
  std::string text;                      // the file's
  bool settled = false;
  mode_t mode = 0600;
  JournalBase base;                    // what a journal over the file names
  std::optional<JournalSeen> journal;  // none: there was none
  std::shared_ptr<const Key> tree;
};

// The roots by the paths of their files. Entries are never removed, so that
// a reference stays valid; never destroyed, as global objects may still read
// the registry while the process exits.
CachedRoot& Entry(const std::string& path) {
  struct Cache {
    std::mutex mutex;
    std::map<std::string, CachedRoot> roots;
  };
  static Cache* cache = new Cache;
  std::lock_guard lock(cache->mutex);
  return cache->roots[path];
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

// The paths of a root's file and its journal, in the configured directory.
struct Files {
  std::string dir;
  std::string root;
  std::string journal;
};

LONG FilesOf(Root root, Files* files) {
  const char* configured = std::getenv("MORVALE_REGISTRY_DIR");
  if (configured != nullptr && *configured != '\0') {
    files->dir = configured;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return ERROR_PATH_NOT_FOUND;
    files->dir = std::string(home) + "/.morvale/registry";
  }
  const char* name = root == Root::kClassesRoot ? "/HKCR.reg" : root == Root::kCurrentUser ? "/HKCU.reg" : "/HKLM.reg";
  files->root = files->dir + name;
  files->journal = files->root + kJournalSuffix;
  return ERROR_SUCCESS;
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

// The line of `text` that ends at `end`, its newline included.
std::string LastLine(std::string_view text, size_t end) {
  const size_t newline = end < 2 ? std::string_view::npos : text.rfind('\n', end - 2);
  const size_t start = newline == std::string_view::npos ? 0 : newline + 1;
  return std::string(text.substr(start, end - start));
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

// True when the root's file is the one `entry` was read from, reading the
// file when the entry is not settled (and settling it when the file's time
// allows); `now` was taken before the file was looked at.
LONG SameFile(const std::string& path, CachedRoot& entry, OnDisk* file, const timespec& now, bool* same) {
  *same = false;
  if (!file->identity || !entry.identity) {
    *same = !file->identity && !entry.identity;
    return ERROR_SUCCESS;
  }
  if (*file->identity == *entry.identity && entry.settled) {
    *same = true;
    return ERROR_SUCCESS;
  }
  if (!file->text) {
    if (LONG rc = Read(path, file); rc != ERROR_SUCCESS) return rc;
  }
  if (!file->identity || *file->text != entry.text) return ERROR_SUCCESS;
  entry.identity = *file->identity;
  entry.settled = Settled(entry.identity->modified, now);
  *same = true;
  return ERROR_SUCCESS;
}

// The entry's tree, to be changed: itself when no reader holds it, else a copy.
std::shared_ptr<Key> Writable(const CachedRoot& entry) {
  if (entry.tree.use_count() == 1) return std::const_pointer_cast<Key>(entry.tree);
  return std::make_shared<Key>(*entry.tree);
}

// Reads the root's file and its journal whole into `entry`.
//
// The journal is opened before the file is read: should a write merge the
// journal into the file in between, the journal read is of an older
// generation than the file and ignored, as the file holds its changes.
LONG Load(const Files& files, Root root, CachedRoot& entry, const timespec& now) {
  entry.loaded = false;
  const Fd journal(open(files.journal.c_str(), O_RDONLY | O_CLOEXEC));
  if (journal.get() < 0 && errno != ENOENT && errno != ENOTDIR) return ErrnoToError(errno, ERROR_CANTREAD);
  OnDisk file;
  if (LONG rc = Read(files.root, &file); rc != ERROR_SUCCESS) return rc;
  auto tree = std::make_shared<Key>();
  std::string error;
  JournalBase base;
  if (file.identity && !ParseRegFile(*file.text, root, tree.get(), &error, &base.generation)) return ERROR_BADDB;
  base.size = file.text->size();
  base.checksum = Crc32(*file.text);

  std::optional<JournalSeen> seen;
  if (journal.get() >= 0) {
    struct stat st;
    std::string text;
    if (fstat(journal.get(), &st) != 0 || !ReadAll(journal.get(), static_cast<size_t>(st.st_size), &text)) {
      return ERROR_CANTREAD;
    }
    JournalBase over;
    size_t header = 0;
    if (!ParseJournalHeader(text, &over, &header)) return ERROR_BADDB;
    seen.emplace();
    seen->device = st.st_dev;
    seen->inode = st.st_ino;
    seen->size = static_cast<off_t>(text.size());
    if (over.generation < base.generation) {
      seen->stale = true;
    } else {
      // A file changed by hand (or replaced, or removed) since the version
      // that the journal names takes the journal's changes all the same:
      // dropping them would lose them.
      seen->edited = !(over == base);
      size_t used = 0;
      if (!ApplyJournalRecords(std::string_view(text).substr(header), root, tree.get(), &used, &error)) {
        return ERROR_BADDB;
      }
      seen->applied = static_cast<off_t>(header + used);
      seen->lastLine = LastLine(text, header + used);
    }
  }
  entry.identity = file.identity;
  entry.settled = file.identity && Settled(file.identity->modified, now);
  entry.text = std::move(*file.text);
  entry.mode = file.mode;
  entry.base = base;
  entry.journal = std::move(seen);
  entry.tree = std::move(tree);
  entry.loaded = true;
  return ERROR_SUCCESS;
}

// Applies the records appended to the journal since it was read. *read is
// false when the journal is no longer the file that was read.
LONG ReadTail(const Files& files, Root root, CachedRoot& entry, bool* read) {
  *read = false;
  JournalSeen& seen = *entry.journal;
  const Fd fd(open(files.journal.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || st.st_dev != seen.device || st.st_ino != seen.inode) {
    return ERROR_SUCCESS;
  }
  const off_t from = seen.applied - static_cast<off_t>(seen.lastLine.size());
  std::string text;
  if (lseek(fd.get(), from, SEEK_SET) != from ||
      !ReadAll(fd.get(), static_cast<size_t>(std::max<off_t>(st.st_size - from, 0)), &text)) {
    return ERROR_CANTREAD;
  }
  if (text.compare(0, seen.lastLine.size(), seen.lastLine) != 0) return ERROR_SUCCESS;
  const std::shared_ptr<Key> tree = Writable(entry);
  entry.loaded = false;  // until the records are applied
  size_t used = 0;
  std::string error;
  const size_t start = seen.lastLine.size();
  if (!ApplyJournalRecords(std::string_view(text).substr(start), root, tree.get(), &used, &error)) {
    return ERROR_BADDB;
  }
  entry.tree = tree;
  seen.size = from + static_cast<off_t>(text.size());
  seen.applied += static_cast<off_t>(used);
  if (used > 0) seen.lastLine = LastLine(text, start + used);
  entry.loaded = true;
  *read = true;
  return ERROR_SUCCESS;
}

// Brings `entry` up to date with the root's files, reading as little as it
// can: nothing while they are unchanged, the new records of a journal that
// grew, both files whole otherwise.
LONG Refresh(const Files& files, Root root, CachedRoot& entry) {
  const timespec now = FileClockNow();
  // The journal is looked at first: when the file is unchanged after that,
  // no write merged the journal into it in between, and the journal seen is
  // still the one that applies.
  struct stat journal;
  bool hasJournal = true;
  if (stat(files.journal.c_str(), &journal) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return ErrnoToError(errno, ERROR_CANTREAD);
    hasJournal = false;
  }
  OnDisk file;
  if (LONG rc = Stat(files.root, &file); rc != ERROR_SUCCESS) return rc;
  if (entry.loaded) {
    bool same = false;
    if (LONG rc = SameFile(files.root, entry, &file, now, &same); rc != ERROR_SUCCESS) return rc;
    const JournalSeen* seen = entry.journal ? &*entry.journal : nullptr;
    if (same && !hasJournal && seen == nullptr) return ERROR_SUCCESS;
    if (same && hasJournal && seen != nullptr && seen->device == journal.st_dev && seen->inode == journal.st_ino) {
      // A record cut short (size beyond `applied`) may have been cut off
      // and followed by another: the tail is read again.
      if (seen->stale || (journal.st_size == seen->size && seen->size == seen->applied)) return ERROR_SUCCESS;
      if (journal.st_size >= seen->applied) {
        bool read = false;
        if (LONG rc = ReadTail(files, root, entry, &read); rc != ERROR_SUCCESS || read) return rc;
      }
    }
  }
  return Load(files, root, entry, now);
}

// Creates the directory and the ones above it.
LONG MakeDirectory(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return ErrnoToError(errno, ERROR_CANTWRITE);
    if (slash == std::string::npos) return ERROR_SUCCESS;
  }
}

// Opens and takes the write lock of the root, creating the directory when it
// does not exist yet. The lock goes with the descriptor.
LONG Lock(const Files& files, int* fd) {
  const std::string name = files.root + ".lock";
  *fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (*fd < 0 && errno == ENOENT) {
    if (LONG rc = MakeDirectory(files.dir); rc != ERROR_SUCCESS) return rc;
    *fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  if (*fd < 0) return ErrnoToError(errno, ERROR_CANTWRITE);
  while (flock(*fd, LOCK_EX) != 0) {
    if (errno != EINTR) return ERROR_LOCK_VIOLATION;
  }
  return ERROR_SUCCESS;
}

// Writes `text` as the file `path` (the root's file or its journal),
// durably: into the temporary file, which reaches the disk before it is
// renamed over `path`; the rename reaches the disk with the directory.
// *identity is the new file's. Called under the write lock, once the
// temporary file that a killed writer may have left is removed.
LONG ReplaceFile(const Files& files, const std::string& path, const std::string& text, mode_t mode,
                 std::optional<FileIdentity>* identity) {
  const std::string temp = files.root + kTempSuffix;
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
  Fd folder(open(files.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0 || fsync(folder.get()) != 0) return ErrnoToError(errno, ERROR_CANTWRITE);
  return ERROR_SUCCESS;
}

// Appends `record` to the journal and waits for it to reach the disk,
// cutting off first a record cut short by a killed writer. On failure the
// journal is cut back to where it was.
LONG Append(const Files& files, JournalSeen& seen, const std::string& record) {
  const Fd fd(open(files.journal.c_str(), O_WRONLY | O_CLOEXEC));
  if (fd.get() < 0) return ErrnoToError(errno, ERROR_CANTWRITE);
  const bool ok = (seen.size == seen.applied || ftruncate(fd.get(), seen.applied) == 0) &&
                  lseek(fd.get(), seen.applied, SEEK_SET) == seen.applied && WriteAll(fd.get(), record) &&
                  fdatasync(fd.get()) == 0;
  if (!ok) {
    const int err = errno;
    if (ftruncate(fd.get(), seen.applied) == 0) fdatasync(fd.get());
    return ErrnoToError(err, ERROR_CANTWRITE);
  }
  seen.applied += static_cast<off_t>(record.size());
  seen.size = seen.applied;
  seen.lastLine = LastLine(record, record.size());
  return ERROR_SUCCESS;
}

// Starts the journal over the root's file with `text`: its header and first
// record.
LONG StartJournal(const Files& files, CachedRoot& entry, const std::string& text) {
  std::optional<FileIdentity> identity;
  if (LONG rc = ReplaceFile(files, files.journal, text, entry.mode, &identity); rc != ERROR_SUCCESS) return rc;
  entry.journal.emplace();
  entry.journal->device = identity->device;
  entry.journal->inode = identity->inode;
  entry.journal->size = entry.journal->applied = static_cast<off_t>(text.size());
  entry.journal->lastLine = LastLine(text, text.size());
  return ERROR_SUCCESS;
}

// Writes the entry's tree as the root's file of the next generation and
// removes the journal, which the file now holds. A journal that outlives a
// crash is of the older generation and ignored.
LONG Merge(const Files& files, Root root, CachedRoot& entry) {
  std::string text = SerializeRegFile(*entry.tree, root, entry.base.generation + 1);
  std::optional<FileIdentity> identity;
  if (LONG rc = ReplaceFile(files, files.root, text, entry.mode, &identity); rc != ERROR_SUCCESS) return rc;
  unlink(files.journal.c_str());  // one left behind is stale: readers ignore it, the next write replaces it
  entry.identity = identity;
  // Settled only once the file clock has passed the new file's time: an
  // edit in place within the same tick would keep it.
  entry.settled = Settled(identity->modified, FileClockNow());
  entry.base = JournalBase{entry.base.generation + 1, text.size(), Crc32(text)};
  entry.text = std::move(text);
  entry.journal.reset();
  return ERROR_SUCCESS;
}

}  // namespace

LONG ReadRoot(Root root, std::shared_ptr<const Key>* tree) {
  Files files;
  if (LONG rc = FilesOf(root, &files); rc != ERROR_SUCCESS) return rc;
  CachedRoot& entry = Entry(files.root);
  std::lock_guard hold(entry.mutex);
  if (LONG rc = Refresh(files, root, entry); rc != ERROR_SUCCESS) return rc;
  *tree = entry.tree;
  return ERROR_SUCCESS;
}

LONG UpdateRoot(Root root, const std::function<LONG(const Key& tree, std::string* change)>& describe) {
  Files files;
  if (LONG rc = FilesOf(root, &files); rc != ERROR_SUCCESS) return rc;
  int raw = -1;
  const LONG locked = Lock(files, &raw);
  const Fd lock(raw);  // the write lock is held until this call returns
  if (locked != ERROR_SUCCESS) return locked;

  CachedRoot& entry = Entry(files.root);
  std::lock_guard hold(entry.mutex);
  if (LONG rc = Refresh(files, root, entry); rc != ERROR_SUCCESS) return rc;
  std::string change;
  if (LONG rc = describe(*entry.tree, &change); rc != ERROR_SUCCESS || change.empty()) return rc;
  const std::string record = JournalRecord(change);

  // What a writer killed before its rename left.
  const std::string temp = files.root + kTempSuffix;
  if (unlink(temp.c_str()) != 0 && errno != ENOENT) return ErrnoToError(errno, ERROR_CANTWRITE);
  // The record is applied as every reader applies it; the entry is read
  // again should it not be stored.
  const std::shared_ptr<Key> tree = Writable(entry);
  entry.loaded = false;
  size_t used = 0;
  std::string error;
  if (!ApplyJournalRecords(record, root, tree.get(), &used, &error) || used != record.size()) return ERROR_BADDB;
  entry.tree = tree;

  const off_t bound = std::max(static_cast<off_t>(entry.base.size), kLeastJournalBound);
  const auto size = static_cast<off_t>(record.size());
  LONG rc;
  if (entry.journal && !entry.journal->stale) {
    rc = entry.journal->applied + size <= bound && !entry.journal->edited ? Append(files, *entry.journal, record)
                                                                          : Merge(files, root, entry);
  } else {
    const std::string text = JournalHeader(entry.base) + record;
    rc = static_cast<off_t>(text.size()) <= bound ? StartJournal(files, entry, text) : Merge(files, root, entry);
  }
  entry.loaded = rc == ERROR_SUCCESS;
  return rc;
}

}  // namespace morvale::registry
