// The client's protected sessions against real servers on loopback: pyftpdlib requiring TLS on
// the control and data channels with a certificate made by the test, and an SFTP server with its
// own host key. Every refusal happens before the password leaves the client.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/FtpServers.h"
#include "support/TestFiles.h"
#include "sync/retrieval/FtpClient.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

template <typename Server>
void Configure(FtpClient& client, const Server& server, FtpSecurity security) {
    client.SetHost("127.0.0.1");
    client.SetUsername(server.User());
    client.SetPassword(server.Password());
    client.SetPort(server.Port());
    client.SetConnectTimeout(5s);
    client.SetResponseTimeout(10s);
    client.SetSecurity(security);
}

// The connection's error text, or nothing when it connected.
std::optional<std::string> ConnectError(FtpClient& client, bool expectSecurityError) {
    try {
        client.Connect();
        return std::nullopt;
    } catch (const FtpAuthError& error) {
        EXPECT_TRUE(expectSecurityError) << error.what();
        return std::string(error.what());
    } catch (const FtpError& error) {
        EXPECT_FALSE(expectSecurityError) << error.what();
        return std::string(error.what());
    }
}

// HOME pointed at a folder of the test while it lives, for the known_hosts lookups.
class ScopedHome {
  public:
    explicit ScopedHome(const std::string& knownHosts) {
        std::filesystem::create_directories(home_.Path() / ".ssh");
        std::ofstream(KnownHosts()) << knownHosts;
        const char* old = std::getenv("HOME");
        if (old != nullptr) {
            previous_ = old;
        }
        ::setenv("HOME", home_.Path().c_str(), 1);
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;
    ~ScopedHome() {
        if (previous_) {
            ::setenv("HOME", previous_->c_str(), 1);
        } else {
            ::unsetenv("HOME");
        }
    }
    std::filesystem::path KnownHosts() const { return home_.Path() / ".ssh" / "known_hosts"; }

  private:
    TempDir home_;
    std::optional<std::string> previous_;
};

TEST(FtpTls, TrustedAuthorityProtectsBothChannels) {
    TestCertificate certificate("IP:127.0.0.1");
    FtpTestServer server(FtpServerOptions{.tlsCertificate = certificate.ServerPem()});
    const std::string text = "ligne 1\r\nligne\r2\r\n";
    server.PutFile("message.xml", text);
    std::string binary(70000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>(i * 13);
    }
    server.PutFile("data.bin", binary);

    FtpClient client;
    Configure(client, server, FtpSecurity::Tls);
    client.SetCaFile(certificate.Authority().string());
    ASSERT_EQ(ConnectError(client, false), std::nullopt);
    EXPECT_EQ(client.Size("message.xml"), static_cast<std::int64_t>(text.size()));
    TempDir local;
    client.SetTransferType(FtpTransferType::Ascii);
    client.Get("message.xml", local.Path() / "message.xml", true, false, 18);
    EXPECT_EQ(ReadFile(local.Path() / "message.xml"), "ligne 1\nligne\r2\n");
    client.SetTransferType(FtpTransferType::Binary);
    client.Get("data.bin", local.Path() / "data.bin", true, false, 70000);
    EXPECT_EQ(ReadFile(local.Path() / "data.bin"), binary);
    EXPECT_EQ(client.ListNames().size(), 2u);
    client.Disconnect();

    // The server demanded protection from the first command on, and got it for every
    // data connection (its stock data handler would have refused a clear one after PROT P).
    const auto commands = server.Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front(), "AUTH TLS");
    EXPECT_EQ(server.CountCommands("PROT P"), 1);
    EXPECT_EQ(server.CountCommands("PASS"), 1);
}

TEST(FtpTls, UntrustedOrMisnamedCertificateIsRefusedBeforeTheLogin) {
    TestCertificate right("IP:127.0.0.1");
    TestCertificate otherName("DNS:autre.example");
    struct Case {
        const char* name;
        const TestCertificate& served;
        std::string caFile;  // empty: the system's store
        std::string says;
    };
    const Case cases[] = {
        {"the system's store does not know the test authority", right, "",
         "Certificat du serveur refusé : "},
        {"a certificate for another name", otherName, otherName.Authority().string(), "127.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FtpTestServer server(FtpServerOptions{.tlsCertificate = c.served.ServerPem()});
        FtpClient client;
        Configure(client, server, FtpSecurity::Tls);
        client.SetCaFile(c.caFile);
        const auto error = ConnectError(client, true);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->rfind("Certificat du serveur refusé : ", 0), 0u) << *error;
        EXPECT_NE(error->find(c.says), std::string::npos) << *error;
        EXPECT_FALSE(client.Connected());
        EXPECT_EQ(server.CountCommands("USER"), 0);
        EXPECT_EQ(server.CountCommands("PASS"), 0);
    }
}

