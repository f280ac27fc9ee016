#include "sync/retrieval/ConnectionTest.h"

#include <chrono>
#include <exception>

#include "sync/Categories.h"

namespace quorvane {
namespace {

const std::string kConnexionEtablie = "Connection établie avec le serveur FTP";
const std::string kEchecConnexion = "Impossible de se connecter au serveur FTP. Erreur ";
const std::string kEchecInconnu = "Impossible de se connecter au serveur FTP !";

}  // namespace

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
    const ConnectionTestResult result{connected, connected ? kConnexionEtablie : message};
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

}  // namespace quorvane
