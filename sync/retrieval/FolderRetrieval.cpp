#include "sync/retrieval/FolderRetrieval.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/PosixFile.h"
#include "sync/retrieval/PendingFile.h"

namespace quorvane {
int CopyFileAtomically(const std::string& source, const std::string& destination,
                       FileDigest* digest) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!in.Valid() || ::fstat(in.Get(), &info) != 0) {
        return errno;
    }
    try {
        // Never readable by more people than the head office's file is.
        PendingFile out(destination, info.st_mode & 0666);
        std::vector<char> buffer(1 << 16);
        for (;;) {
            const auto n = ::read(in.Get(), buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno;
            }
            if (n == 0) {
                break;
            }
            if (!out.Write(buffer.data(), static_cast<std::size_t>(n))) {
                return errno;
            }
        }
        out.Commit();
        if (digest != nullptr) {
            *digest = out.Digest();
        }
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

FolderRetrieval::FolderRetrieval(RunState& state, std::string repertoireSource)
    : state_(state), source_(std::move(repertoireSource)) {}

void FolderRetrieval::CopierRepertoire(RunDisplay& display, CategoryIntegration& integration) {
    RetrieveCategories(state_, display, integration, *this);
}

std::optional<std::string> FolderRetrieval::Fetch(const HeadOfficeFile& file) {
    const std::string fileName(file.Name);
    if (!_CopyFile(source_ + fileName, fileName, state_.Paths.RepertoireAuto)) {
        return std::nullopt;
    }
    return state_.Paths.RepertoireAuto + fileName;
}

bool FolderRetrieval::_CopyFile(const std::string& source, const std::string& fileName,
                                const std::string& destinationFolder) {
    std::error_code ec;
    // A source the program may not read is reported as inaccessible, not as a refused copy.
    if (!std::filesystem::is_regular_file(source, ec) || ::access(source.c_str(), R_OK) != 0) {
        state_.Erreur("[Fonction _CopyFile()] Le fichier : " + fileName +
                          " n'éxiste pas ou est inaccessible.",
                      0);
        return false;
    }
    FileDigest digest;
    if (CopyFileAtomically(source, destinationFolder + fileName, &digest) != 0) {
        state_.Erreur("[Fonction _CopyFile()] Impossible de copier ce fichier : " + fileName, 0);
        return false;
    }
    state_.RecordFetched(fileName, digest);
    return true;
}

}  // namespace quorvane
