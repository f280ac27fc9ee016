#pragma once

#include <string>

#include "sync/RunDisplay.h"
#include "sync/report/RunSummary.h"

namespace quorvane {

// The words that tell a run's outcome to someone who cannot see the window's images: a screen
// reader reading an image or the end of the run, and the desktop notification. One place, so
// that an image, the announcement and the notification never disagree.

// "Conditions d'achats : téléchargement réussi", "Messages : intégration échouée".
std::string NomImage(const std::string& libelle, Colonne colonne, bool succes);

// "Synchronisation terminée avec des erreurs" or "Synchronisation terminée".
std::string TitreFinDeRun(const RunSummary& summary);

// One line per enabled category with its two outcomes, then how many entries the report holds:
// what a sighted user reads from the window when the run ends.
std::string ResumeFinDeRun(const RunSummary& summary);

}  // namespace quorvane