TEST(FtpTls, PlainAndProtectedSessionsMeetingTheWrongServerStopBeforeThePassword) {
    TestCertificate certificate("IP:127.0.0.1");
    {
        // Plain FTP against the TLS-only server: refused in the server's words at USER.
        FtpTestServer server(FtpServerOptions{.tlsCertificate = certificate.ServerPem()});
        FtpClient client;
        Configure(client, server, FtpSecurity::None);
        const auto error = ConnectError(client, false);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(*error, "550 SSL/TLS required on the control channel.");
        EXPECT_EQ(server.CountCommands("USER"), 1);
        EXPECT_EQ(server.CountCommands("PASS"), 0) << "the password never crosses in clear";
    }
    {
        // TLS asked of a plain server: it does not agree, nothing more is sent.
        FtpTestServer server;
        FtpClient client;
        Configure(client, server, FtpSecurity::Tls);
        client.SetCaFile(certificate.Authority().string());
        const auto error = ConnectError(client, true);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->rfind("Le serveur FTP refuse le chiffrement TLS : 5", 0), 0u) << *error;
        EXPECT_EQ(server.CountCommands("USER"), 0);
        EXPECT_EQ(server.CountCommands("PASS"), 0);
    }
    {
        FtpTestServer server(FtpServerOptions{.tlsCertificate = certificate.ServerPem()});
        FtpClient client;
        Configure(client, server, FtpSecurity::Tls);
        client.SetCaFile("/nonexistent/ca.pem");
        const auto error = ConnectError(client, false);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(*error,
                  "Certificat d'autorité « CertificatAC » introuvable : /nonexistent/ca.pem");
        EXPECT_TRUE(server.Commands().empty());
    }
}

TEST(Sftp, HostKeyFingerprintOpensOneSessionOnTheLoginFolder) {
    SftpTestServer server;
    const std::string text = "ligne 1\r\nligne 2\n";
    server.PutFile("remise_achat.xml", text);
    server.PutFile("vide.xml", "");
    FtpClient client;
    Configure(client, server, FtpSecurity::Sftp);
    client.SetHostKey(server.Fingerprint());
    ASSERT_EQ(ConnectError(client, false), std::nullopt);
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.Size("remise_achat.xml"), static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(client.Size("vide.xml"), 0);
    EXPECT_EQ(client.Size("absent.xml"), -1);
    TempDir local;
    // No ASCII mode over SFTP: the bytes arrive as they are.
    client.SetTransferType(FtpTransferType::Ascii);
    client.Get("remise_achat.xml", local.Path() / "remise_achat.xml", true, false,
               static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(ReadFile(local.Path() / "remise_achat.xml"), text);
    client.Get("vide.xml", local.Path() / "vide.xml", true, false, 0);
    EXPECT_TRUE(std::filesystem::exists(local.Path() / "vide.xml"));
    EXPECT_THROW(client.Get("absent.xml", local.Path() / "absent.xml", true, false), FtpError);
    EXPECT_FALSE(std::filesystem::exists(local.Path() / "absent.xml"));
    // Neither the absent file nor the empty one cost the session.
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.ListNames().size(), 2u);
    client.Disconnect();
    EXPECT_EQ(server.PasswordAttempts(), 1) << "one login for the whole session";
}

TEST(Sftp, ServerGivingNoSizeLeavesTheDownloadUnchecked) {
    SftpTestServer server(SftpTestServer::Behaviour::NoSizes);
    server.PutFile("remise_achat.xml", "ligne\n");
    FtpClient client;
    Configure(client, server, FtpSecurity::Sftp);
    client.SetHostKey(server.Fingerprint());
    ASSERT_EQ(ConnectError(client, false), std::nullopt);
    EXPECT_EQ(client.Presence("remise_achat.xml"), std::optional<std::int64_t>(-1));
    EXPECT_EQ(client.Presence("absent.xml"), std::nullopt);
    const TempDir local;
    client.Get("remise_achat.xml", local.Path() / "r.xml", true, false,
               client.Presence("remise_achat.xml").value_or(-1));
    EXPECT_FALSE(client.SizeChecked());
    EXPECT_EQ(ReadFile(local.Path() / "r.xml"), "ligne\n");
}

