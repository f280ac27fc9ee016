#include "database/NetDirLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "base/SharedFolder.h"
#include "database/DbError.h"

namespace quorvane {

TNetDirLock::TNetDirLock(const std::string& directory, const std::string& tableName,
                         std::chrono::milliseconds timeout, bool create) {
    const std::string path = (std::filesystem::path(directory) / kFileName).string();
    // NetDir is named by the shared settings: reached through trusted links only, and the lock
    // file itself never a link, a pipe or a device someone put at its name.
    const UniqueFd folder = OpenFolder(directory);
    if (folder.Valid()) {
        fd_ = ::openat(folder.Get(), kFileName,
                       O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0), 0660);
    }
    if (fd_ < 0 && !create && errno == ENOENT) {
        return;
    }
    struct stat info {};
    if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd_);
        fd_ = -1;
        errno = EINVAL;
    }
    if (fd_ < 0) {
        throw EDBEngineError("Impossible d'ouvrir le fichier de verrouillage " + path + " : " +
                             std::strerror(errno));
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if ((error != EWOULDBLOCK && error != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            ::close(fd_);
            fd_ = -1;
            if (error != EWOULDBLOCK && error != EINTR) {
                throw EDBEngineError("Impossible de verrouiller le fichier " + path + " : " +
                                     std::strerror(error));
            }
            throw EDBEngineError("La table " + tableName +
                                 " est verrouillée par une autre application");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TNetDirLock::~TNetDirLock() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
}

}  // namespace quorvane
