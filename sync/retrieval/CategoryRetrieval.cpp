#include "sync/retrieval/CategoryRetrieval.h"

#include <ctime>
#include <vector>

namespace quorvane {

namespace {

std::optional<SignedSet> AcceptSignedSet(RunState& state, FileTransport& transport) {
    ManifestTexts texts;
    texts.Manifest = transport.FetchManifestFile(kManifestName);
    if (texts.Manifest) {
        texts.Signature = transport.FetchManifestFile(kManifestSignatureName);
    }
    return SignedSet::VerifierManifeste(state, state.ClePublique, texts, std::time(nullptr));
}

}  // namespace

CommitCheck FileTransport::SignedCheck(RunState& state, std::string fileName) const {
    if (signedSet_ == nullptr) {
        return {};
    }
    return [&state, set = signedSet_, name = std::move(fileName)](const FileDigest& digest) {
        return set->Vouches(state, name, digest);
    };
}

void RetrieveCategories(RunState& state, RunDisplay& display, CategoryIntegration& integration,
                        FileTransport& transport) {
    std::optional<SignedSet> signedSet;
    if (!state.ClePublique.empty()) {
        signedSet = AcceptSignedSet(state, transport);
        if (!signedSet) {
            for (const Categorie categorie : kCategoriesEnOrdre) {
                if (state.Actif(categorie)) {
                    display.ShowImage(categorie, Colonne::Telechargement, false);
                }
            }
            return;
        }
    }
    transport.Require(signedSet ? &*signedSet : nullptr);
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
    transport.Require(nullptr);
    if (signedSet) {
        signedSet->Record(state);
    }
}

}  // namespace quorvane
