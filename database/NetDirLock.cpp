#include "database/NetDirLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "database/DbError.h"

namespace quorvane {

TNetDirLock::TNetDirLock(const std::string& directory, const std::string& tableName,
                         std::chrono::milliseconds timeout) {
    const std::string path = (std::filesystem::path(directory) / kFileName).string();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
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
