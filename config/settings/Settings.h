#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/ProgramPaths.h"

// The settings file, its sections, keys and defaults, and the rules of those who read and write
// it. Every section and key name of the program is spelled in Settings.cpp and nowhere else;
// each reader or writer opens the file for one operation and writes only the keys it manages,
// so a key it does not show keeps whatever value it had.
namespace quorvane::settings {

// The section of the head office's FTP account, as the run and the configuration window name it.
extern const char* const kFtpSection;

// The keys of the four categories, in the order purchase conditions, personalisation, messages,
// documents.
const std::array<const char*, 4>& CategoryKeys();

// "TypeEnvoi": "FTP" or "URI", compared exactly; any other value selects neither.
enum class TransferMode { Ftp, Folder, Neither };

// What the configuration window edits and the run reads at its start.
struct MainSettings {
    bool RemiseAchat = false;
    bool Personnalisation = false;
    bool Message = false;
    bool Document = false;
    // A file without "TypeEnvoi" is in FTP mode; an empty value is in neither.
    TransferMode Mode = TransferMode::Ftp;
    std::string Uri;

    // Read for the run's state; nothing depends on them and nobody writes them.
    bool Ombrelin = false;
    std::string OmbrelinTypeEnvoi;
    std::string OmbrelinUri;
    // "Quorvane_Signature"/"ClePublique": the head office's public key(s); no window shows it.
    std::string ClePublique;

    bool AnyCategory() const { return RemiseAchat || Personnalisation || Message || Document; }
    // The folder copied from: "URI" and one separator, whatever it already ends with, so an
    // empty value gives a one-character folder, which the run takes for none.
    std::string SourceFolder() const { return Uri + "/"; }
};

// Nothing when the settings file does not exist (or cannot be read).
std::optional<MainSettings> ReadMainSettings(const std::string& iniPath);

// The configuration window's "Enregistrer": the refusal to tell the user, or nothing once the
// download folder exists and the settings are written. Only a folder-mode save with a category
// and no folder is refused; a download folder that cannot be made keeps the settings unwritten.
// A refused write throws IniWriteError, the keys before it staying written.
std::optional<std::string> SaveMainSettings(const ProgramPaths& paths,
                                            const MainSettings& settings);

// The same rules one by one, for whoever needs only one.
std::optional<std::string> CheckMainSettings(const MainSettings& settings);
// Makes the download folder, one level, when it is missing; the message when it cannot.
std::optional<std::string> PrepareDownloadFolder(const std::string& repertoireAuto);
// Writes the four categories, "TypeEnvoi" ("FTP" in FTP mode, "URI" otherwise) and "URI", in
// this order, and no other key.
void WriteMainSettings(const std::string& iniPath, const MainSettings& settings);

// "Securite": absent, empty or "Aucune" for plain FTP, "TLS", "SFTP", in any letter case;
// nothing for any other value.
enum class FtpProtection { None, Tls, Sftp };
std::optional<FtpProtection> ParseSecurite(const std::string& value);
// The port when "Port" is absent or not a number: 22 for SFTP, 21 otherwise.
int DefaultFtpPort(const std::string& securite);

// "Tentatives": absent or not a number reads as the default; below 1 as 1, above 10 as 10.
inline constexpr int kTentativesDefaut = 4;
inline constexpr int kTentativesMax = 10;

// One FTP account of the settings file.
struct FtpAccount {
    std::string Login;
    std::string Mdp;  // in clear, as typed
    std::string Host;
    int Port = 21;
    // Optional keys that neither window shows nor writes.
    std::string Securite;
    std::string CertificatAC;
    std::string CleHote;
    // How many times one operation of the retrieval is tried when it fails for a moment.
    int Tentatives = kTentativesDefaut;
    // "http://host:port", "socks5h://host:port", "aucun", or empty for the environment's.
    std::string Proxy;
};

// Nothing when the settings file does not exist (or cannot be read).
std::optional<FtpAccount> ReadFtpAccount(const std::string& iniPath, const std::string& section);

// The port as the windows accept it: a whole number from 1 to 65535.
std::optional<int> ParsePortFtp(const std::string& text);
extern const char* const kInvalidPortMessage;

// A text that was to be a whole number and is not one; what() names the text.
class ConversionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
// The port the connection test hands to the client: the typed text converted to a whole number,
// ConversionError when it is not one. A whole number that is no port (outside 1..65535) is
// returned as it is: the client refuses it before connecting, and the test says so.
int ConnectionTestPort(const std::string& text);

// The account as typed in the FTP settings window.
struct FtpAccountInput {
    std::string Login;
    std::string Mdp;
    std::string Host;
    std::string Port;
};

// The FTP settings window's "Enregistrer": the refusal to tell the user (a field left empty,
// then a port that is not one, both checked before the first write so that nothing is half
// saved), or nothing once "Login", "Mdp", "Host" and "Port" are written, in this order.
std::optional<std::string> SaveFtpAccount(const std::string& iniPath, const std::string& section,
                                          const FtpAccountInput& input);

// "Quorvane_Suivi"/"FichierMetriques": the file a run leaves its metrics in for a monitor;
// empty when absent. No window shows or writes it.
std::string ReadMetricsFile(const std::string& iniPath);

// "Setup"/"Dir": the folder of the database environment file; empty when absent.
std::string ReadSetupDir(const std::string& iniPath);

}  // namespace quorvane::settings
