#include "sync/SynchronizationRun.h"

#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <system_error>

#include "base/IniFile.h"
#include "base/SharedFolder.h"
#include "config/settings/Settings.h"
#include "database/Session.h"
#include "sync/integration/CategoryIntegration.h"
#include "sync/integration/IntegrationDriver.h"
#include "sync/report/RunJournal.h"
#include "sync/report/RunMetrics.h"
#include "sync/report/RunStatusFile.h"
#include "sync/report/RunSummary.h"
#include "sync/retrieval/FolderRetrieval.h"
#include "sync/retrieval/FtpRetrieval.h"
#include "sync/retrieval/PendingFile.h"

namespace quorvane {
namespace {

const std::string kPrefixe = "[Fonction FormCreate()] ";

// In a program folder others may write, Auto/ that is a link could send this user's files
// anywhere the link's author chose: it counts as missing.
bool DownloadFolderUsable(const ProgramPaths& paths) {
    std::error_code ec;
    if (WritableByOthers(paths.RepertoireProgramme)) {
        // Without its trailing "/", which would have the link followed.
        const std::filesystem::path auto_ = std::filesystem::path(paths.RepertoireAuto);
        return std::filesystem::is_directory(std::filesystem::symlink_status(
            auto_.has_filename() ? auto_ : auto_.parent_path(), ec));
    }
    return std::filesystem::is_directory(paths.RepertoireAuto, ec);
}

}  // namespace

SynchronizationRun::SynchronizationRun(ProgramPaths paths, RunOptions options)
    : options_(std::move(options)) {
    state_.Paths = std::move(paths);
}

SynchronizationRun::~SynchronizationRun() {
    RemovePrivateDownloadFolder();
}

void SynchronizationRun::Run() {
    debut_ = std::time(nullptr);
    debutMonotone_ = std::chrono::steady_clock::now();
    state_.EnErreur = false;
    state_.Erreurs = ListeErreurs{};
    state_.Essai = options_.DryRun;
    // A dry run leaves no file in the store's folders: no NetDir lock file, no table journal.
    struct NoFilesLeft {
        bool dryRun;
        ~NoFilesLeft() {
            if (dryRun) {
                Session().SetLeavesNoFiles(false);
            }
        }
    } noFilesLeft{options_.DryRun};
    Session().SetLeavesNoFiles(options_.DryRun);
    if (options_.DryRun) {
        options_.Journal = nullptr;
        options_.OpenReport = nullptr;
    } else {
        DeletePreviousReport();
    }
    ReadSettings();
    AnnounceStart();

    if (!state_.EnErreur) {
        if (!DownloadFolderUsable(state_.Paths)) {
            state_.Erreur(kPrefixe + "Erreur le repertoire " + state_.Paths.RepertoireAuto +
                              " est introuvable ou est inaccessible.",
                          0);
        }
    }
    if (options_.DryRun) {
        if (!state_.EnErreur && !UsePrivateDownloadFolder()) {
            state_.Erreur(kPrefixe + "Impossible de créer le dossier temporaire de l'essai.", 0);
        }
    } else {
        // What a stopped run left half-written is of no use to anyone; only this run's own
        // files are there once it holds the lock.
        RemovePendingLeftovers(state_.Paths.RepertoireAuto);
        // The report's and the status file's temporaries: only a run writes them, and this run
        // holds the lock. The settings file's are left alone: a configuration window may be
        // writing it right now.
        RemoveTemporariesOf(state_.Paths.RepertoireProgramme,
                            {std::filesystem::path(state_.Paths.CheminRapport).filename().string(),
                             std::filesystem::path(state_.Paths.CheminStatut).filename().string()});
    }
    if (!state_.EnErreur) {
        Retrieve();
    }
    MarquerCategoriesEnEchec();
    if (options_.DryRun) {
        if (!privateFolder_.empty()) {
            // Word for word the run's entries: they name Auto/, never the temporary folder.
            state_.Erreurs.ReplaceInTexts(state_.Paths.RepertoireAuto, downloadFolder_);
            state_.Paths.RepertoireAuto = downloadFolder_;
        }
        RemovePrivateDownloadFolder();
        return;
    }
    Report();
    Conclude();
}

bool SynchronizationRun::UsePrivateDownloadFolder() {
    std::error_code ec;
    std::string pattern =
        (std::filesystem::temp_directory_path(ec) / "QuorvaneClient-essai-XXXXXX").string();
    if (ec || ::mkdtemp(pattern.data()) == nullptr) {
        return false;
    }
    privateFolder_ = pattern;
    downloadFolder_ = state_.Paths.RepertoireAuto;
    state_.Paths.RepertoireAuto = privateFolder_ + "/";
    return true;
}

void SynchronizationRun::RemovePrivateDownloadFolder() {
    if (!privateFolder_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(privateFolder_, ec);
        privateFolder_.clear();
    }
}

RunSummary SynchronizationRun::Summary() const {
    return ResumerRun(state_, display_, debut_, std::time(nullptr), std::nullopt);
}

void SynchronizationRun::DeletePreviousReport() {
    const std::string& rapport = state_.Paths.CheminRapport;
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(rapport, ec))) {
        return;
    }
    if (!std::filesystem::remove(rapport, ec) || ec) {
        state_.Erreur(kPrefixe + "Impossible de supprimer le fichier log précédent " + rapport, 0);
    }
}

