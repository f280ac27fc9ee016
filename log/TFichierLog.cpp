#include "log/TFichierLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/TextConversion.h"

namespace quorvane {
namespace {

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closing is where a full disk may finally show; it must be checked, not left to the
    // destructor.
    int release_and_close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
    throw FileWriteError(what + " " + path + " : " + std::strerror(err));
}

}  // namespace

void TFichierLog::Creer() const {
    Fd fd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        Fail("Impossible de créer le fichier", path_, errno);
    }
    if (fd.release_and_close() != 0) {
        Fail("Impossible de créer le fichier", path_, errno);
    }
}

void TFichierLog::AjouterLigne(const std::string& line) const {
    const std::string bytes = Utf8ToCp1252(line) + "\r\n";
    Fd fd(::open(path_.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        Fail("Impossible d'ouvrir le fichier", path_, errno);
    }
    if (::lseek(fd.get(), 0, SEEK_END) < 0) {
        Fail("Impossible d'écrire dans le fichier", path_, errno);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("Impossible d'écrire dans le fichier", path_, errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (fd.release_and_close() != 0) {
        Fail("Impossible d'écrire dans le fichier", path_, errno);
    }
}

}  // namespace quorvane
