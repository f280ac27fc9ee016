// tinyproxy (HTTP CONNECT, with a password) and dante (SOCKS5) as the only way from a network
// namespace of the test's own to FTP, FTPS and SFTP servers on the machine's loopback: the
// client works in a thread that joined the namespace, whose one link leads to the proxies.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <exception>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "support/FtpServers.h"
#include "support/TestFiles.h"
#include "support/TestNetwork.h"
#include "sync/retrieval/ConnectionTest.h"
#include "sync/retrieval/FtpClient.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

int FreePort(const std::string& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    socklen_t size = sizeof where;
    ::bind(fd, reinterpret_cast<sockaddr*>(&where), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size);
    ::close(fd);
    return ntohs(where.sin_port);
}

bool Accepts(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    ::close(fd);
    return ok;
}

// A proxy daemon in the foreground on address:port, from a configuration of the test's own.
class Proxy {
  public:
    Proxy(
        const std::string& address,
        const std::function<std::vector<std::string>(const std::filesystem::path&, int)>& command) {
        for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
            const int port = FreePort(address);
            process_.Spawn(command(work_.Path(), port), work_.Path() / "proxy.log");
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (std::chrono::steady_clock::now() < deadline && process_.Running()) {
                if (Accepts(address, port)) {
                    port_ = port;
                    break;
                }
                std::this_thread::sleep_for(20ms);
            }
            if (port_ == 0) {
                process_.Stop();
            }
        }
        if (port_ == 0) {
            throw std::runtime_error("the proxy never listened:\n" +
                                     ReadFile(work_.Path() / "proxy.log"));
        }
    }
    int Port() const { return port_; }

  private:
    TempDir work_;
    ServerProcess process_;
    int port_ = 0;
};

// Passive data connections of an FTP server: ten ports from a free one on.
struct PassiveRange {
    int First = FreePort("127.0.0.1");
    std::string Text() const { return std::to_string(First) + "-" + std::to_string(First + 9); }
    std::string ConnectPorts() const {
        std::string lines;
        for (int port = First; port <= First + 9; ++port) {
            lines += "ConnectPort " + std::to_string(port) + "\n";
        }
        return lines;
    }
};

class Proxies : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/tinyproxy") ||
            !std::filesystem::exists("/usr/sbin/danted")) {
            GTEST_SKIP() << "needs root, tinyproxy and dante";
        }
        network_.emplace();
        ASSERT_TRUE(network_->Ok()) << "cannot make a network namespace";
        const std::string outside = network_->Outside();
        const PassiveRange ftpData;
        const PassiveRange ftpsData;
        ftp_.emplace(FtpServerOptions{.passivePorts = ftpData.Text()});
        ftps_.emplace(FtpServerOptions{.tlsCertificate = certificate_.ServerPem(),
                                       .passivePorts = ftpsData.Text()});
        for (auto* server : {&*ftp_, &*ftps_}) {
            server->PutFile("remise_achat.xml", kContent);
        }
        sftp_.PutFile("remise_achat.xml", kContent);
        // Only the servers' ports are open through the tunnels, data connections' included.
        std::string connectPorts = ftpData.ConnectPorts() + ftpsData.ConnectPorts();
        for (const int port : {ftp_->Port(), ftps_->Port(), sftp_.Port()}) {
            connectPorts += "ConnectPort " + std::to_string(port) + "\n";
        }
        http_.emplace(outside, [&](const std::filesystem::path& work, int port) {
            std::ofstream(work / "tinyproxy.conf")
                << "User nobody\nGroup nogroup\nPort " << port << "\nListen " << outside
                << "\nTimeout 60\nAllow " << outside.substr(0, outside.size() - 1) << "0/30\n"
                << "BasicAuth magasin gasin9\n"
                << connectPorts;
            return std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c",
                                            (work / "tinyproxy.conf").string()};
        });
        socks_.emplace(outside, [&](const std::filesystem::path& work, int port) {
            std::ofstream(work / "danted.conf")
                << "logoutput: stderr\ninternal: " << outside << " port = " << port
                << "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n"
                << "user.privileged: root\nuser.unprivileged: nobody\n"
                << "client pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n"
                << "socks pass { from: 0.0.0.0/0 to: 127.0.0.1/32 }\n";
            return std::vector<std::string>{"/usr/sbin/danted", "-f",
                                            (work / "danted.conf").string()};
        });
    }
    void TearDown() override {
        for (const char* name : {"ftp_proxy", "all_proxy", "no_proxy"}) {
            ::unsetenv(name);
        }
    }

    std::string HttpProxy(const std::string& password = "gasin9") const {
        return "http://magasin:" + password + "@" + network_->Outside() + ":" +
               std::to_string(http_->Port());
    }
    std::string SocksProxy() const {
        return "socks5h://" + network_->Outside() + ":" + std::to_string(socks_->Port());
    }

    // Connects from inside the namespace with the "Proxy" value given, fetches the file
    // and gives the route; throws what the client threw.
    ConnectionRoute Fetch(FtpSecurity security, const std::string& proxy) const {
        ConnectionRoute route;
        network_->Inside([&] {
            FtpClient client;
            client.SetHost("127.0.0.1");
            client.SetConnectTimeout(10s);
            client.SetResponseTimeout(20s);
            client.SetSecurity(security);
            client.SetProxy(proxy);
            if (security == FtpSecurity::Sftp) {
                client.SetUsername(sftp_.User());
                client.SetPassword(sftp_.Password());
                client.SetPort(sftp_.Port());
                client.SetHostKey(sftp_.Fingerprint());
            } else {
                const FtpTestServer& server = security == FtpSecurity::Tls ? *ftps_ : *ftp_;
                client.SetUsername(server.User());
                client.SetPassword(server.Password());
                client.SetPort(server.Port());
                client.SetCaFile(certificate_.Authority().string());
            }
            client.Connect();
            TempDir local;
            client.SetTransferType(FtpTransferType::Ascii);
            client.Get("remise_achat.xml", local.Path() / "r.xml", true, false,
                       client.Size("remise_achat.xml"));
            EXPECT_EQ(ReadFile(local.Path() / "r.xml"), security == FtpSecurity::Sftp
                                                            ? kContent
                                                            : "<RemisesAchat>\n</RemisesAchat>\n");
            route = client.Route();
        });
        return route;
    }

    static constexpr const char* kContent = "<RemisesAchat>\r\n</RemisesAchat>\r\n";
    TestCertificate certificate_{"IP:127.0.0.1"};
    std::optional<TestNetwork> network_;
    std::optional<FtpTestServer> ftp_;
    std::optional<FtpTestServer> ftps_;
    SftpTestServer sftp_;
    std::optional<Proxy> http_;
    std::optional<Proxy> socks_;
};

