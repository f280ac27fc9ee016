#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include "base/SharedFolder.h"

namespace quorvane {
namespace {

constexpr std::string_view kSuffix = ".partiel-";
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kRandomLength = 6;

std::filesystem::path FolderOf(const std::filesystem::path& target) {
    return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

// A rename ignores the permissions of the file it replaces, and root passes every permission
// check: a file (or folder) marked read-only, with no write permission for anyone, or one we may
// not write, is refused as a write into it would be.
bool WritableByUs(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return true;
    }
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
           ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target, mode_t mode) : target_(std::move(target)) {
    const std::filesystem::path folder = FolderOf(target_);
    // Everything happens by name inside this one folder: a folder swapped for a link while the
    // file is written cannot send the file elsewhere.
    folder_ = OpenFolderOf(target_);
    if (!folder_.Valid()) {
        const int error = errno;
        done_ = true;
        throw AtomicFileError(AtomicFileError::Step::Create, error, folder / target_.filename(),
                              "Création du fichier temporaire impossible dans " + folder.string());
    }
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::filesystem::path attempted;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        std::string name = "." + target_.filename().string() + std::string(kSuffix);
        for (std::size_t i = 0; i < kRandomLength; ++i) {
            name += kAlphabet[pick(random)];
        }
        attempted = folder / name;
        // O_EXCL: a name someone planted, link or not, is never opened.
        fd_ = UniqueFd(::openat(folder_.Get(), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        error = fd_.Valid() ? 0 : errno;
    }
    if (error != 0) {
        done_ = true;
        throw AtomicFileError(AtomicFileError::Step::Create, error, attempted,
                              "Création du fichier temporaire impossible dans " + folder.string());
    }
    path_ = std::move(attempted);
}

AtomicFile::~AtomicFile() {
    Abandon();
}

void AtomicFile::Abandon() noexcept {
    if (done_) {
        return;
    }
    done_ = true;
    fd_ = UniqueFd();
    ::unlinkat(folder_.Get(), path_.filename().c_str(), 0);
}

void AtomicFile::Fail(AtomicFileError::Step step, int error, const std::filesystem::path& path,
                      const std::string& what) {
    Abandon();
    throw AtomicFileError(step, error, path, what);
}

void AtomicFile::Write(std::string_view bytes) {
    if (!WriteAll(fd_.Get(), bytes.data(), bytes.size())) {
        const int error = errno;
        Fail(AtomicFileError::Step::Write, error, path_,
             "Écriture de " + target_.string() + " impossible");
    }
}

void AtomicFile::SetMode(mode_t mode) {
    if (::fchmod(fd_.Get(), mode) != 0) {
        const int error = errno;
        Fail(AtomicFileError::Step::Write, error, path_,
             "Écriture de " + target_.string() + " impossible");
    }
}

void AtomicFile::Commit() {
    // Closing is where a full disk may finally show: both are checked before the rename.
    if (::fsync(fd_.Get()) != 0 || fd_.Close() != 0) {
        const int error = errno;
        Fail(AtomicFileError::Step::Write, error, path_,
             "Écriture de " + target_.string() + " impossible");
    }
    if (refuseReadOnly_) {
        struct stat existing {};
        const bool replacesFile = ::fstatat(folder_.Get(), target_.filename().c_str(), &existing,
                                            AT_SYMLINK_NOFOLLOW) == 0 &&
                                  S_ISREG(existing.st_mode);
        if ((replacesFile && !WritableByUs(target_)) || !WritableByUs(FolderOf(target_))) {
            Fail(AtomicFileError::Step::Replace, EACCES, target_,
                 "Remplacement de " + target_.string() + " impossible");
        }
    }
    // The rename replaces whatever stands at the final name, a link included, without
    // following it.
    if (::renameat(folder_.Get(), path_.filename().c_str(), folder_.Get(),
                   target_.filename().c_str()) != 0) {
        const int error = errno;
        Fail(AtomicFileError::Step::Replace, error, target_,
             "Remplacement de " + target_.string() + " impossible");
    }
    done_ = true;
    // The rename itself reaches the disk with its folder.
    ::fsync(folder_.Get());
}

std::optional<std::string_view> AtomicFileFinalName(std::string_view name) {
    if (name.size() < 2 || name.front() != '.') {
        return std::nullopt;
    }
    name.remove_prefix(1);
    const auto suffix = name.rfind(kSuffix);
    if (suffix == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view random = name.substr(suffix + kSuffix.size());
    if (random.size() != kRandomLength) {
        return std::nullopt;
    }
    for (const char c : random) {
        if (kAlphabet.find(c) == std::string_view::npos) {
            return std::nullopt;
        }
    }
    return name.substr(0, suffix);
}

}  // namespace quorvane
