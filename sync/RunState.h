#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "base/ProgramPaths.h"
#include "sync/Categories.h"
#include "sync/RunErrors.h"

namespace quorvane {

// What the integration did with one head-office file, as it counted it.
struct FileCounts {
    bool Lu = false;  // the file was loaded and handed to its category's step
    std::int64_t Lignes = 0;
    std::int64_t Supprimes = 0;  // records deleted: replaced or purged
    std::int64_t Ajoutes = 0;
    std::int64_t Refuses = 0;  // record operations refused and lines ignored
    std::int64_t Listes = 0;   // of the refusals, those given an entry of their own
};

// Past this many record entries for one file, further refusals are only counted: a file the
// table refuses line by line must not flood the report, the journal and the memory.
inline constexpr std::int64_t kMaxRecordEntries = 1000;

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
    // A dry run: every file is integrated and then rolled back.
    bool Essai = false;
    // Failed attempts of the retrieval that were tried again, over the whole run.
    std::int64_t Reprises = 0;
    // In the order of kHeadOfficeFiles.
    std::array<FileCounts, kHeadOfficeFiles.size()> Comptes{};

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
