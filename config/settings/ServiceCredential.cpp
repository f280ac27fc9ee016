#include "config/settings/ServiceCredential.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>

#include "base/PosixFile.h"

namespace quorvane::settings {
namespace {

// Far beyond any password; a credential is never a large file.
constexpr std::size_t kMaxCredentialSize = 64 * 1024;

}  // namespace

std::optional<std::string> ServicePassword() {
    const char* folder = std::getenv("CREDENTIALS_DIRECTORY");
    if (folder == nullptr || *folder == '\0') {
        return std::nullopt;
    }
    const std::string path = std::string(folder) + "/" + kPasswordCredential;
    // Only a regular file: nothing at that name may keep the run waiting.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (!fd.Valid() || ::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        const auto n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || content.size() + static_cast<std::size_t>(n) > kMaxCredentialSize) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    // "echo secret > file" and editors leave a line end that is not part of the password.
    if (!content.empty() && content.back() == '\n') {
        content.pop_back();
        if (!content.empty() && content.back() == '\r') {
            content.pop_back();
        }
    }
    return content;
}

std::optional<FtpAccount> ReadFtpAccountForRun(const std::string& iniPath,
                                               const std::string& section) {
    auto account = ReadFtpAccount(iniPath, section);
    if (account) {
        if (auto password = ServicePassword()) {
            account->Mdp = std::move(*password);
        }
    }
    return account;
}

}  // namespace quorvane::settings
