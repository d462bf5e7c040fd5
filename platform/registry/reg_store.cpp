#include "platform/registry/reg_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/win32/error.h"

namespace morvale::registry {
namespace {

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

// The last parse of a file, kept with the text it was parsed from: a file
// whose text is unchanged is not parsed again. (Comparing the text rather
// than times or inode numbers also catches a file rewritten in place within
// one tick of the file-system clock.)
struct CachedTree {
  std::string text;
  std::shared_ptr<const Key> tree;
};

struct Cache {
  std::mutex mutex;
  std::map<std::string, CachedTree> files;
};

// Never destroyed: global objects may still read the registry while the
// process exits.
Cache& TheCache() {
  static Cache* cache = new Cache;
  return *cache;
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

bool ReadAll(int fd, std::string* out) {
  out->clear();
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

// Opens the file of a root for reading: *fd is -1 when it does not exist.
LONG OpenFile(const std::string& path, int* fd) {
  *fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (*fd >= 0 || errno == ENOENT || errno == ENOTDIR) return ERROR_SUCCESS;
  return ErrnoToError(errno, ERROR_CANTREAD);
}

LONG ParseText(const std::string& text, Root root, Key* tree) {
  std::string error;
  return ParseRegFile(text, root, tree, &error) ? ERROR_SUCCESS : static_cast<LONG>(ERROR_BADDB);
}

// Creates the directory and the ones above it.
LONG MakeDirectory(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return ErrnoToError(errno, ERROR_CANTWRITE);
    if (slash == std::string::npos) return ERROR_SUCCESS;
  }
}

// Writes `text` to a temporary file beside `path` and renames it over `path`.
LONG ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return ErrnoToError(errno, ERROR_CANTWRITE);
  bool ok;
  {
    Fd file(fd);
    ok = WriteAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  }
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return ERROR_SUCCESS;
  const int err = errno;
  unlink(temp.c_str());
  return ErrnoToError(err, ERROR_CANTWRITE);
}

}  // namespace

LONG ReadRoot(Root root, std::shared_ptr<const Key>* tree) {
  std::string dir;
  if (LONG rc = Directory(&dir); rc != ERROR_SUCCESS) return rc;
  const std::string path = dir + "/" + FileName(root);
  int raw = -1;
  if (LONG rc = OpenFile(path, &raw); rc != ERROR_SUCCESS) return rc;
  Fd fd(raw);
  if (fd.get() < 0) {
    *tree = std::make_shared<const Key>();
    return ERROR_SUCCESS;
  }
  std::string text;
  if (!ReadAll(fd.get(), &text)) return ERROR_CANTREAD;
  Cache& cache = TheCache();
  {
    std::lock_guard lock(cache.mutex);
    const auto it = cache.files.find(path);
    if (it != cache.files.end() && it->second.text == text) {
      *tree = it->second.tree;
      return ERROR_SUCCESS;
    }
  }
  auto parsed = std::make_shared<Key>();
  if (LONG rc = ParseText(text, root, parsed.get()); rc != ERROR_SUCCESS) return rc;
  *tree = parsed;
  std::lock_guard lock(cache.mutex);
  cache.files[path] = CachedTree{std::move(text), parsed};
  return ERROR_SUCCESS;
}

LONG UpdateRoot(Root root, const std::function<LONG(Key& tree, bool* changed)>& change) {
  std::string dir;
  if (LONG rc = Directory(&dir); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = MakeDirectory(dir); rc != ERROR_SUCCESS) return rc;
  const std::string path = dir + "/" + FileName(root);

  // The lock is held until `lock` is closed at the end of this call.
  Fd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return ErrnoToError(errno, ERROR_CANTWRITE);
  while (flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return ERROR_LOCK_VIOLATION;
  }

  Key tree;
  mode_t mode = 0600;
  int raw = -1;
  if (LONG rc = OpenFile(path, &raw); rc != ERROR_SUCCESS) return rc;
  Fd current(raw);
  if (current.get() >= 0) {
    struct stat st;
    if (fstat(current.get(), &st) != 0) return ERROR_CANTREAD;
    mode = st.st_mode & 07777;
    std::string text;
    if (!ReadAll(current.get(), &text)) return ERROR_CANTREAD;
    if (LONG rc = ParseText(text, root, &tree); rc != ERROR_SUCCESS) return rc;
  }

  bool changed = false;
  if (LONG rc = change(tree, &changed); rc != ERROR_SUCCESS || !changed) return rc;
  return ReplaceFile(path, SerializeRegFile(tree, root), mode);
}

}  // namespace morvale::registry
