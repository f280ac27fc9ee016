#include "sync/RunStatusFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "config/base/PosixFile.h"

namespace quorvane {
namespace {

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string Failure(const std::string& what, const std::string& path, int error) {
    return what + " " + path + " : " + std::strerror(error);
}

}  // namespace

std::string StatutJson(const RunSummary& summary) {
    using nlohmann::ordered_json;
    ordered_json categories = ordered_json::object();
    for (const CategorySummary& c : summary.Categories) {
        categories[c.Cle] = {
            {"enabled", c.Active}, {"downloaded", c.Telechargee}, {"integrated", c.Integree}};
    }
    ordered_json entries = ordered_json::array();
    for (const ErrorEntry& entry : summary.Entrees) {
        entries.push_back(
            {{"code", entry.Code}, {"time", Iso8601Local(entry.Moment)}, {"text", entry.Texte}});
    }
    const ordered_json document = {
        {"start", Iso8601Local(summary.Debut)},
        {"end", Iso8601Local(summary.Fin)},
        {"version", summary.Version},
        {"mode", summary.Mode.empty() ? ordered_json(nullptr) : ordered_json(summary.Mode)},
        {"categories", std::move(categories)},
        {"entryCount", summary.Entrees.size()},
        {"entries", std::move(entries)},
        {"report", summary.Rapport ? ordered_json(*summary.Rapport) : ordered_json(nullptr)},
    };
    // A text that is not valid UTF-8 (a path or a server reply in another code page) must not
    // lose the whole file: its bad bytes become U+FFFD.
    return document.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::string EcrireStatut(const std::string& path, const RunSummary& summary) {
    const std::string content = StatutJson(summary);
    // Beside the target, so that the rename stays within one file system; named after the
    // process so that two programs never write the same temporary file.
    const std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temporary.c_str());
    // The umask decides the mode, as for the report: the group shares the program folder.
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.valid()) {
        return Failure("Impossible de créer le fichier", temporary, errno);
    }
    if (!WriteAll(fd.get(), content.data(), content.size()) || ::fsync(fd.get()) != 0 ||
        fd.Close() != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return Failure("Impossible d'écrire le fichier", temporary, error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return Failure("Impossible de remplacer le fichier", path, error);
    }
    // The rename itself reaches the disk with its folder.
    UniqueFd folder(::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) {
        ::fsync(folder.get());
    }
    return {};
}

}  // namespace quorvane
