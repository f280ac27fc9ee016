#include "base/SharedFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/LinkRule.h"

namespace quorvane {
namespace {

// "a/b/" and "a/b" both stand for b, in a.
std::filesystem::path WithoutTrailingSlash(const std::filesystem::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text.empty() ? std::filesystem::path(".") : std::filesystem::path(text);
}

}  // namespace

bool WritableByOthers(const std::filesystem::path& folder) {
    struct stat info {};
    if (::stat(WithoutTrailingSlash(folder).c_str(), &info) != 0) {
        return true;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return true;
    }
    return info.st_uid != ::geteuid() && (info.st_mode & S_IWUSR) != 0;
}

std::filesystem::path NameOf(const std::filesystem::path& path) {
    return WithoutTrailingSlash(path).filename();
}

UniqueFd OpenFolder(const std::filesystem::path& folder) {
    const WalkedPath walked = WalkPath(WithoutTrailingSlash(folder), true);
    if (!walked.Valid()) {
        return UniqueFd();
    }
    return UniqueFd(::openat(walked.Folder.Get(), walked.Name.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

UniqueFd OpenFolderOf(const std::filesystem::path& file) {
    WalkedPath walked = WalkPath(WithoutTrailingSlash(file), false);
    return std::move(walked.Folder);
}

UniqueFd OpenFileToRead(const std::filesystem::path& file) {
    const WalkedPath walked = WalkPath(file, true);
    if (!walked.Valid()) {
        return UniqueFd();
    }
    return OpenRegularAt(walked.Folder.Get(), walked.Name);
}

std::optional<std::string> ReadFileBytes(const std::filesystem::path& path, std::size_t limit) {
    const UniqueFd fd = OpenFileToRead(path);
    if (!fd.Valid()) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[1 << 14];
    for (;;) {
        const auto n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > limit) {
            return std::nullopt;
        }
    }
}

}  // namespace quorvane
