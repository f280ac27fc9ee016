#include "sync/retrieval/ConnectionTest.h"

#include <chrono>
#include <exception>

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

}  // namespace quorvane
