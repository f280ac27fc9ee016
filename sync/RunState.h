#pragma once

#include <string>

#include "base/ProgramPaths.h"
#include "sync/Categories.h"
#include "sync/RunErrors.h"

namespace quorvane {

// The state of one synchronization run, shared by the controller, the retrievals and the
// integration. Everything starts false or empty; the run fills it from the settings file.
struct RunState {
    ProgramPaths Paths;

    bool RemiseAchatActif = false;
    bool PersonnalisationActif = false;
    bool MessageActif = false;
    bool DocumentActif = false;
    bool TransfertFtp = false;
    bool TransfertUri = false;
    std::string RepertoireSource;

    // Read with the rest of the settings; nothing depends on them.
    bool OmbrelinActif = false;
    std::string OmbrelinTypeEnvoi;
    std::string OmbrelinUri;

    bool EnErreur = false;
    ListeErreurs Erreurs;

    bool Actif(Categorie c) const {
        switch (c) {
            case Categorie::RemiseAchat:
                return RemiseAchatActif;
            case Categorie::Personnalisation:
                return PersonnalisationActif;
            case Categorie::Message:
                return MessageActif;
            case Categorie::Document:
                return DocumentActif;
        }
        return false;
    }
    bool UneCategorieActive() const {
        return RemiseAchatActif || PersonnalisationActif || MessageActif || DocumentActif;
    }

    // Most entries also raise the error flag; the few that do not say so at their call.
    void Erreur(std::string texte, int code) {
        Erreurs.Ajouter(std::move(texte), code);
        EnErreur = true;
    }
};

}  // namespace quorvane
