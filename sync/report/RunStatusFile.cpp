#include "sync/report/RunStatusFile.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "base/AtomicFile.h"
#include "base/PosixFile.h"

namespace quorvane {
namespace {

std::string Failure(const std::string& what, const std::string& path, int error) {
    return what + " " + path + " : " + std::strerror(error);
}

}  // namespace

std::string StatutJson(const RunSummary& summary) {
    using nlohmann::ordered_json;
    ordered_json categories = ordered_json::object();
    for (const CategorySummary& c : summary.Categories) {
        ordered_json files = ordered_json::array();
        for (const FileSummary& f : c.Fichiers) {
            const FileCounts& n = f.Comptes;
            files.push_back({{"file", f.Nom},
                             {"table", f.Table},
                             {"read", n.Lu},
                             {"lines", n.Lignes},
                             {"deleted", n.Supprimes},
                             {"inserted", n.Ajoutes},
                             {"refused", n.Refuses},
                             {"refusedNotListed", n.Refuses - n.Listes}});
        }
        categories[c.Cle] = {{"enabled", c.Active},
                             {"downloaded", c.Telechargee},
                             {"integrated", c.Integree},
                             {"files", std::move(files)}};
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
        {"signedGeneration",
         summary.Generation ? ordered_json(*summary.Generation) : ordered_json(nullptr)},
    };
    // A text that is not valid UTF-8 (a path or a server reply in another code page) must not
    // lose the whole file: its bad bytes become U+FFFD.
    return document.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::string EcrireStatut(const std::string& path, const RunSummary& summary) {
    const std::string content = StatutJson(summary);
    try {
        // The umask decides the mode, as for the report: the group shares the program folder.
        AtomicFile file(path);
        file.Write(content);
        file.Commit();
    } catch (const AtomicFileError& e) {
        const char* what = "Impossible d'écrire le fichier";
        if (e.step() == AtomicFileError::Step::Create) {
            what = "Impossible de créer le fichier";
        } else if (e.step() == AtomicFileError::Step::Replace) {
            what = "Impossible de remplacer le fichier";
        }
        return Failure(what, e.path().string(), e.code().value());
    }
    return {};
}

}  // namespace quorvane
