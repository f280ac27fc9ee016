#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "sync/RunDisplay.h"
#include "sync/RunErrors.h"
#include "sync/RunState.h"

namespace quorvane {

// What the integration did with one file of a category.
struct FileSummary {
    std::string Nom;    // the head-office file, "remise_achat.xml"
    std::string Table;  // the store table it goes into, "REMISES.DB"
    FileCounts Comptes;
};

// What one category ended with, as the window's images show it, and what its files changed.
struct CategorySummary {
    const char* Cle = "";      // its key in the settings file ("Remise_Achat", ...)
    const char* Libelle = "";  // its caption in the synchronization window
    bool Active = false;
    bool Telechargee = false;
    bool Integree = false;
    std::vector<FileSummary> Fichiers;  // its files when the category is enabled
    // What its deletions are: "remplacée" for replaced records, "purgée" for purged ones.
    const char* Suppression = "";
};

// One run as told to the outside world (the journal and the status file), taken from the
// run's state once it has ended, or once its settings are read for the start line.
struct RunSummary {
    std::time_t Debut = 0;
    std::time_t Fin = 0;
    std::string Version;
    std::string Mode;  // "FTP", "URI", or empty when the settings select neither
    std::array<CategorySummary, 4> Categories{};
    std::vector<ErrorEntry> Entrees;
    std::optional<std::string> Rapport;  // the report's path when one was written
    // The generation of the head office's signed set the run accepted, when it verified one.
    std::optional<std::uint64_t> Generation;
};

RunSummary ResumerRun(const RunState& state, const RunDisplay& display, std::time_t debut,
                      std::time_t fin, std::optional<std::string> rapport);

// The program's version, the one its package and version record carry.
std::string ProgramVersion();

// Local time as ISO 8601 with the offset from UTC, "2026-12-08T06:30:01+01:00".
std::string Iso8601Local(std::time_t moment);

}  // namespace quorvane
