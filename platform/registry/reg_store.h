// The files that hold the registry's roots: where they are, reading them
// with a cache of the last parse (kept while the files are unchanged, and
// brought up to date by reading only what was appended to the journal), and
// changing them durably under a lock shared by every process. Internal to the
// registry calls (registry.h describes the directory, the files, the locking
// and what readers see).
//
// Thread safety: both functions may be called from any thread and process.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/registry/reg_file.h"
#include "platform/win32/types.h"

namespace morvale::registry {

// The current tree of `root`: an empty one when it has no files. Fails with
// ERROR_PATH_NOT_FOUND (no directory configured), ERROR_BADDB (a file or
// journal that cannot be parsed), ERROR_ACCESS_DENIED or ERROR_CANTREAD.
LONG ReadRoot(Root root, std::shared_ptr<const Key>* tree);

// Runs `describe` on the current tree of `root` while holding the root's
// write lock. It sets *change to the text of its one change (reg_file.h:
// SetValueChange and the others), or leaves it empty when nothing changes.
// The change is applied to the tree as every reader applies it and stored
// durably: appended to the journal, or merged with it into the root's file.
// Returns the result of `describe`, or the error of reading (as ReadRoot) or
// writing (ERROR_ACCESS_DENIED, ERROR_CANTWRITE); nothing is stored when
// `describe` fails.
LONG UpdateRoot(Root root, const std::function<LONG(const Key& tree, std::string* change)>& describe);

}  // namespace morvale::registry
