#include "log/TFichierLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/PosixFile.h"
#include "config/TextConversion.h"

namespace quorvane {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
    throw FileWriteError(what + " " + path + " : " + std::strerror(err));
}

}  // namespace

void TFichierLog::Creer() const {
    UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        Fail("Impossible de créer le fichier", path_, errno);
    }
    if (fd.Close() != 0) {
        Fail("Impossible de créer le fichier", path_, errno);
    }
}

void TFichierLog::AjouterLigne(const std::string& line) const {
    const std::string bytes = Utf8ToCp1252(line) + "\r\n";
    UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        Fail("Impossible d'ouvrir le fichier", path_, errno);
    }
    if (::lseek(fd.get(), 0, SEEK_END) < 0) {
        Fail("Impossible d'écrire dans le fichier", path_, errno);
    }
    if (!WriteAll(fd.get(), bytes.data(), bytes.size())) {
        Fail("Impossible d'écrire dans le fichier", path_, errno);
    }
    if (fd.Close() != 0) {
        Fail("Impossible d'écrire dans le fichier", path_, errno);
    }
}

}  // namespace quorvane
