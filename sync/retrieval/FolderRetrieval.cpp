#include "sync/retrieval/FolderRetrieval.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/PosixFile.h"
#include "base/SharedFolder.h"
#include "sync/retrieval/PendingFile.h"

namespace quorvane {

int CopyFileAtomically(const std::string& source, const std::string& destination,
                       bool& sourceUnreadable, FileDigest* digest, CommitCheck check) {
    // Opened once, by the rule on links, never waiting on a pipe swapped in at its name: the
    // source folder may be another account's.
    const UniqueFd in = OpenFileToRead(source);
    sourceUnreadable = !in.Valid();
    if (sourceUnreadable) {
        return errno;
    }
    try {
        // The program's own mode, never the source's: a read-only source must not leave a copy
        // the next run may not replace, nor a world-readable one the group's files.
        PendingFile out(destination, kCopyMode);
        out.CheckBeforeCommit(std::move(check));
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

std::optional<std::string> FolderRetrieval::FetchManifestFile(std::string_view name) {
    return ReadManifestFile(source_ + std::string(name));
}

bool FolderRetrieval::_CopyFile(const std::string& source, const std::string& fileName,
                                const std::string& destinationFolder) {
    bool sourceUnreadable = false;
    FileDigest digest;
    const int error = CopyFileAtomically(source, destinationFolder + fileName, sourceUnreadable,
                                         &digest, SignedCheck(state_, fileName));
    // A source the program may not read is reported as inaccessible, not as a refused copy.
    if (sourceUnreadable) {
        state_.Erreur("[Fonction _CopyFile()] Le fichier : " + fileName +
                          " n'éxiste pas ou est inaccessible.",
                      0);
        return false;
    }
    if (error == kCommitRefused) {
        return false;  // the signed set's entry says why
    }
    if (error != 0) {
        state_.Erreur("[Fonction _CopyFile()] Impossible de copier ce fichier : " + fileName, 0);
        return false;
    }
    state_.RecordFetched(fileName, digest);
    return true;
}

}  // namespace quorvane
