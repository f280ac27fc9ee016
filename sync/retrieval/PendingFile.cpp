#include "sync/retrieval/PendingFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>

#include "base/SharedFolder.h"
#include "sync/Categories.h"

namespace quorvane {
namespace {

bool IsHeadOfficeFileName(std::string_view name) {
    return FindHeadOfficeFile(name) != nullptr;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

bool PendingFile::Write(const void* data, std::size_t size) {
    if (!WriteAll(file_.Fd(), static_cast<const char*>(data), size)) {
        return false;
    }
    hash_.Update(data, size);
    return true;
}

FileDigest PendingFile::Digest() const {
    return {hash_.Size(), digestValid_ ? hash_.HexDigest() : std::string()};
}

void PendingFile::Commit() {
    const std::filesystem::path& target = file_.Target();
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        // A rename ignores the permissions of the file it replaces; the store made this one
        // read-only, so it stays.
        file_.Abandon();
        throw std::system_error(EACCES, std::generic_category(),
                                target.string() + " est en lecture seule");
    }
    file_.Commit();
}

bool IsPendingFileName(std::string_view name) {
    if (name.size() < 2 || name.front() != '.') {
        return false;
    }
    if (const auto finalName = AtomicFileFinalName(name);
        finalName && IsHeadOfficeFileName(*finalName)) {
        return true;
    }
    name.remove_prefix(1);
    constexpr std::string_view kPart = ".part";
    if (name.size() > kPart.size() && name.substr(name.size() - kPart.size()) == kPart) {
        const std::string_view rest = name.substr(0, name.size() - kPart.size());
        const auto dot = rest.rfind('.');
        if (dot != std::string_view::npos) {
            const std::string_view digits = rest.substr(dot + 1);
            return !digits.empty() && digits.size() <= 6 &&
                   std::all_of(digits.begin(), digits.end(), IsDigit) &&
                   IsHeadOfficeFileName(rest.substr(0, dot));
        }
    }
    return false;
}

namespace {

template <typename IsLeftover>
int RemoveLeftovers(const std::string& folder, IsLeftover isLeftover) {
    // Not through a link put at the folder's name: it would be another folder's files.
    UniqueFd folderFd = OpenFolder(folder);
    if (!folderFd.Valid()) {
        return 0;
    }
    const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(folderFd.Get()));
    if (!dir) {
        return 0;
    }
    // The stream owns the descriptor now.
    static_cast<void>(folderFd.Release());
    const int dirFd = ::dirfd(dir.get());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!isLeftover(std::string_view(entry->d_name))) {
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

}  // namespace

int RemovePendingLeftovers(const std::string& folder) {
    return RemoveLeftovers(folder, IsPendingFileName);
}

int RemoveTemporariesOf(const std::string& folder, const std::vector<std::string>& finalNames) {
    return RemoveLeftovers(folder, [&](std::string_view name) {
        const auto finalName = AtomicFileFinalName(name);
        return finalName &&
               std::find(finalNames.begin(), finalNames.end(), *finalName) != finalNames.end();
    });
}

}  // namespace quorvane