TEST_F(Proxies, EveryProtocolGoesThroughEitherProxyAndOnlyThere) {
    for (const auto security : {FtpSecurity::None, FtpSecurity::Tls, FtpSecurity::Sftp}) {
        SCOPED_TRACE(static_cast<int>(security));
        for (const std::string& proxy : {HttpProxy(), SocksProxy()}) {
            const ConnectionRoute route = Fetch(security, proxy);
            EXPECT_EQ(route.Address, network_->Outside());
            EXPECT_FALSE(route.Ipv6);
            // The password is never shown.
            EXPECT_EQ(route.Proxy.find("gasin"), std::string::npos) << route.Proxy;
            EXPECT_EQ(route.Proxy.substr(0, 4), proxy.substr(0, 4));
        }
        // Without the proxy there is no way: the namespace has none of its own.
        EXPECT_THROW(Fetch(security, "aucun"), FtpError);
    }
}

TEST_F(Proxies, RefusalNamesTheProxy) {
    for (const auto security : {FtpSecurity::None, FtpSecurity::Sftp}) {
        try {
            Fetch(security, HttpProxy("faux"));
            ADD_FAILURE() << "a wrong proxy password connected";
        } catch (const FtpError& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find("Proxy http://" + network_->Outside()), std::string::npos) << text;
            // tinyproxy answers a wrong password with 401 where others say 407.
            EXPECT_NE(text.find(" 401"), std::string::npos) << text;
            EXPECT_EQ(text.find("faux"), std::string::npos) << text;
        }
    }
}

TEST_F(Proxies, EnvironmentProxyIsFollowedUnlessTheSettingSaysAucun) {
    ::setenv("all_proxy", SocksProxy().c_str(), 1);
    for (const auto security : {FtpSecurity::None, FtpSecurity::Sftp}) {
        EXPECT_EQ(Fetch(security, "").Proxy, SocksProxy());
        EXPECT_THROW(Fetch(security, "AUCUN"), FtpError);
    }
    // The connection test names the proxy it went through.
    network_->Inside([&] {
        FtpClient client;
        const auto result = TesterConnexionFtp(
            client, {"127.0.0.1", ftp_->User(), ftp_->Password(), ftp_->Port(), {}});
        EXPECT_EQ(result.Route, "Serveur joint par le proxy " + SocksProxy() + " (adresse " +
                                    network_->Outside() + ", IPv4)");
    });
    // An exempt server is reached directly, which from here means not at all.
    ::setenv("no_proxy", "127.0.0.0/8", 1);
    EXPECT_THROW(Fetch(FtpSecurity::Sftp, ""), FtpError);
}

}  // namespace
}  // namespace quorvane::testing
