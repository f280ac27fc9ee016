#include "base/SharedFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

std::filesystem::path ParentOf(const std::filesystem::path& path) {
    const std::filesystem::path plain = WithoutTrailingSlash(path);
    return plain.has_parent_path() ? plain.parent_path() : std::filesystem::path(".");
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
    const std::filesystem::path plain = WithoutTrailingSlash(folder);
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (WritableByOthers(ParentOf(plain))) {
        flags |= O_NOFOLLOW;
    }
    return UniqueFd(::open(plain.c_str(), flags));
}

UniqueFd OpenFolderOf(const std::filesystem::path& file) {
    return OpenFolder(ParentOf(file));
}

UniqueFd OpenFileToRead(const std::filesystem::path& file) {
    const UniqueFd folder = OpenFolderOf(file);
    if (!folder.Valid()) {
        return UniqueFd();
    }
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (WritableByOthers(ParentOf(file))) {
        flags |= O_NOFOLLOW;
    }
    UniqueFd fd(::openat(folder.Get(), NameOf(file).c_str(), flags));
    if (!fd.Valid()) {
        return fd;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return UniqueFd();
    }
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return UniqueFd();
    }
    // Reads of a regular file never block; clearing the flag keeps later readers ordinary.
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace quorvane
