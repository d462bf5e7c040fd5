// The files that hold the registry's roots: where they are, reading them
// with a cache of the last parse (kept while the file is unchanged), and
// changing them atomically and durably under a lock shared by every process.
// Internal to the registry calls (registry.h describes the directory, the
// locking and what readers see).
//
// Thread safety: both functions may be called from any thread and process.
#pragma once

#include <functional>
#include <memory>

#include "platform/registry/reg_file.h"
#include "platform/win32/types.h"

namespace morvale::registry {

// The current tree of `root`: an empty one when its file does not exist.
// Fails with ERROR_PATH_NOT_FOUND (no directory configured), ERROR_BADDB
// (a file that cannot be parsed), ERROR_ACCESS_DENIED or ERROR_CANTREAD.
LONG ReadRoot(Root root, std::shared_ptr<const Key>* tree);

// Runs `change` on the current tree of `root` (a tree no reader sees) while
// holding the root's write lock, and writes the tree back when `change`
// returns ERROR_SUCCESS and sets its flag to say that it changed something.
// A `change` that fails or changes nothing must leave the tree as it was.
// Returns the result of `change`, or the error of reading (as ReadRoot) or
// writing (ERROR_ACCESS_DENIED, ERROR_CANTWRITE); nothing is written on
// failure.
LONG UpdateRoot(Root root, const std::function<LONG(Key& tree, bool* changed)>& change);

}  // namespace morvale::registry
