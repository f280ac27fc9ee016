#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/PosixFile.h"

namespace quorvane {

// The program's folder may be shared by the store's users (group-writable, as the package lays
// it out), and so may every folder the settings name. In such a folder any of them may put a
// link, a pipe or a second name of another file where the program expects its own file; these
// helpers never go through one. Links are followed by the rule of base/LinkRule only.

// Whether anyone but the running user may add, remove or rename entries of `folder`: it is
// group- or world-writable, or it belongs to someone else who may write it. A folder that
// cannot be looked at counts as shared.
bool WritableByOthers(const std::filesystem::path& folder);

// Opens the folder `file` lies in, to work inside it by name (openat, renameat), reached
// through trusted links only; `file` itself is not followed. -1 and errno on a failure.
UniqueFd OpenFolderOf(const std::filesystem::path& file);

// Opens `folder` itself, on the same terms as OpenFolderOf.
UniqueFd OpenFolder(const std::filesystem::path& folder);

// Opens `file` to read it: only a regular file, never waiting on a pipe put at its name, and
// through trusted links only. -1 and errno on a failure (ELOOP for a refused link, EINVAL for
// something other than a file).
UniqueFd OpenFileToRead(const std::filesystem::path& file);

// The whole of `file`, opened as OpenFileToRead does; nothing when it cannot be read or holds
// more than `limit` bytes.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& file,
                                         std::size_t limit = SIZE_MAX);

// The last component of `path`, a trailing "/" ignored.
std::filesystem::path NameOf(const std::filesystem::path& path);

}  // namespace quorvane
