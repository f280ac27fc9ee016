#include "sync/retrieval/transfer/DownloadTempFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "sync/retrieval/FtpClient.h"

namespace quorvane {
namespace {

// stdio calls these with whatever it buffered; no exception may leave them.
ssize_t WriteCookie(void* cookie, const char* data, size_t size) noexcept {
    auto* pending = static_cast<PendingFile*>(cookie);
    return pending->Write(data, size) ? static_cast<ssize_t>(size) : -1;
}

int SeekCookie(void* cookie, off64_t* offset, int whence) noexcept {
    auto* pending = static_cast<PendingFile*>(cookie);
    const off64_t at = ::lseek64(pending->Fd(), *offset, whence);
    if (at < 0) {
        return -1;
    }
    // A resumed download starts after bytes this stream never saw.
    if (at != pending->Written()) {
        pending->DigestInvalid();
    }
    *offset = at;
    return 0;
}

}  // namespace

DownloadTempFile::DownloadTempFile(const std::filesystem::path& target) try
    : pending_(std::make_unique<PendingFile>(target)) {
    const cookie_io_functions_t functions{nullptr, &WriteCookie, &SeekCookie, nullptr};
    file_.reset(::fopencookie(pending_.get(), "wb", functions));
    if (!file_) {
        throw FtpError("Création du fichier temporaire impossible pour " + target.string() + " : " +
                       std::strerror(errno));
    }
} catch (const std::system_error& e) {
    throw FtpError(std::string(e.what()));
}

FileDigest DownloadTempFile::Commit(const std::filesystem::path& target) {
    if (std::fclose(file_.release()) != 0) {
        throw FtpError("Écriture de " + target.string() + " impossible : " + std::strerror(errno));
    }
    try {
        pending_->Commit();
    } catch (const std::system_error& e) {
        throw FtpError(std::string(e.what()));
    }
    return pending_->Digest();
}

}  // namespace quorvane
