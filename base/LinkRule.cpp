#include "base/LinkRule.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <vector>

namespace quorvane {
namespace {

// As the kernel allows in one lookup.
constexpr int kMaxLinks = 40;

std::deque<std::string> Components(const std::string& path) {
    std::deque<std::string> parts;
    std::string part;
    for (const char c : path) {
        if (c == '/') {
            if (!part.empty()) {
                parts.push_back(std::move(part));
                part.clear();
            }
        } else {
            part += c;
        }
    }
    if (!part.empty()) {
        parts.push_back(std::move(part));
    }
    return parts;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& name) {
    std::string path;
    for (const auto& part : parts) {
        path += "/" + part;
    }
    if (name != ".") {
        path += "/" + name;
    }
    return path.empty() ? "/" : path;
}

WalkedPath Failed(int error) {
    WalkedPath failed{UniqueFd(), {}, {}};
    errno = error;
    return failed;
}

// The walk's folders are opened for lookups only; the one handed back is opened for reading,
// so that it can be listed and synced too, when its permissions allow.
WalkedPath Finish(UniqueFd folder, std::string name, const std::vector<std::string>& parts) {
    UniqueFd readable(::openat(folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    WalkedPath walked{readable.Valid() ? std::move(readable) : std::move(folder), std::move(name),
                      ""};
    walked.Path = Joined(parts, walked.Name);
    return walked;
}

}  // namespace

bool LinkMayBeFollowed(int folder, const struct stat& link) {
    const uid_t me = ::geteuid();
    struct stat holder {};
    if (::fstat(folder, &holder) != 0) {
        return false;
    }
    const auto trusted = [me](uid_t owner) { return owner == me || owner == 0; };
    return trusted(link.st_uid) && trusted(holder.st_uid) &&
           (holder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

WalkedPath WalkPath(const std::filesystem::path& path, bool followLast) {
    const std::string text = path.string();
    if (text.empty()) {
        return Failed(ENOENT);
    }
    std::vector<std::string> parts;
    if (text.front() != '/') {
        std::error_code ec;
        const std::string here = std::filesystem::current_path(ec).string();
        if (ec) {
            return Failed(ec.value());
        }
        for (auto& part : Components(here)) {
            parts.push_back(std::move(part));
        }
    }
    UniqueFd folder(::open(text.front() == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid()) {
        return Failed(errno);
    }
    std::deque<std::string> todo = Components(text);
    int links = 0;
    while (!todo.empty()) {
        const std::string name = std::move(todo.front());
        todo.pop_front();
        const bool last = todo.empty();
        if (name == ".") {
            continue;
        }
        if (name == "..") {
            UniqueFd up(::openat(folder.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (!up.Valid()) {
                return Failed(errno);
            }
            folder = std::move(up);
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        struct stat info {};
        if (::fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (last) {
                return Finish(std::move(folder), name, parts);
            }
            return Failed(errno);
        }
        if (S_ISLNK(info.st_mode)) {
            if (last && !followLast) {
                return Finish(std::move(folder), name, parts);
            }
            if (!LinkMayBeFollowed(folder.Get(), info) || ++links > kMaxLinks) {
                return Failed(ELOOP);
            }
            std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
            const auto size =
                ::readlinkat(folder.Get(), name.c_str(), target.data(), target.size());
            if (size < 0 || static_cast<std::size_t>(size) >= target.size()) {
                return Failed(size < 0 ? errno : ENAMETOOLONG);
            }
            target.resize(static_cast<std::size_t>(size));
            if (target.empty()) {
                return Failed(ENOENT);
            }
            auto followed = Components(target);
            todo.insert(todo.begin(), followed.begin(), followed.end());
            if (target.front() == '/') {
                folder = UniqueFd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                parts.clear();
                if (!folder.Valid()) {
                    return Failed(errno);
                }
            }
            if (todo.empty()) {
                // A link to "/" or to "..": the walk ends on a folder.
                return Finish(std::move(folder), ".", parts);
            }
            continue;
        }
        if (last) {
            return Finish(std::move(folder), name, parts);
        }
        // O_NOFOLLOW with O_PATH and O_DIRECTORY: a link swapped in since the look is refused.
        UniqueFd next(
            ::openat(folder.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.Valid()) {
            return Failed(errno);
        }
        folder = std::move(next);
        parts.push_back(name);
    }
    return Finish(std::move(folder), ".", parts);
}

UniqueFd OpenRegularAt(int folder, const std::string& name) {
    UniqueFd fd(
        ::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
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
