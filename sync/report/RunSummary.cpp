#include "sync/report/RunSummary.h"

#include <cstdio>

#include "config/settings/Settings.h"

namespace quorvane {

RunSummary ResumerRun(const RunState& state, const RunDisplay& display, std::time_t debut,
                      std::time_t fin, std::optional<std::string> rapport) {
    static constexpr std::array<const char*, 4> kLibelles = {
        "Conditions d'achats", "Personnalisation des modèles", "Messages", "Documents"};
    RunSummary summary;
    summary.Debut = debut;
    summary.Fin = fin;
    summary.Version = ProgramVersion();
    summary.Mode = state.TransfertFtp ? "FTP" : state.TransfertUri ? "URI" : "";
    for (const Categorie categorie : kCategoriesEnOrdre) {
        CategorySummary& c = summary.Categories[Index(categorie)];
        c.Cle = settings::CategoryKeys()[Index(categorie)];
        c.Libelle = kLibelles[Index(categorie)];
        c.Active = state.Actif(categorie);
        c.Telechargee = display.SuccessImageVisible(categorie, Colonne::Telechargement);
        c.Integree = display.SuccessImageVisible(categorie, Colonne::Integration);
        c.Suppression = categorie == Categorie::Message || categorie == Categorie::Document
                            ? "purgée"
                            : "remplacée";
        if (c.Active) {
            for (const HeadOfficeFile& file : FichiersDeCategorie(categorie)) {
                const auto index = static_cast<std::size_t>(&file - kHeadOfficeFiles.data());
                c.Fichiers.push_back(
                    {std::string(file.Name), std::string(file.Table), state.Comptes[index]});
            }
        }
    }
    summary.Entrees = state.Erreurs.Entries();
    summary.Rapport = std::move(rapport);
    summary.Generation = state.GenerationAcceptee;
    return summary;
}

std::string ProgramVersion() {
    return QUORVANE_VERSION;
}

std::string Iso8601Local(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offsetMinutes < 0 ? '-' : '+', absolute / 60,
                  absolute % 60);
    return buffer;
}

}  // namespace quorvane
