#pragma once

#include <filesystem>

#include "base/PosixFile.h"

namespace quorvane {

// The program's folder may be shared by the store's users (group-writable, as the package lays
// it out). In such a folder any of them may put a link, a pipe or a second name of another
// file where the program expects its own file; these helpers never go through one. In a folder
// only the running user may change, links are followed as everywhere else.

// Whether anyone but the running user may add, remove or rename entries of `folder`: it is
// group- or world-writable, or it belongs to someone else who may write it. A folder that
// cannot be looked at counts as shared.
bool WritableByOthers(const std::filesystem::path& folder);

// Opens the folder `file` lies in, to work inside it by name (openat, renameat). That folder is
// not reached through a link when the folder holding it is writable by others. -1 and errno on
// a failure.
UniqueFd OpenFolderOf(const std::filesystem::path& file);

// Opens `folder` itself, on the same terms as OpenFolderOf.
UniqueFd OpenFolder(const std::filesystem::path& folder);

// Opens `file` to read it: only a regular file, never waiting on a pipe put at its name, and
// not through a link when the file or its folder lies in a folder writable by others. -1 and
// errno on a failure (ELOOP for a refused link, EINVAL for something other than a file).
UniqueFd OpenFileToRead(const std::filesystem::path& file);

// The last component of `path`, a trailing "/" ignored.
std::filesystem::path NameOf(const std::filesystem::path& path);

}  // namespace quorvane
