#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/ProgramPaths.h"
#include "base/Sha256.h"
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
    // In the order of kHeadOfficeFiles.
    std::array<FileCounts, kHeadOfficeFiles.size()> Comptes{};
    // The size and SHA-256 of each file as it was written into the download folder, in the
    // order of kHeadOfficeFiles; a file not fetched by this run keeps Size 0 and no hash.
    std::array<FileDigest, kHeadOfficeFiles.size()> Recus{};

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

    void RecordFetched(std::string_view fileName, FileDigest digest) {
        if (const HeadOfficeFile* file = FindHeadOfficeFile(fileName)) {
            Recus[static_cast<std::size_t>(file - kHeadOfficeFiles.data())] = std::move(digest);
        }
    }

    // Most entries also raise the error flag; the few that do not say so at their call.
    void Erreur(std::string texte, int code) {
        Erreurs.Ajouter(std::move(texte), code);
        EnErreur = true;
    }
};

}  // namespace quorvane
