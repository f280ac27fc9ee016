#include "sync/retrieval/FtpSecuritySettings.h"

namespace quorvane {

std::optional<FtpSecurity> ParseSecurite(const std::string& value) {
    const auto protection = settings::ParseSecurite(value);
    if (!protection) {
        return std::nullopt;
    }
    switch (*protection) {
        case settings::FtpProtection::Tls:
            return FtpSecurity::Tls;
        case settings::FtpProtection::Sftp:
            return FtpSecurity::Sftp;
        case settings::FtpProtection::None:
            break;
    }
    return FtpSecurity::None;
}

FtpSecuritySettings FtpSecuritySettings::Of(const std::optional<settings::FtpAccount>& account) {
    FtpSecuritySettings security;
    if (account) {
        security.Securite = account->Securite;
        security.CertificatAC = account->CertificatAC;
        security.CleHote = account->CleHote;
        security.Proxy = account->Proxy;
    }
    return security;
}

int FtpSecuritySettings::PortParDefaut() const {
    return settings::DefaultFtpPort(Securite);
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
    client.SetProxy(Proxy);
}

}  // namespace quorvane
