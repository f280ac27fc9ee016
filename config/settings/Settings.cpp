#include "config/settings/Settings.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "base/IniFile.h"
#include "base/SharedFolder.h"
#include "base/TextConversion.h"

namespace quorvane::settings {
namespace {

const std::string kMain = "Quorvane";
const std::string kMainUri = "Quorvane_URI";
const std::string kOmbrelin = "Ombrelin";
const std::string kOmbrelinUri = "Ombrelin_URI";
const std::string kSetup = "Setup";
const std::string kSignature = "Quorvane_Signature";
const std::string kClePublique = "ClePublique";

constexpr std::array<const char*, 4> kCategoryKeys = {"Remise_Achat", "Personnalisation", "Message",
                                                      "Document"};
const std::string kTypeEnvoi = "TypeEnvoi";
const std::string kUri = "URI";
const std::string kFtp = "FTP";

const std::string kLogin = "Login";
const std::string kMdp = "Mdp";
const std::string kHost = "Host";
const std::string kPort = "Port";
const std::string kSecurite = "Securite";
const std::string kCertificatAC = "CertificatAC";
const std::string kCleHote = "CleHote";
const std::string kTentatives = "Tentatives";

const std::string kSuivi = "Quorvane_Suivi";
const std::string kFichierMetriques = "FichierMetriques";
const std::string kProxy = "Proxy";

TransferMode ModeOf(const std::string& typeEnvoi) {
    if (typeEnvoi == kFtp) {
        return TransferMode::Ftp;
    }
    return typeEnvoi == kUri ? TransferMode::Folder : TransferMode::Neither;
}

}  // namespace

const char* const kFtpSection = "Quorvane_FTP";
const char* const kInvalidPortMessage = "Veuillez renseigner un port FTP valide (1 à 65535)";

const std::array<const char*, 4>& CategoryKeys() {
    return kCategoryKeys;
}

std::optional<MainSettings> ReadMainSettings(const std::string& iniPath) {
    const TIniFile ini(iniPath);
    if (!ini.Exists()) {
        return std::nullopt;
    }
    MainSettings settings;
    settings.RemiseAchat = ini.ReadBool(kMain, kCategoryKeys[0], false);
    settings.Personnalisation = ini.ReadBool(kMain, kCategoryKeys[1], false);
    settings.Message = ini.ReadBool(kMain, kCategoryKeys[2], false);
    settings.Document = ini.ReadBool(kMain, kCategoryKeys[3], false);
    settings.Mode = ModeOf(ini.ReadString(kMain, kTypeEnvoi, kFtp));
    settings.Uri = ini.ReadString(kMainUri, kUri, "");
    settings.Ombrelin = ini.ReadBool(kOmbrelin, kOmbrelin, false);
    settings.OmbrelinTypeEnvoi = ini.ReadString(kOmbrelin, kTypeEnvoi, "");
    settings.OmbrelinUri = ini.ReadString(kOmbrelinUri, kUri, "");
    settings.ClePublique = ini.ReadString(kSignature, kClePublique, "");
    return settings;
}

std::optional<std::string> CheckMainSettings(const MainSettings& settings) {
    if (settings.AnyCategory() && settings.Mode == TransferMode::Folder && settings.Uri.empty()) {
        return "Veuillez renseigner le répertoire de récupération du paramétrage Quorvane.";
    }
    return std::nullopt;
}

std::optional<std::string> PrepareDownloadFolder(const std::string& repertoireAuto) {
    const std::filesystem::path folder(repertoireAuto);
    std::error_code ec;
    // In a shared program folder a link at Auto/'s name is no download folder: the run would
    // refuse it, so saving says so rather than take it for one.
    const std::filesystem::path plain = folder.has_filename() ? folder : folder.parent_path();
    const bool noLink = WritableByOthers(plain.parent_path());
    const auto usable = [&] {
        return std::filesystem::is_directory(noLink ? std::filesystem::symlink_status(plain, ec)
                                                    : std::filesystem::status(plain, ec));
    };
    if (usable()) {
        return std::nullopt;
    }
    // One level only: the program's folder itself is not made here.
    std::filesystem::create_directory(folder, ec);
    if (usable()) {
        return std::nullopt;
    }
    return "Erreur à la création du répertoire " + repertoireAuto;
}

void WriteMainSettings(const std::string& iniPath, const MainSettings& settings) {
    TIniFile ini(iniPath);
    ini.WriteBool(kMain, kCategoryKeys[0], settings.RemiseAchat);
    ini.WriteBool(kMain, kCategoryKeys[1], settings.Personnalisation);
    ini.WriteBool(kMain, kCategoryKeys[2], settings.Message);
    ini.WriteBool(kMain, kCategoryKeys[3], settings.Document);
    ini.WriteString(kMain, kTypeEnvoi, settings.Mode == TransferMode::Ftp ? kFtp : kUri);
    ini.WriteString(kMainUri, kUri, settings.Uri);
}

std::optional<std::string> SaveMainSettings(const ProgramPaths& paths,
                                            const MainSettings& settings) {
    if (auto refusal = CheckMainSettings(settings)) {
        return refusal;
    }
    // Without its download folder no run could work, so the choices stay on screen to retry
    // instead of being saved for a run that cannot use them.
    if (auto failure = PrepareDownloadFolder(paths.RepertoireAuto)) {
        return failure;
    }
    WriteMainSettings(paths.CheminIni, settings);
    return std::nullopt;
}

std::optional<FtpProtection> ParseSecurite(const std::string& value) {
    std::string folded = value;
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (folded.empty() || folded == "aucune") {
        return FtpProtection::None;
    }
    if (folded == "tls") {
        return FtpProtection::Tls;
    }
    if (folded == "sftp") {
        return FtpProtection::Sftp;
    }
    return std::nullopt;
}

int DefaultFtpPort(const std::string& securite) {
    return ParseSecurite(securite) == FtpProtection::Sftp ? 22 : 21;
}

std::optional<FtpAccount> ReadFtpAccount(const std::string& iniPath, const std::string& section) {
    const TIniFile ini(iniPath);
    if (!ini.Exists()) {
        return std::nullopt;
    }
    FtpAccount account;
    account.Login = ini.ReadString(section, kLogin, "");
    account.Mdp = ini.ReadString(section, kMdp, "");
    account.Host = ini.ReadString(section, kHost, "");
    account.Securite = ini.ReadString(section, kSecurite, "");
    account.CertificatAC = ini.ReadString(section, kCertificatAC, "");
    account.CleHote = ini.ReadString(section, kCleHote, "");
    account.Proxy = ini.ReadString(section, kProxy, "");
    // An SFTP account without "Port" is on 22: showing or using 21 would be the wrong port.
    account.Port = ini.ReadInteger(section, kPort, DefaultFtpPort(account.Securite));
    account.Tentatives =
        std::clamp(ini.ReadInteger(section, kTentatives, kTentativesDefaut), 1, kTentativesMax);
    return account;
}

std::optional<int> ParsePortFtp(const std::string& text) {
    const auto value = TryStrToInt(text);
    if (!value || *value < 1 || *value > 65535) {
        return std::nullopt;
    }
    return *value;
}

int ConnectionTestPort(const std::string& text) {
    const auto value = TryStrToInt(text);
    if (!value) {
        throw ConversionError("'" + text + "' n'est pas une valeur entière valide");
    }
    return *value;
}

std::optional<std::string> SaveFtpAccount(const std::string& iniPath, const std::string& section,
                                          const FtpAccountInput& input) {
    for (const std::string* field : {&input.Login, &input.Mdp, &input.Host, &input.Port}) {
        if (field->empty()) {
            return "Veuillez renseigner la configuration FTP";
        }
    }
    const auto port = ParsePortFtp(input.Port);
    if (!port) {
        return kInvalidPortMessage;
    }
    TIniFile ini(iniPath);
    ini.WriteString(section, kLogin, input.Login);
    ini.WriteString(section, kMdp, input.Mdp);
    ini.WriteString(section, kHost, input.Host);
    ini.WriteInteger(section, kPort, *port);
    return std::nullopt;
}

std::string ReadMetricsFile(const std::string& iniPath) {
    return TIniFile(iniPath).ReadString(kSuivi, kFichierMetriques, "");
}

std::string ReadSetupDir(const std::string& iniPath) {
    return TIniFile(iniPath).ReadString(kSetup, "Dir", "");
}

}  // namespace quorvane::settings
