#include "sync/retrieval/FtpRetrieval.h"

#include <algorithm>

#include "base/IniFile.h"
#include "config/settings/ServiceCredential.h"
#include "config/settings/Settings.h"
#include "sync/retrieval/FtpSecuritySettings.h"

namespace quorvane {

FtpRetrieval::FtpRetrieval(RunState& state, RunDisplay& display, FtpClient& client,
                           FtpLimits limits, RetrySetup retry)
    : state_(state),
      display_(display),
      IdFTP1(client),
      limits_(limits),
      retry_(std::move(retry)),
      tentatives_(1) {}

RetryPolicy FtpRetrieval::Policy() {
    RetryPolicy::Sleep sleep = retry_.Sleep;
    if (!sleep) {
        sleep = [this](std::chrono::milliseconds wait) { display_.WaitRepainting(wait); };
    }
    return RetryPolicy(tentatives_, retry_.Random, std::move(sleep), retry_.Rule);
}

RetryPolicy::Told FtpRetrieval::Teller(const std::string& operation) {
    return [this, operation](const RetryNotice& notice) {
        ++state_.Reprises;
        if (retry_.Warn) {
            retry_.Warn(RetryLine(operation, notice));
        }
    };
}

bool FtpRetrieval::ClientConnected() noexcept {
    try {
        return IdFTP1.Connected();
    } catch (...) {
        return false;
    }
}

void FtpRetrieval::LancerTransfertFtp(const std::string& section,
                                      CategoryIntegration& integration) {
    // Without a settings file: empty login, password and host, on port 21.
    const auto stored = settings::ReadFtpAccountForRun(state_.Paths.CheminIni, section);
    const settings::FtpAccount account = stored.value_or(settings::FtpAccount{});
    const FtpSecuritySettings security = FtpSecuritySettings::Of(stored);

    IdFTP1.SetHost(account.Host);
    IdFTP1.SetUsername(account.Login);
    IdFTP1.SetPassword(account.Mdp);
    // A port outside 1..65535 is refused by Connect rather than wrapped onto another port.
    IdFTP1.SetPort(account.Port);
    IdFTP1.SetLimits(limits_);
    tentatives_ = account.Tentatives;

    const std::string prefix = "[Fonction LancerTransfertFtp() section : " + section + "] ";
    try {
        security.Appliquer(IdFTP1);
        Policy().Run([this](int) { IdFTP1.Connect(); },
                     Teller("[Fonction LancerTransfertFtp()] Connexion au serveur FTP"));
    } catch (const std::exception& e) {
        state_.Erreur(prefix + "Impossible de se connecter au serveur FTP. Erreur " + e.what(), 0);
    } catch (...) {
        state_.Erreur(prefix + "Impossible de se connecter au serveur FTP !", 0);
    }

    if (!ClientConnected() || state_.EnErreur) {
        state_.Erreur("[Fonction LancerTransfertFtp()] Vous n'êtes pas connecté au serveur FTP !",
                      0);
    } else {
        RetrieveCategories(state_, display_, integration, *this);
    }

    if (ClientConnected()) {
        IdFTP1.Disconnect();
    }
}

std::optional<std::string> FtpRetrieval::Fetch(const HeadOfficeFile& file) {
    const std::string fileName(file.Name);
    // A signed file must arrive with the bytes the head office signed: no line-end decoding.
    const auto type = signedSet_ ? FtpTransferType::Binary : FtpTransferType::Ascii;
    if (!DownloadFile(fileName, type, state_.Paths.RepertoireAuto, SignedCheck(state_, fileName))) {
        return std::nullopt;
    }
    return state_.Paths.RepertoireAuto + fileName;
}

std::optional<std::string> FtpRetrieval::FetchManifestFile(std::string_view name) {
    const std::string fileName(name);
    if (!DownloadFile(fileName, FtpTransferType::Binary, state_.Paths.RepertoireAuto)) {
        return std::nullopt;
    }
    return ReadManifestFile(state_.Paths.RepertoireAuto + fileName);
}

void FtpRetrieval::BeforeCategory(Categorie) {
    display_.ProcessMessages();
}

void FtpRetrieval::AfterCategory(Categorie categorie) {
    if (categorie != Categorie::RemiseAchat) {
        display_.ProcessMessages();
    }
}

bool FtpRetrieval::DownloadFile(const std::string& fileName, FtpTransferType transferType,
                                const std::string& localFolder, CommitCheck check) {
    Stage stage = Stage::Reconnect;
    bool present = false;
    try {
        Policy().Run(
            [&](int) {
                try {
                    TryFile(fileName, transferType, localFolder, check, stage, present);
                } catch (const FtpError& e) {
                    // A connection that failed for a moment is never used again: the next
                    // attempt starts on a new one.
                    if (e.Transient()) {
                        IdFTP1.Disconnect();
                    }
                    throw;
                }
            },
            Teller("[Fonction DownloadFile()] Téléchargement de " + fileName));
        return present;
    } catch (const FtpFileRefused&) {
        // The signed set's entry says why.
    } catch (const FtpAuthError& e) {
        if (stage == Stage::Get) {
            state_.Erreur(
                std::string("[Fonction DownloadFile()] Erreur lors du téléchargement : ") +
                    e.what(),
                0);
            return false;
        }
        LastFailure(stage, fileName, e.what());
    } catch (const std::exception& e) {
        LastFailure(stage, fileName, e.what());
    } catch (...) {
        LastFailure(stage, fileName, "Une erreur est survenue.");
    }
    return false;
}

void FtpRetrieval::LastFailure(Stage stage, const std::string& fileName, const std::string& why) {
    switch (stage) {
        case Stage::Reconnect:
            state_.Erreur(
                "[Fonction FileExistOnServer()] Vous n'êtes plus connecté au serveur FTP !", 0);
            return;
        case Stage::Size:
            // The query itself failed (the connection dropped while asking): not an absent file.
            state_.Erreur(
                "[Fonction FileExistOnServer()] Impossible de demander la taille du "
                "fichier " +
                    fileName + " : " + why,
                0);
            return;
        case Stage::BeforeGet:
            state_.Erreur("[Fonction DownloadFile()] Vous n'êtes plus connecté au serveur FTP !",
                          0);
            return;
        case Stage::Get:
            state_.Erreur("[Fonction DownloadFile()] Une erreur est survenue.", 0);
            return;
    }
}

// One attempt of a file: the connection made again when it was lost, the size asked, the file
// fetched from its start.
void FtpRetrieval::TryFile(const std::string& fileName, FtpTransferType transferType,
                           const std::string& localFolder, const CommitCheck& check, Stage& stage,
                           bool& present) {
    stage = Stage::Reconnect;
    if (!ClientConnected()) {
        IdFTP1.Connect();
    }
    stage = Stage::Size;
    present = Present(fileName);
    if (!present) {
        return;
    }
    stage = Stage::BeforeGet;
    if (!ClientConnected()) {
        throw FtpError("Pas de connexion ouverte avec le serveur FTP",
                       FailureCause::ConnectionLost);
    }
    stage = Stage::Get;
    IdFTP1.SetTransferType(transferType);
    IdFTP1.SetPassive(true);
    const FileDigest digest =
        IdFTP1.Get(fileName, localFolder + fileName, true, false, announcedSize_, check);
    state_.RecordFetched(fileName, digest);
    if (!IdFTP1.SizeChecked() && retry_.Warn) {
        retry_.Warn("[Fonction DownloadFile()] Taille de " + fileName +
                    " non vérifiée : le serveur ne la donne pas, un transfert coupé ne peut "
                    "pas être reconnu");
    }
}

bool FtpRetrieval::FileExistOnServer(const std::string& fileName) {
    if (!ClientConnected()) {
        state_.Erreur("[Fonction FileExistOnServer()] Vous n'êtes plus connecté au serveur FTP !",
                      0);
        return false;
    }
    try {
        return Present(fileName);
    } catch (const std::exception& e) {
        LastFailure(Stage::Size, fileName, e.what());
        return false;
    }
}

bool FtpRetrieval::Present(const std::string& fileName) {
    announcedSize_ = -1;
    const auto size = IdFTP1.Presence(fileName);
    announcedSize_ = size.value_or(-1);
    return size.has_value();
}

}  // namespace quorvane
