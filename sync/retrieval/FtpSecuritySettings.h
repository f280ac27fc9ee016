#pragma once

#include <optional>
#include <string>

#include "base/IniFile.h"
#include "config/settings/Settings.h"
#include "sync/retrieval/FtpClient.h"

namespace quorvane {

// "Securite" as the settings give it: absent, empty or "Aucune" for plain FTP, "TLS", "SFTP",
// in any letter case; nothing for any other value.
std::optional<FtpSecurity> ParseSecurite(const std::string& value);

// The optional keys of an FTP section that protect the session and the proxy it goes through.
// Neither settings window shows or changes them; the run and the connection test read them from the
// file.
struct FtpSecuritySettings {
    std::string Securite;
    std::string CertificatAC;
    std::string CleHote;
    std::string Proxy;

    // The account's protection keys; empty values when the settings file does not exist.
    static FtpSecuritySettings Of(const std::optional<settings::FtpAccount>& account);

    // The port when "Port" is absent: 22 for SFTP, 21 otherwise.
    int PortParDefaut() const;

    // Gives the client its protection. An unknown "Securite" throws an FtpError that names the
    // value, so the connection is refused before anything is sent to any server.
    void Appliquer(FtpClient& client) const;
};

}  // namespace quorvane
