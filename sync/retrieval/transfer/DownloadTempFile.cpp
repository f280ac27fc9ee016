#include "sync/retrieval/transfer/DownloadTempFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "sync/retrieval/FtpClient.h"

namespace quorvane {

DownloadTempFile::DownloadTempFile(const std::filesystem::path& target) try : pending_(target) {
    const int fd = ::dup(pending_.Fd());
    if (fd >= 0) {
        file_.reset(::fdopen(fd, "wb"));
        if (!file_) {
            ::close(fd);
        }
    }
    if (!file_) {
        throw FtpError("Création du fichier temporaire impossible pour " + target.string() + " : " +
                       std::strerror(errno));
    }
} catch (const std::system_error& e) {
    throw FtpError(std::string(e.what()));
}

void DownloadTempFile::Commit(const std::filesystem::path& target) {
    if (std::fclose(file_.release()) != 0) {
        throw FtpError("Écriture de " + target.string() + " impossible : " + std::strerror(errno));
    }
    try {
        pending_.Commit();
    } catch (const std::system_error& e) {
        throw FtpError(std::string(e.what()));
    }
}

}  // namespace quorvane
