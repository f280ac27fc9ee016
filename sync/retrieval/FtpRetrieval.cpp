#include "sync/retrieval/FtpRetrieval.h"

#include <algorithm>

#include "base/IniFile.h"
#include "config/settings/Settings.h"
#include "sync/retrieval/FtpSecuritySettings.h"

namespace quorvane {

FtpRetrieval::FtpRetrieval(RunState& state, RunDisplay& display, FtpClient& client,
                           FtpLimits limits)
    : state_(state), display_(display), IdFTP1(client), limits_(limits) {}

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
    const auto stored = settings::ReadFtpAccount(state_.Paths.CheminIni, section);
    const settings::FtpAccount account = stored.value_or(settings::FtpAccount{});
    const FtpSecuritySettings security = FtpSecuritySettings::Of(stored);

    IdFTP1.SetHost(account.Host);
    IdFTP1.SetUsername(account.Login);
    IdFTP1.SetPassword(account.Mdp);
    // A port outside 1..65535 is refused by Connect rather than wrapped onto another port.
    IdFTP1.SetPort(account.Port);
    IdFTP1.SetLimits(limits_);

    const std::string prefix = "[Fonction LancerTransfertFtp() section : " + section + "] ";
    try {
        security.Appliquer(IdFTP1);
        IdFTP1.Connect();
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
    if (!DownloadFile(fileName, FtpTransferType::Ascii, state_.Paths.RepertoireAuto)) {
        return std::nullopt;
    }
    return state_.Paths.RepertoireAuto + fileName;
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
                                const std::string& localFolder) {
    if (!FileExistOnServer(fileName)) {
        return false;
    }
    if (!ClientConnected()) {
        state_.Erreur("[Fonction DownloadFile()] Vous n'êtes plus connecté au serveur FTP !", 0);
        return false;
    }
    try {
        IdFTP1.SetTransferType(transferType);
        IdFTP1.SetPassive(true);
        const FileDigest digest =
            IdFTP1.Get(fileName, localFolder + fileName, true, false, announcedSize_);
        state_.RecordFetched(fileName, digest);
        return true;
    } catch (const FtpAuthError& e) {
        state_.Erreur(
            std::string("[Fonction DownloadFile()] Erreur lors du téléchargement : ") + e.what(),
            0);
    } catch (...) {
        state_.Erreur("[Fonction DownloadFile()] Une erreur est survenue.", 0);
    }
    return false;
}

bool FtpRetrieval::FileExistOnServer(const std::string& fileName) {
    if (!ClientConnected()) {
        state_.Erreur("[Fonction FileExistOnServer()] Vous n'êtes plus connecté au serveur FTP !",
                      0);
        return false;
    }
    announcedSize_ = -1;
    try {
        announcedSize_ = IdFTP1.Size(fileName);
        if (announcedSize_ >= 0) {
            return true;
        }
        // A server may refuse SIZE for every file with the same 550 as for a missing one: the
        // folder's listing tells them apart, and a listed file is fetched without a size to
        // reach. Over SFTP no size means no file.
        if (IdFTP1.Security() == FtpSecurity::Sftp) {
            return false;
        }
        const auto names = IdFTP1.ListNames();
        return std::find(names.begin(), names.end(), fileName) != names.end();
    } catch (const std::exception& e) {
        // The query itself failed (the connection dropped while asking): not an absent file.
        state_.Erreur(
            "[Fonction FileExistOnServer()] Impossible de demander la taille du fichier " +
                fileName + " : " + e.what(),
            0);
        return false;
    }
}

}  // namespace quorvane
