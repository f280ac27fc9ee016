#include "sync/PendingFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <random>
#include <system_error>

#include "sync/Categories.h"

namespace quorvane {
namespace {

constexpr std::string_view kSuffix = ".partiel-";
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kRandomLength = 6;

[[noreturn]] void Raise(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

bool IsHeadOfficeFileName(std::string_view name) {
    for (const Categorie categorie : kCategoriesEnOrdre) {
        for (const std::string_view file : FichiersDeCategorie(categorie)) {
            if (name == file) {
                return true;
            }
        }
    }
    return false;
}

bool AllOf(std::string_view text, bool (*accept)(char)) {
    for (const char c : text) {
        if (!accept(c)) {
            return false;
        }
    }
    return true;
}

bool IsAlnum(char c) {
    return kAlphabet.find(c) != std::string_view::npos;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

PendingFile::PendingFile(std::filesystem::path target, mode_t mode) : target_(std::move(target)) {
    const std::filesystem::path folder =
        target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        std::string name = "." + target_.filename().string() + std::string(kSuffix);
        for (std::size_t i = 0; i < kRandomLength; ++i) {
            name += kAlphabet[pick(random)];
        }
        path_ = folder / name;
        // O_EXCL: a name someone planted, link or not, is never opened.
        fd_ = UniqueFd(
            ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        error = fd_.valid() ? 0 : errno;
    }
    if (error != 0) {
        path_.clear();
        Raise(error, "Création du fichier temporaire impossible dans " + folder.string());
    }
}

PendingFile::~PendingFile() {
    if (!committed_ && !path_.empty()) {
        fd_ = UniqueFd();
        ::unlink(path_.c_str());
    }
}

void PendingFile::Commit() {
    struct stat existing {};
    if (::lstat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        // A rename ignores the permissions of the file it replaces; the store made this one
        // read-only, so it stays.
        Raise(EACCES, target_.string() + " est en lecture seule");
    }
    if (::fsync(fd_.get()) != 0) {
        Raise(errno, "Écriture de " + target_.string() + " impossible");
    }
    if (fd_.Close() != 0) {
        Raise(errno, "Écriture de " + target_.string() + " impossible");
    }
    if (::rename(path_.c_str(), target_.c_str()) != 0) {
        Raise(errno, "Remplacement de " + target_.string() + " impossible");
    }
    committed_ = true;
}

bool IsPendingFileName(std::string_view name) {
    if (name.size() < 2 || name.front() != '.') {
        return false;
    }
    name.remove_prefix(1);
    const auto partiel = name.rfind(kSuffix);
    if (partiel != std::string_view::npos) {
        const std::string_view random = name.substr(partiel + kSuffix.size());
        if (random.size() == kRandomLength && AllOf(random, IsAlnum) &&
            IsHeadOfficeFileName(name.substr(0, partiel))) {
            return true;
        }
    }
    constexpr std::string_view kPart = ".part";
    if (name.size() > kPart.size() && name.substr(name.size() - kPart.size()) == kPart) {
        const std::string_view rest = name.substr(0, name.size() - kPart.size());
        const auto dot = rest.rfind('.');
        if (dot != std::string_view::npos) {
            const std::string_view digits = rest.substr(dot + 1);
            return !digits.empty() && digits.size() <= 6 && AllOf(digits, IsDigit) &&
                   IsHeadOfficeFileName(rest.substr(0, dot));
        }
    }
    return false;
}

int RemovePendingLeftovers(const std::string& folder) {
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        return 0;
    }
    const int dirFd = ::dirfd(dir.get());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!IsPendingFileName(entry->d_name)) {
            continue;
        }
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && ::unlinkat(dirFd, entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace quorvane
