#include "sync/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "base/SharedFolder.h"

namespace quorvane {
namespace {

bool IsPlainFile(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_nlink == 1;
}

}  // namespace

RunLock RunLock::Take(const std::string& programFolder) {
    std::string folder = programFolder;
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return TakeFile(folder + kFichierVerrou);
}

RunLock RunLock::TakeFile(const std::string& lockFile) {
    const UniqueFd folder = OpenFolderOf(lockFile);
    if (!folder.Valid()) {
        return RunLock(UniqueFd(), Result::Unavailable);
    }
    const std::string name = NameOf(lockFile).string();
    const std::filesystem::path lockFolder = std::filesystem::path(lockFile).parent_path();
    const mode_t mode = WritableByOthers(lockFolder) ? 0660 : 0600;
    // A few rounds: each one either takes the lock or clears away something that is not a lock
    // file, which a run started at the same moment may be doing too.
    for (int attempt = 0; attempt < 8; ++attempt) {
        UniqueFd fd(
            ::openat(folder.Get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd.Valid() && errno == EROFS) {
            // The machine-wide service sees /run read-only (ProtectSystem=strict): a descriptor
            // opened to read holds the flock just as well, and the file's mode still keeps
            // other accounts from opening it.
            fd = UniqueFd(::openat(folder.Get(), name.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        }
        if (!fd.Valid() && errno == ENOENT) {
            fd = UniqueFd(::openat(folder.Get(), name.c_str(),
                                   O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            if (!fd.Valid() && errno == EEXIST) {
                continue;
            }
            if (fd.Valid()) {
                // Whatever the umask, the program's other users must be able to take it.
                ::fchmod(fd.Get(), mode);
            }
        }
        struct stat info {};
        const bool opened = fd.Valid() && ::fstat(fd.Get(), &info) == 0;
        if (!opened && errno != ELOOP && errno != EACCES && errno != ENXIO) {
            return RunLock(UniqueFd(), Result::Unavailable);
        }
        if (!opened || !IsPlainFile(info)) {
            // A link, a pipe, a second name of another file or a file the program's users may
            // not open stands at the lock's name: put there by hand, it is no run's lock.
            fd = UniqueFd();
            if (::unlinkat(folder.Get(), name.c_str(), 0) != 0 && errno != ENOENT) {
                return RunLock(UniqueFd(), Result::Unavailable);
            }
            continue;
        }
        int rc;
        while ((rc = ::flock(fd.Get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            return RunLock(UniqueFd(),
                           errno == EWOULDBLOCK ? Result::HeldByAnotherRun : Result::Unavailable);
        }
        // Still the file at the lock's name? A lock on a file that was just replaced would
        // keep no other run out.
        struct stat current {};
        if (::fstatat(folder.Get(), name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0 &&
            current.st_dev == info.st_dev && current.st_ino == info.st_ino) {
            return RunLock(std::move(fd), Result::Held);
        }
    }
    return RunLock(UniqueFd(), Result::Unavailable);
}

}  // namespace quorvane
