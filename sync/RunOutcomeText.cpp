#include "sync/RunOutcomeText.h"

namespace quorvane {
namespace {

std::string Issue(Colonne colonne, bool succes) {
    if (colonne == Colonne::Telechargement) {
        return succes ? "téléchargement réussi" : "téléchargement échoué";
    }
    return succes ? "intégration réussie" : "intégration échouée";
}

}  // namespace

std::string NomImage(const std::string& libelle, Colonne colonne, bool succes) {
    return libelle + " : " + Issue(colonne, succes);
}

std::string TitreFinDeRun(const RunSummary& summary) {
    return summary.Entrees.empty() ? "Synchronisation terminée"
                                   : "Synchronisation terminée avec des erreurs";
}

std::string ResumeFinDeRun(const RunSummary& summary) {
    std::string text;
    for (const CategorySummary& c : summary.Categories) {
        if (c.Active) {
            text += std::string(c.Libelle) + " : " + Issue(Colonne::Telechargement, c.Telechargee) +
                    ", " + Issue(Colonne::Integration, c.Integree) + ".\n";
        }
    }
    if (text.empty()) {
        text = "Aucune catégorie n'est activée.\n";
    }
    const std::size_t count = summary.Entrees.size();
    if (count == 0) {
        text += "Aucune erreur.";
    } else if (count == 1) {
        text += "1 erreur, détaillée dans le rapport.";
    } else {
        text += std::to_string(count) + " erreurs, détaillées dans le rapport.";
    }
    return text;
}

}  // namespace quorvane
