#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/PosixFile.h"

namespace quorvane {

// The settings are shared by the store's users, so every path they name may have been chosen by
// another account, and so may every link met on the way to it. A link is followed only when the
// link and the folder holding it belong to the running user or to root and nobody else may
// write that folder (the kernel's protected_symlinks, made stricter); any other link stops the
// walk with ELOOP. Nothing is looked up twice by name: each step opens the next folder from the
// descriptor of the previous one.

// Where a walked path leads: the folder holding its last entry, opened, and that entry's name
// inside it ("." when the path ends on a folder such as "/"). `Path` spells the same place
// without links, for the few callers that must hand a name to a library.
struct WalkedPath {
    UniqueFd Folder;
    std::string Name;
    std::string Path;

    bool Valid() const { return Folder.Valid(); }
};

// Walks `path` from "/" or the current folder. A link as the last entry is followed too when
// `followLast`; otherwise `Name` may name a link, for a caller that replaces it by a rename.
// The last entry need not exist. On failure the folder is invalid and errno says why.
WalkedPath WalkPath(const std::filesystem::path& path, bool followLast);

// Whether the link described by `link` (lstat), found in the folder open as `folder`, may be
// followed.
bool LinkMayBeFollowed(int folder, const struct stat& link);

// Opens the regular file `name` of `folder` to read it, never waiting: a FIFO, a device, a
// socket or a folder is refused (EINVAL, EISDIR), a link at the name too (ELOOP).
UniqueFd OpenRegularAt(int folder, const std::string& name);

}  // namespace quorvane
