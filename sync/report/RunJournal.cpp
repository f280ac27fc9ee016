#include "sync/report/RunJournal.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace quorvane {
namespace {

// One entry is one journal line: a server reply or a table error may carry line breaks.
std::string SurUneLigne(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = ' ';
        }
    }
    return text;
}

std::string OuiNon(bool value) {
    return value ? "oui" : "non";
}

bool ParseNumber(std::string_view text, unsigned long long& value) {
    if (text.empty()) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long long>(c - '0');
    }
    return true;
}

// "1 200": thousands apart, as French writes them.
std::string Nombre(std::int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    for (auto i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3) {
        digits.insert(static_cast<std::size_t>(i), " ");
    }
    return value < 0 ? "-" + digits : digits;
}

// French keeps 0 and 1 singular.
std::string Compte(std::int64_t value, const std::string& singulier) {
    return Nombre(value) + " " + singulier + (value > 1 ? "s" : "");
}

}  // namespace

RunJournal::RunJournal(std::FILE* out)
    : out_(out), prefixes_(out != nullptr && IsJournalStream(fileno(out))) {}

bool RunJournal::IsJournalStream(int fd) {
    const char* value = std::getenv("JOURNAL_STREAM");
    if (value == nullptr || fd < 0) {
        return false;
    }
    const std::string_view text(value);
    const auto colon = text.find(':');
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (colon == std::string_view::npos || !ParseNumber(text.substr(0, colon), device) ||
        !ParseNumber(text.substr(colon + 1), inode)) {
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return false;
    }
    return static_cast<unsigned long long>(status.st_dev) == device &&
           static_cast<unsigned long long>(status.st_ino) == inode;
}

std::string RunJournal::LigneDebut(const RunSummary& summary) {
    std::string line = "Début de la synchronisation : QuorvaneClient " + summary.Version + ", ";
    line +=
        summary.Mode.empty() ? std::string("aucun mode de récupération") : "mode " + summary.Mode;
    std::string categories;
    for (const CategorySummary& c : summary.Categories) {
        if (c.Active) {
            categories += (categories.empty() ? "" : ", ") + std::string(c.Libelle);
        }
    }
    line += ", catégories : " + (categories.empty() ? std::string("aucune") : categories);
    return line;
}

std::string RunJournal::LigneEntree(const ErrorEntry& entry) {
    return "Erreur (code " + std::to_string(entry.Code) + ") : " + SurUneLigne(entry.Texte);
}

std::string RunJournal::LigneFin(const RunSummary& summary) {
    std::string line = "Fin de la synchronisation : ";
    bool first = true;
    for (const CategorySummary& c : summary.Categories) {
        if (!c.Active) {
            continue;
        }
        line += (first ? "" : " ; ") + std::string(c.Libelle) + " téléchargement " +
                OuiNon(c.Telechargee) + ", intégration " + OuiNon(c.Integree);
        const std::string counts = LigneComptes(c);
        if (!counts.empty()) {
            line += " (" + counts + ")";
        }
        first = false;
    }
    if (first) {
        line += "aucune catégorie";
    }
    if (summary.Generation) {
        line += " ; manifeste signé du siège accepté (génération " +
                std::to_string(*summary.Generation) + ")";
    }
    const std::size_t count = summary.Entrees.size();
    if (count == 0) {
        line += " ; aucune erreur";
    } else {
        line += " ; " + std::to_string(count) + (count == 1 ? " erreur" : " erreurs");
        line +=
            summary.Rapport ? ", rapport " + *summary.Rapport : std::string(", rapport non écrit");
    }
    return line;
}

std::string RunJournal::LigneComptes(const CategorySummary& category) {
    FileCounts total;
    for (const FileSummary& f : category.Fichiers) {
        total.Lu = total.Lu || f.Comptes.Lu;
        total.Lignes += f.Comptes.Lignes;
        total.Supprimes += f.Comptes.Supprimes;
        total.Ajoutes += f.Comptes.Ajoutes;
        total.Refuses += f.Comptes.Refuses;
    }
    if (!total.Lu) {
        return {};
    }
    return Compte(total.Lignes, "ligne") + ", " + Compte(total.Supprimes, category.Suppression) +
           ", " + Compte(total.Ajoutes, "ajoutée") + ", " + Compte(total.Refuses, "refusée");
}

void RunJournal::Debut(const RunSummary& summary) const {
    Ecrire(Priorite::Info, LigneDebut(summary));
}

void RunJournal::Avertissement(const std::string& line) const {
    Ecrire(Priorite::Avertissement, SurUneLigne(line));
}

void RunJournal::Fin(const RunSummary& summary,
                     const std::vector<std::string>& problemesFinaux) const {
    for (std::size_t i = 0; i < summary.Entrees.size(); ++i) {
        Ecrire(Priorite::Erreur, LigneEntree(summary.Entrees[i]));
        if (i < summary.Precisions.size() && !summary.Precisions[i].empty()) {
            Ecrire(Priorite::Notice, SurUneLigne(summary.Precisions[i]));
        }
    }
    for (const std::string& probleme : problemesFinaux) {
        Ecrire(Priorite::Erreur, SurUneLigne(probleme));
    }
    const bool problemes = !summary.Entrees.empty() || !problemesFinaux.empty();
    Ecrire(problemes ? Priorite::Notice : Priorite::Info, LigneFin(summary));
}

void RunJournal::Ecrire(Priorite priorite, const std::string& line) const {
    if (out_ == nullptr) {
        return;
    }
    std::string text;
    if (prefixes_) {
        text = "<" + std::to_string(static_cast<int>(priorite)) + ">";
    }
    text += line;
    text += '\n';
    // One write per line, so that lines of other writers never land inside it.
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

}  // namespace quorvane
