#pragma once

#include <functional>
#include <string>

#include "sync/retrieval/FtpClient.h"
#include "sync/retrieval/FtpSecuritySettings.h"

namespace quorvane {

// The account a connection test tries: the host, login, password and port as typed in the FTP
// settings window or as saved, and the protection keys of the settings file.
struct ConnectionTestAccount {
    std::string Host;
    std::string Login;
    std::string Password;
    int Port = 21;
    FtpSecuritySettings Security;
};

struct ConnectionTestResult {
    bool Etablie = false;
    // "Connection établie avec le serveur FTP", or the failure and its cause.
    std::string Message;
    // Once established: the address reached, its family and the proxy, in words.
    std::string Route;
};

// "Adresse du serveur jointe : ::1 (IPv6), sans proxy", or "Serveur joint par le proxy
// http://host:port (adresse 10.0.0.1, IPv4)": a proxy hides the server's own address.
std::string DescribeRoute(const ConnectionRoute& route);

// "Test de la connexion FTP": connects and logs in with the account's settings, in the order a
// run applies them, tells the outcome while the session is still open (the window's box shows
// over a live connection), then disconnects whatever came of it. Nothing else is sent.
ConnectionTestResult TesterConnexionFtp(
    FtpClient& client, const ConnectionTestAccount& account,
    const std::function<void(const ConnectionTestResult&)>& tell = {});

}  // namespace quorvane
