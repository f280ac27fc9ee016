#include "sync/retrieval/FtpSecuritySettings.h"

#include <algorithm>
#include <cctype>

namespace quorvane {

std::optional<FtpSecurity> ParseSecurite(const std::string& value) {
    std::string folded = value;
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (folded.empty() || folded == "aucune") {
        return FtpSecurity::None;
    }
    if (folded == "tls") {
        return FtpSecurity::Tls;
    }
    if (folded == "sftp") {
        return FtpSecurity::Sftp;
    }
    return std::nullopt;
}

FtpSecuritySettings FtpSecuritySettings::Lire(const TIniFile& ini, const std::string& section) {
    FtpSecuritySettings settings;
    if (ini.Exists()) {
        settings.Securite = ini.ReadString(section, "Securite", "");
        settings.CertificatAC = ini.ReadString(section, "CertificatAC", "");
        settings.CleHote = ini.ReadString(section, "CleHote", "");
    }
    return settings;
}

int FtpSecuritySettings::PortParDefaut() const {
    return ParseSecurite(Securite) == FtpSecurity::Sftp ? 22 : 21;
}

void FtpSecuritySettings::Appliquer(FtpClient& client) const {
    const auto security = ParseSecurite(Securite);
    if (!security) {
        throw FtpError("Valeur de « Securite » inconnue : « " + Securite +
                       " » (valeurs possibles : Aucune, TLS, SFTP)");
    }
    client.SetSecurity(*security);
    client.SetCaFile(*security == FtpSecurity::Tls ? CertificatAC : std::string());
    client.SetHostKey(*security == FtpSecurity::Sftp ? CleHote : std::string());
}

}  // namespace quorvane
