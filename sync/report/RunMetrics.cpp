#include "sync/report/RunMetrics.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "base/SharedFolder.h"
#include "config/settings/Settings.h"
#include "sync/report/RunStatusFile.h"

namespace quorvane {
namespace {

constexpr const char* kLastSuccess = "quorvane_client_category_last_success_timestamp_seconds";
// A metrics file is a few kilobytes; one past this is not ours.
constexpr std::size_t kMaxPreviousSize = 1024 * 1024;

// Whole numbers without an exponent, so that a timestamp reads back to the second.
std::string Number(double value) {
    char buffer[64];
    if (std::floor(value) == value && std::fabs(value) < 1e15) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.3f", value);
    }
    return buffer;
}

std::string LabelValue(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

class Writer {
  public:
    void Family(const char* name, const char* help) {
        name_ = name;
        text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    }
    void Sample(double value) { text_ += name_ + " " + Number(value) + "\n"; }
    void Sample(const char* label, const std::string& labelValue, double value) {
        text_ +=
            name_ + "{" + label + "=\"" + LabelValue(labelValue) + "\"} " + Number(value) + "\n";
    }
    const std::string& Text() const { return text_; }

  private:
    std::string name_;
    std::string text_;
};

std::string ReadSmallFile(const std::string& path) {
    // The metrics folder may be shared with the monitor's account: no link planted there.
    const UniqueFd fd = OpenFileToRead(path);
    std::string content;
    if (!fd.Valid()) {
        return content;
    }
    char buffer[8192];
    for (;;) {
        const auto n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || content.size() > kMaxPreviousSize) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

}  // namespace

std::string MetriquesTexte(const RunSummary& summary, double dureeSecondes,
                           const DerniersSucces& derniersSucces) {
    Writer w;
    w.Family("quorvane_client_run_end_timestamp_seconds",
             "Fin de la dernière synchronisation, en temps Unix.");
    w.Sample(static_cast<double>(summary.Fin));
    w.Family("quorvane_client_run_duration_seconds", "Durée de la dernière synchronisation.");
    w.Sample(dureeSecondes);
    w.Family("quorvane_client_run_entries",
             "Entrées de la liste d'erreurs de la dernière synchronisation.");
    w.Sample(static_cast<double>(summary.Entrees.size()));
    w.Family("quorvane_client_run_retries",
             "Échecs passagers de la récupération tentés à nouveau pendant la dernière "
             "synchronisation.");
    w.Sample(static_cast<double>(summary.Reprises));

    const auto perCategory = [&](const char* name, const char* help, auto value) {
        w.Family(name, help);
        for (const CategorySummary& c : summary.Categories) {
            w.Sample("categorie", c.Cle, value(c) ? 1 : 0);
        }
    };
    perCategory("quorvane_client_category_enabled", "1 si la catégorie est activée.",
                [](const CategorySummary& c) { return c.Active; });
    perCategory("quorvane_client_category_downloaded",
                "1 si la catégorie a été téléchargée par la dernière synchronisation.",
                [](const CategorySummary& c) { return c.Telechargee; });
    perCategory("quorvane_client_category_integrated",
                "1 si la catégorie a été intégrée par la dernière synchronisation.",
                [](const CategorySummary& c) { return c.Integree; });
    w.Family(kLastSuccess,
             "Fin de la dernière synchronisation qui a intégré la catégorie, en temps Unix.");
    for (std::size_t i = 0; i < summary.Categories.size(); ++i) {
        if (derniersSucces[i]) {
            w.Sample("categorie", summary.Categories[i].Cle, *derniersSucces[i]);
        }
    }

    const auto perFile = [&](const char* name, const char* help, auto value) {
        w.Family(name, help);
        for (const CategorySummary& c : summary.Categories) {
            for (const FileSummary& f : c.Fichiers) {
                if (f.Comptes.Lu) {
                    w.Sample("fichier", f.Nom, static_cast<double>(value(f.Comptes)));
                }
            }
        }
    };
    perFile("quorvane_client_file_lines", "Lignes du fichier du siège.",
            [](const FileCounts& n) { return n.Lignes; });
    perFile("quorvane_client_file_inserted", "Enregistrements ajoutés depuis le fichier.",
            [](const FileCounts& n) { return n.Ajoutes; });
    perFile("quorvane_client_file_deleted",
            "Enregistrements supprimés (remplacés ou purgés) pour le fichier.",
            [](const FileCounts& n) { return n.Supprimes; });
    perFile("quorvane_client_file_refused", "Enregistrements refusés du fichier.",
            [](const FileCounts& n) { return n.Refuses; });
    return w.Text();
}

DerniersSucces LireDerniersSucces(const std::string& path) {
    DerniersSucces found{};
    std::istringstream lines(ReadSmallFile(path));
    const std::string prefix = std::string(kLastSuccess) + "{categorie=\"";
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) != 0) {
            continue;
        }
        const auto close = line.find("\"} ", prefix.size());
        if (close == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(prefix.size(), close - prefix.size());
        const char* number = line.c_str() + close + 3;
        char* end = nullptr;
        const double value = std::strtod(number, &end);
        if (end == number || *end != '\0' || !std::isfinite(value)) {
            continue;
        }
        for (std::size_t i = 0; i < settings::CategoryKeys().size(); ++i) {
            if (key == settings::CategoryKeys()[i]) {
                found[i] = value;
            }
        }
    }
    return found;
}

std::string EcrireMetriques(const std::string& path, const RunSummary& summary,
                            double dureeSecondes) {
    DerniersSucces derniers = LireDerniersSucces(path);
    for (std::size_t i = 0; i < summary.Categories.size(); ++i) {
        if (summary.Categories[i].Integree) {
            derniers[i] = static_cast<double>(summary.Fin);
        }
    }
    return RemplacerFichier(path, MetriquesTexte(summary, dureeSecondes, derniers), 0644);
}

}  // namespace quorvane
