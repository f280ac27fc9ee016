#include "log/TFichierLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/PosixFile.h"
#include "base/TextConversion.h"

namespace quorvane {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
    throw FileWriteError(what + " " + path + " : " + std::strerror(err));
}

// Never through a link, and never blocking on a named pipe someone put at the path.
constexpr int kOwnFile = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Only a plain file that has no other name is ours to write: a second hard link may be
// someone else's file.
bool IsOwnFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
}

}  // namespace

void TFichierLog::Creer() const {
    UniqueFd fd(::open(path_.c_str(), kOwnFile | O_CREAT, 0666));
    int error = fd.Valid() ? 0 : errno;
    if (error == ELOOP || error == ENXIO || (fd.Valid() && !IsOwnFile(fd.Get()))) {
        // A link, a pipe or another file's second name stands where the file goes: it is
        // replaced by a new file of our own rather than written through.
        fd = UniqueFd();
        if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
            Fail("Impossible de créer le fichier", path_, errno);
        }
        fd = UniqueFd(::open(path_.c_str(), kOwnFile | O_CREAT | O_EXCL, 0666));
        error = fd.Valid() ? 0 : errno;
    } else if (fd.Valid() && ::ftruncate(fd.Get(), 0) != 0) {
        error = errno;
    }
    if (error != 0) {
        Fail("Impossible de créer le fichier", path_, error);
    }
    if (fd.Close() != 0) {
        Fail("Impossible de créer le fichier", path_, errno);
    }
}

void TFichierLog::AjouterLigne(const std::string& line) const {
    const std::string bytes = Utf8ToCp1252(line) + "\r\n";
    UniqueFd fd(::open(path_.c_str(), kOwnFile));
    if (fd.Get() < 0) {
        Fail("Impossible d'ouvrir le fichier", path_, errno);
    }
    if (!IsOwnFile(fd.Get())) {
        // Swapped for something else since it was created: refused, not written through.
        Fail("Impossible d'ouvrir le fichier", path_, EPERM);
    }
    if (::lseek(fd.Get(), 0, SEEK_END) < 0) {
        Fail("Impossible d'écrire dans le fichier", path_, errno);
    }
    if (!WriteAll(fd.Get(), bytes.data(), bytes.size())) {
        Fail("Impossible d'écrire dans le fichier", path_, errno);
    }
    if (fd.Close() != 0) {
        Fail("Impossible d'écrire dans le fichier", path_, errno);
    }
}

}  // namespace quorvane