TEST(Sftp, SilentServerIsGivenUpAtTheResponseLimit) {
    {
        // Silent from the subsystem's start: the channel's opening is bounded too.
        SftpTestServer server(SftpTestServer::Behaviour::SilentSubsystem);
        FtpClient client;
        Configure(client, server, FtpSecurity::Sftp);
        client.SetHostKey(server.Fingerprint());
        client.SetConnectTimeout(1500ms);
        client.SetResponseTimeout(1500ms);
        const auto start = std::chrono::steady_clock::now();
        try {
            client.Connect();
            FAIL() << "a subsystem that never answers was opened";
        } catch (const FtpError& error) {
            EXPECT_TRUE(error.Transient()) << error.what();
            EXPECT_NE(std::string(error.what()).find("ne répond plus depuis 1500 ms"),
                      std::string::npos)
                << error.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    }
    SftpTestServer server(SftpTestServer::Behaviour::SilentAfterLogin);
    FtpClient client;
    Configure(client, server, FtpSecurity::Sftp);
    client.SetHostKey(server.Fingerprint());
    client.SetResponseTimeout(1500ms);
    ASSERT_EQ(ConnectError(client, false), std::nullopt);
    const auto start = std::chrono::steady_clock::now();
    try {
        client.Size("remise_achat.xml");
        FAIL() << "a server that never answers gave a size";
    } catch (const FtpError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Liste des fichiers : Le serveur SFTP ne répond plus depuis 1500 ms");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(Sftp, UnknownChangedOrMistypedHostKeysAreRefusedBeforeThePassword) {
    SftpTestServer server;
    SftpTestServer other;  // gives a host key that is not the server's
    std::string otherKeyForServer = other.KnownHostsLine();
    otherKeyForServer.replace(0, otherKeyForServer.find(' '),
                              "[127.0.0.1]:" + std::to_string(server.Port()));
    std::string wrongFingerprint = other.Fingerprint();

    struct Case {
        const char* name;
        std::string hostKey;     // CleHote; empty: known_hosts
        std::string knownHosts;  // what $HOME/.ssh/known_hosts holds
        bool securityError;
        std::string says;
    };
    const Case cases[] = {
        {"wrong fingerprint", wrongFingerprint, server.KnownHostsLine(), true,
         "La clé d'hôte SSH du serveur ne correspond pas à « CleHote »"},
        {"key unknown to known_hosts", "", "", true, "Clé d'hôte SSH du serveur inconnue"},
        {"key changed since known_hosts", "", otherKeyForServer, true,
         "La clé d'hôte SSH du serveur a changé"},
        {"fingerprint not in ssh-keygen's form", "MD5:12:34", "", false,
         "Empreinte de clé d'hôte « CleHote » non valide"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedHome home(c.knownHosts);
        FtpClient client;
        Configure(client, server, FtpSecurity::Sftp);
        client.SetHostKey(c.hostKey);
        const auto error = ConnectError(client, c.securityError);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->rfind(c.says, 0), 0u) << *error;
        EXPECT_FALSE(client.Connected());
        EXPECT_EQ(server.PasswordAttempts(), 0);
        EXPECT_EQ(ReadFile(home.KnownHosts()), c.knownHosts) << "known_hosts is never written";
    }

    // The same server, known to known_hosts: it alone decides when no fingerprint is given.
    ScopedHome home(server.KnownHostsLine() + "\n");
    FtpClient client;
    Configure(client, server, FtpSecurity::Sftp);
    ASSERT_EQ(ConnectError(client, false), std::nullopt);
    EXPECT_EQ(server.PasswordAttempts(), 1);
}

// OpenSSH's own server, with one host key type at a time: each is reached, pinned by the
// fingerprint ssh-keygen prints or known to known_hosts, and each refusal says which key the
// server showed, in the form CleHote takes, before any password is sent.
TEST(OpenSsh, EveryHostKeyTypeIsReachedAndEachRefusalShowsTheServersFingerprint) {
    if (!OpenSshTestServer::Available()) {
        GTEST_SKIP() << "/usr/sbin/sshd is not installed (openssh-server)";
    }
    const std::vector<std::string> types = {"rsa", "ed25519", "ecdsa"};
    for (const auto& type : types) {
        SCOPED_TRACE(type);
        OpenSshTestServer server({type});
        OpenSshTestServer stranger({type, type == "rsa" ? "ed25519" : "rsa"});
        const std::string fingerprint = server.Fingerprint(type);
        ASSERT_EQ(fingerprint.rfind("SHA256:", 0), 0u) << fingerprint;
        server.PutFile("remise_achat.xml", "ligne 1\r\nligne 2\n");
        const auto forServer = [&](const std::string& line) {
            return "[127.0.0.1]:" + std::to_string(server.Port()) + line.substr(line.find(' '));
        };
        const std::string otherType = type == "rsa" ? "ed25519" : "rsa";

        struct Case {
            const char* name;
            std::string hostKey;
            std::string knownHosts;
            std::string says;  // empty: connects
        };
        const Case cases[] = {
            {"pinned", fingerprint, "", ""},
            {"known", "", server.KnownHostsLine(type) + "\n", ""},
            {"wrong pin", stranger.Fingerprint(type), "",
             "La clé d'hôte SSH du serveur ne correspond pas à « CleHote »"},
            {"unknown", "", "", "Clé d'hôte SSH du serveur inconnue : elle ne figure pas dans "},
            {"changed", "", forServer(stranger.KnownHostsLine(type)) + "\n",
             "La clé d'hôte SSH du serveur a changé"},
            {"known under another type", "", forServer(stranger.KnownHostsLine(otherType)) + "\n",
             "Clé d'hôte SSH du serveur inconnue : "},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const int attemptsBefore = server.PasswordAttempts();
            ScopedHome home(c.knownHosts);
            FtpClient client;
            Configure(client, server, FtpSecurity::Sftp);
            client.SetHostKey(c.hostKey);
            const auto error = ConnectError(client, !c.says.empty());
            if (c.says.empty()) {
                ASSERT_EQ(error, std::nullopt);
                TempDir local;
                client.Get("remise_achat.xml", local.Path() / "r.xml", true, false, 17);
                EXPECT_EQ(ReadFile(local.Path() / "r.xml"), "ligne 1\r\nligne 2\n");
                EXPECT_EQ(client.ListNames(), std::vector<std::string>{"remise_achat.xml"});
                EXPECT_EQ(client.Size("absent.xml"), -1);
                client.Disconnect();
                continue;
            }
            ASSERT_TRUE(error.has_value());
            EXPECT_EQ(error->rfind(c.says, 0), 0u) << *error;
            // The server's key, exactly as CleHote takes it, ends the French text.
            EXPECT_NE(error->find(" du serveur : " + fingerprint + " ("), std::string::npos)
                << *error;
            EXPECT_EQ(error->back(), ')') << *error;
            EXPECT_EQ(server.PasswordAttempts(), attemptsBefore) << "no password was sent";
        }
    }

    // A server with every type, pinned to the key it does not show first.
    OpenSshTestServer every(types);
    FtpClient client;
    Configure(client, every, FtpSecurity::Sftp);
    client.SetHostKey(every.Fingerprint("rsa") + "=");
    EXPECT_EQ(ConnectError(client, false), std::nullopt);
    EXPECT_EQ(every.PasswordAttempts(), 1);
}

// vsftpd requiring TLS and, for each data connection, the control connection's TLS session.
TEST(Vsftpd, DataConnectionsReuseTheControlSessionsTls) {
    if (!VsftpdTestServer::Available()) {
        GTEST_SKIP() << "/usr/sbin/vsftpd is not installed";
    }
    TestCertificate certificate("IP:127.0.0.1");
    VsftpdTestServer server(certificate.ServerPem());
    server.PutFile("message.xml", "ligne 1\r\nligne 2\r\n");
    FtpClient client;
    Configure(client, server, FtpSecurity::Tls);
    client.SetCaFile(certificate.Authority().string());
    ASSERT_EQ(ConnectError(client, false), std::nullopt);
    EXPECT_EQ(client.Size("message.xml"), 18);
    TempDir local;
    for (const auto type : {FtpTransferType::Ascii, FtpTransferType::Binary}) {
        client.SetTransferType(type);
        client.Get("message.xml", local.Path() / "message.xml", true, false, 18);
        EXPECT_EQ(ReadFile(local.Path() / "message.xml"),
                  type == FtpTransferType::Ascii ? "ligne 1\nligne 2\n" : "ligne 1\r\nligne 2\r\n");
    }
    EXPECT_EQ(client.ListNames(), std::vector<std::string>{"message.xml"});
    EXPECT_TRUE(client.Connected());
    client.Disconnect();

    // Plain FTP meets the server's refusal before the password.
    FtpClient plain;
    Configure(plain, server, FtpSecurity::None);
    const auto error = ConnectError(plain, false);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->rfind("530 ", 0), 0u) << *error;
}

}  // namespace
}  // namespace quorvane::testing
