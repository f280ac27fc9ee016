#pragma once

#include <functional>
#include <string>

#include "base/ProgramPaths.h"
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

// What the server holds of the head-office files, asked over an open session: one line each,
// "remise_achat.xml : présent, 1030 octets", "... : absent du serveur", or why the question
// failed. complete says whether every question got its answer.
std::string FichiersDuServeur(FtpClient& client, bool& complete);

// On a session the test opened: whether the head office's signed manifest and its signature
// are on the server and valid for "ClePublique", verified as a dry run verifies them (fetched
// into a temporary folder; no generation recorded). The message is the verdict, or the
// entries a run would get.
ConnectionTestResult TesterManifeste(FtpClient& client, const ProgramPaths& paths,
                                     const std::string& clePublique);

}  // namespace quorvane
