#include "sync/retrieval/ConnectionTest.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <memory>

#include "sync/RunDisplay.h"
#include "sync/retrieval/FtpRetrieval.h"
#include "sync/signature/SignedSet.h"

#include "sync/Categories.h"

namespace quorvane {
namespace {

const std::string kConnexionEtablie = "Connection établie avec le serveur FTP";
const std::string kEchecConnexion = "Impossible de se connecter au serveur FTP. Erreur ";
const std::string kEchecInconnu = "Impossible de se connecter au serveur FTP !";

}  // namespace

std::string DescribeRoute(const ConnectionRoute& route) {
    const std::string family = route.Ipv6 ? "IPv6" : "IPv4";
    if (route.Proxy.empty()) {
        return "Adresse du serveur jointe : " + route.Address + " (" + family + "), sans proxy";
    }
    return "Serveur joint par le proxy " + route.Proxy + " (adresse " + route.Address + ", " +
           family + ")";
}

ConnectionTestResult TesterConnexionFtp(
    FtpClient& client, const ConnectionTestAccount& account,
    const std::function<void(const ConnectionTestResult&)>& tell) {
    client.SetHost(account.Host);
    client.SetUsername(account.Login);
    client.SetPassword(account.Password);
    client.SetPort(account.Port);
    client.SetTransferTimeout(std::chrono::milliseconds(0));

    std::string message;
    try {
        account.Security.Appliquer(client);
        client.Connect();
    } catch (const std::exception& error) {
        message = kEchecConnexion + error.what();
    } catch (...) {
        message = kEchecInconnu;
    }

    bool connected = false;
    try {
        connected = client.Connected();
    } catch (...) {
        connected = false;
    }
    ConnectionTestResult result{connected, connected ? kConnexionEtablie : message, {}};
    if (connected) {
        result.Route = DescribeRoute(client.Route());
    }
    if (tell) {
        tell(result);
    }
    // Whatever the outcome, the test leaves no session open.
    client.Disconnect();
    return result;
}

std::string FichiersDuServeur(FtpClient& client, bool& complete) {
    complete = true;
    std::string text;
    for (const HeadOfficeFile& file : kHeadOfficeFiles) {
        const std::string name(file.Name);
        text += name + " : ";
        try {
            const auto size = client.Presence(name);
            if (!size) {
                text += "absent du serveur";
            } else if (*size < 0) {
                text += "présent (le serveur ne donne pas sa taille)";
            } else {
                text += "présent, " + std::to_string(*size) + " octets";
            }
        } catch (const std::exception& error) {
            complete = false;
            text += std::string("impossible de le demander au serveur : ") + error.what();
        }
        text += "\n";
    }
    return text;
}

ConnectionTestResult TesterManifeste(FtpClient& client, const ProgramPaths& paths,
                                     const std::string& clePublique) {
    // The two files go to a folder of this test's own, as a dry run's do: the store's download
    // folder is left alone, and need not exist.
    std::error_code ec;
    std::string folder =
        (std::filesystem::temp_directory_path(ec) / "QuorvaneClient-test-XXXXXX").string();
    if (ec || ::mkdtemp(folder.data()) == nullptr) {
        return {false, "Impossible de créer un dossier temporaire pour le manifeste du siège", {}};
    }
    const std::unique_ptr<std::string, void (*)(std::string*)> removal(&folder, [](std::string* f) {
        std::error_code ignored;
        std::filesystem::remove_all(*f, ignored);
    });
    RunState state;
    state.Paths = paths;
    state.Paths.RepertoireAuto = folder + "/";
    state.Essai = true;
    state.ClePublique = clePublique;
    RunDisplay display;
    FtpRetrieval retrieval(state, display, client);
    ManifestTexts texts;
    texts.Manifest = retrieval.FetchManifestFile(kManifestName);
    texts.Signature = retrieval.FetchManifestFile(kManifestSignatureName);
    const auto set = SignedSet::VerifierManifeste(state, clePublique, texts, std::time(nullptr));
    if (set) {
        return {true,
                "Manifeste signé du siège valide (génération " + std::to_string(set->Generation()) +
                    ")",
                {}};
    }
    std::string message;
    for (const ErrorEntry& entry : state.Erreurs.Entries()) {
        message += (message.empty() ? "" : "\n") + entry.Texte;
    }
    return {false, message, {}};
}

}  // namespace quorvane
