#include "sync/report/RunReport.h"

#include <cstdio>
#include <optional>

#include "base/AtomicFile.h"
#include "log/TFichierLog.h"

namespace quorvane {
namespace {

const std::string kSeparateur(75, '-');

std::string Horodatage(const std::tm& t) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buffer;
}

}  // namespace

std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm result{};
    localtime_r(&now, &result);
    return result;
}

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string LigneRapport(const std::string& texte, int code, const std::tm& moment) {
    return "<div class=\"message\" code=\"" + std::to_string(code) + "\" heure=\"" +
           Horodatage(moment) + "\">" + EscapeHtml(texte) + "</div>";
}

void EcrireRapport(const std::string& path, const ListeErreurs& erreurs, const ReportClock& clock) {
    // Written line by line beside its final name, which it takes once complete: a run stopped
    // part way leaves no half report for the viewer or the status file to point at.
    std::optional<AtomicFile> file;
    try {
        file.emplace(path);
    } catch (const AtomicFileError& e) {
        throw FileWriteError("Impossible de créer le fichier " + e.path().string() + " : " +
                             e.code().message());
    }
    const TFichierLog log(file->Path().string());
    log.Creer();
    log.AjouterLigne(kSeparateur);
    log.AjouterLigne("<div class=\"messages\">");
    log.AjouterLigne("<div class=\"message\">Il y a eu " + std::to_string(erreurs.Count()) +
                     " erreurs au cour de la synchronisation de la Quorvane client.</div>");
    for (const auto& entry : erreurs.Entries()) {
        log.AjouterLigne(LigneRapport(entry.Texte, entry.Code, clock()));
    }
    log.AjouterLigne("</div>");
    log.AjouterLigne(kSeparateur);
    try {
        file->Commit();
    } catch (const AtomicFileError& e) {
        throw FileWriteError("Impossible d'écrire le fichier " + e.path().string() + " : " +
                             e.code().message());
    }
}

}  // namespace quorvane
