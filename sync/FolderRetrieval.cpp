#include "sync/FolderRetrieval.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "config/PosixFile.h"

namespace quorvane {
int CopyFileAtomically(const std::string& source, const std::string& destination) {
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        return errno;
    }
    const std::filesystem::path dest(destination);
    std::string tmpl =
        (dest.parent_path() / ("." + dest.filename().string() + ".partiel-XXXXXX")).string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    UniqueFd out(::mkstemp(name.data()));
    if (out.get() < 0) {
        return errno;
    }
    const std::string tmpPath(name.data());
    int error = 0;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const auto n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(n))) {
            error = errno;
            break;
        }
    }
    if (error == 0 && (::fchmod(out.get(), 0644) != 0 || ::fsync(out.get()) != 0)) {
        error = errno;
    }
    if (out.Close() != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(tmpPath.c_str(), destination.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(tmpPath.c_str());
    }
    return error;
}

FolderRetrieval::FolderRetrieval(RunState& state, std::string repertoireSource)
    : state_(state), source_(std::move(repertoireSource)) {}

void FolderRetrieval::CopierRepertoire(RunDisplay& display, CategoryIntegration& integration) {
    RetrieveCategories(state_, display, integration, *this);
}

bool FolderRetrieval::Fetch(const std::string& fileName) {
    return _CopyFile(source_ + fileName, fileName, state_.Paths.RepertoireAuto);
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
    if (CopyFileAtomically(source, destinationFolder + fileName) != 0) {
        state_.Erreur("[Fonction _CopyFile()] Impossible de copier ce fichier : " + fileName, 0);
        return false;
    }
    return true;
}

}  // namespace quorvane
