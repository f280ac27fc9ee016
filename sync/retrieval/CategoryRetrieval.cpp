#include "sync/retrieval/CategoryRetrieval.h"

#include <vector>

namespace quorvane {

void RetrieveCategories(const RunState& state, RunDisplay& display,
                        CategoryIntegration& integration, FileTransport& transport) {
    for (const Categorie categorie : kCategoriesEnOrdre) {
        if (!state.Actif(categorie)) {
            continue;
        }
        transport.BeforeCategory(categorie);
        std::vector<std::string> paths;
        bool fetched = true;
        for (const HeadOfficeFile& file : FichiersDeCategorie(categorie)) {
            auto path = transport.Fetch(file);
            if (!path) {
                fetched = false;
                break;
            }
            paths.push_back(std::move(*path));
        }
        if (fetched) {
            display.ShowImage(categorie, Colonne::Telechargement, true);
            const bool integrated = integration.Integrer(categorie, paths);
            display.ShowImage(categorie, Colonne::Integration, integrated);
        } else {
            // The integration failure image comes from the run's final marking.
            display.ShowImage(categorie, Colonne::Telechargement, false);
        }
        transport.AfterCategory(categorie);
    }
}

}  // namespace quorvane