void SynchronizationRun::ReadSettings() {
    const auto stored = settings::ReadMainSettings(state_.Paths.CheminIni);
    if (!stored) {
        state_.Erreur(kPrefixe + "Erreur le fichier " + state_.Paths.CheminIni +
                          " est introuvable ou est inaccessible.",
                      0);
        return;
    }
    state_.RemiseAchatActif = stored->RemiseAchat;
    state_.PersonnalisationActif = stored->Personnalisation;
    state_.MessageActif = stored->Message;
    state_.DocumentActif = stored->Document;
    state_.TransfertFtp = stored->Mode == settings::TransferMode::Ftp;
    state_.TransfertUri = stored->Mode == settings::TransferMode::Folder;
    state_.RepertoireSource = stored->SourceFolder();
    state_.OmbrelinActif = stored->Ombrelin;
    state_.OmbrelinTypeEnvoi = stored->OmbrelinTypeEnvoi;
    state_.OmbrelinUri = stored->OmbrelinUri;
    state_.ClePublique = stored->ClePublique;
}

void SynchronizationRun::Retrieve() {
    if (!state_.UneCategorieActive()) {
        return;
    }
    // The retrievals report their own problems; this net only keeps an unforeseen failure
    // from ending the run without its report.
    auto guarded = [this](const char* operation, const std::function<void()>& body) {
        try {
            body();
        } catch (const std::exception& e) {
            state_.Erreur(std::string("[Fonction ") + operation + "] " + e.what(), 0);
        } catch (...) {
            state_.Erreur(std::string("[Fonction ") + operation + "] Une erreur est survenue.", 0);
        }
    };
    if (state_.TransfertFtp) {
        guarded("LancerTransfertFtp()", [this] { LancerTransfertFtp(settings::kFtpSection); });
    }
    if (state_.TransfertUri) {
        if (state_.RepertoireSource.size() > 1) {
            guarded("CopierRepertoire()", [this] { CopierRepertoire(state_.RepertoireSource); });
        } else {
            state_.Erreur(kPrefixe +
                              "Veuillez renseigner le répertoire source Quorvane dans la fenêtre "
                              "de configuration.",
                          1);
        }
    }
}

void SynchronizationRun::MarquerCategoriesEnEchec() {
    for (const Categorie categorie : kCategoriesEnOrdre) {
        if (!state_.Actif(categorie)) {
            continue;
        }
        if (!display_.SuccessImageVisible(categorie, Colonne::Telechargement)) {
            display_.ShowImage(categorie, Colonne::Telechargement, false);
        }
        if (!display_.SuccessImageVisible(categorie, Colonne::Integration)) {
            display_.ShowImage(categorie, Colonne::Integration, false);
        }
    }
}

void SynchronizationRun::Report() {
    if (state_.Erreurs.Empty()) {
        return;
    }
    try {
        EcrireRapport(state_.Paths.CheminRapport, state_.Erreurs, options_.Clock);
    } catch (const std::exception& e) {
        // Nowhere left to report it but the console; the countdown still runs.
        std::cerr << "Erreur : le rapport n'a pas pu être écrit : " << e.what() << '\n';
        return;
    }
    if (options_.OpenReport) {
        options_.OpenReport(state_.Paths.CheminRapport);
    }
}

void SynchronizationRun::AnnounceStart() {
    RunJournal(options_.Journal).Debut(ResumerRun(state_, display_, debut_, debut_, std::nullopt));
}

