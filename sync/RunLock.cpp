#include "sync/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace quorvane {

RunLock RunLock::Take(const std::string& programFolder) {
    UniqueFd fd(::open(programFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) {
        return RunLock(UniqueFd(), Result::Unavailable);
    }
    while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        return RunLock(UniqueFd(),
                       errno == EWOULDBLOCK ? Result::HeldByAnotherRun : Result::Unavailable);
    }
    return RunLock(std::move(fd), Result::Held);
}

}  // namespace quorvane
