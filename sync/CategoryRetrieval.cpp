#include "sync/CategoryRetrieval.h"

namespace quorvane {

void RetrieveCategories(const RunState& state, RunDisplay& display,
                        CategoryIntegration& integration, FileTransport& transport) {
    for (const Categorie categorie : kCategoriesEnOrdre) {
        if (!state.Actif(categorie)) {
            continue;
        }
        transport.BeforeCategory(categorie);
        bool fetched = true;
        for (const auto fileName : FichiersDeCategorie(categorie)) {
            if (!transport.Fetch(std::string(fileName))) {
                fetched = false;
                break;
            }
        }
        if (fetched) {
            display.ShowImage(categorie, Colonne::Telechargement, true);
            const bool integrated = integration.Integrer(categorie);
            display.ShowImage(categorie, Colonne::Integration, integrated);
        } else {
            // The integration failure image comes from the run's final marking.
            display.ShowImage(categorie, Colonne::Telechargement, false);
        }
        transport.AfterCategory(categorie);
    }
}

}  // namespace quorvane