void SynchronizationRun::Conclude() {
    std::optional<std::string> rapport;
    std::error_code ec;
    if (!state_.Erreurs.Empty() &&
        std::filesystem::is_regular_file(state_.Paths.CheminRapport, ec)) {
        rapport = state_.Paths.CheminRapport;
    }
    const RunSummary summary =
        ResumerRun(state_, display_, debut_, std::time(nullptr), std::move(rapport));
    // The status and the metrics first: what cannot be written, the journal says before its
    // closing line. Neither is an entry: the report is already written.
    std::vector<std::string> problemes;
    if (const std::string failure = EcrireStatut(state_.Paths.CheminStatut, summary);
        !failure.empty()) {
        problemes.push_back("Le fichier d'état n'a pas pu être écrit : " + failure);
    }
    if (const std::string metrics = settings::ReadMetricsFile(state_.Paths.CheminIni);
        !metrics.empty()) {
        const std::chrono::duration<double> duree =
            std::chrono::steady_clock::now() - debutMonotone_;
        if (const std::string failure = EcrireMetriques(metrics, summary, duree.count());
            !failure.empty()) {
            problemes.push_back("Le fichier de métriques n'a pas pu être écrit : " + failure);
        }
    }
    RunJournal(options_.Journal).Fin(summary, problemes);
    if (options_.AtEnd) {
        // Telling the desktop is a courtesy: whatever goes wrong there, the run has ended and
        // told the system so.
        try {
            options_.AtEnd(summary);
        } catch (...) {
        }
    }
}

void SynchronizationRun::LancerTransfertFtp(const std::string& section) {
    FtpLimits limits;
    if (options_.FtpStallLimitMs > 0) {
        limits.Stall = std::chrono::milliseconds(options_.FtpStallLimitMs);
    }
    if (options_.FtpConnectTimeoutMs > 0) {
        limits.Connect = std::chrono::milliseconds(options_.FtpConnectTimeoutMs);
    }
    if (options_.FtpResponseTimeoutMs > 0) {
        limits.Response = std::chrono::milliseconds(options_.FtpResponseTimeoutMs);
    }
    limits.Floor = options_.FtpFloor;
    RetrySetup retry;
    retry.Rule = options_.Retry;
    retry.Warn = [this](const std::string& line) {
        RunJournal(options_.Journal).Avertissement(line);
    };
    FtpRetrieval retrieval(state_, display_, IdFTP1, limits, std::move(retry));
    retrieval.LancerTransfertFtp(section, Integration());
}

void SynchronizationRun::CopierRepertoire(const std::string& repertoireSource) {
    FolderRetrieval retrieval(state_, repertoireSource);
    retrieval.CopierRepertoire(display_, Integration());
}

CategoryIntegration& SynchronizationRun::Integration() {
    if (!integration_) {
        integration_ = std::make_unique<IntegrationDriver>(state_, display_);
    }
    return *integration_;
}

std::string DryRunText(const RunSummary& summary) {
    std::string text = "Essai de synchronisation : aucune table, aucun fichier n'a été modifié.\n";
    bool any = false;
    for (const CategorySummary& c : summary.Categories) {
        if (!c.Active) {
            continue;
        }
        any = true;
        text += std::string(c.Libelle) + " : téléchargement " + (c.Telechargee ? "oui" : "non") +
                ", intégration " + (c.Integree ? "oui" : "non") + "\n";
        for (const FileSummary& f : c.Fichiers) {
            CategorySummary one;
            one.Suppression = c.Suppression;
            one.Fichiers = {f};
            const std::string counts = RunJournal::LigneComptes(one);
            text += "  " + f.Table + " (" + f.Nom +
                    ") : " + (counts.empty() ? std::string("non intégré") : counts) + "\n";
        }
    }
    if (!any) {
        text += "Aucune catégorie activée.\n";
    }
    const std::size_t count = summary.Entrees.size();
    if (count == 0) {
        text += "Aucune entrée : le rapport n'aurait pas été écrit.\n";
    } else {
        text +=
            std::to_string(count) + (count == 1 ? " entrée que le rapport aurait contenue :\n"
                                                : " entrées que le rapport aurait contenues :\n");
        for (const ErrorEntry& entry : summary.Entrees) {
            text += RunJournal::LigneEntree(entry) + "\n";
        }
    }
    return text;
}

}  // namespace quorvane
