// The real program, several stores at once, against a head office's server that cannot take
// them all (vsftpd past its max_clients answers 421): each store gets its data within the
// waits between attempts. And a server that
// refuses every connection: the run ends within the sum of its waits.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "support/FtpServers.h"
#include "support/StoreFixture.h"

namespace quorvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A store's program folder running the real program, in FTP mode for the messages.
class Store {
  public:
    Store(int port, const std::string& user, const std::string& password, int tentatives) {
        const std::filesystem::path root = fixture_.Dir().Path();
        WriteFile(fixture_.StoreDir() + "/ombbde.ini",
                  "[Alias]\r\nOmbrelin=" + fixture_.StoreDir() + "\r\n");
        WriteFile(
            root / "QuorvaneClient.ini",
            "[Setup]\r\nDir=" + fixture_.StoreDir() +
                "\r\n[Quorvane]\r\nMessage=1\r\nTypeEnvoi=FTP\r\n[Quorvane_FTP]\r\nLogin=" + user +
                "\r\nMdp=" + password + "\r\nHost=127.0.0.1\r\nPort=" + std::to_string(port) +
                "\r\nTentatives=" + std::to_string(tentatives) + "\r\n");
        std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient",
                                   root / "QuorvaneClient");
        WriteViewerStandIn(root / "bin", root / "opened.txt");
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store() { Stop(); }

    void Start() {
        const std::string folder = fixture_.Dir().Folder();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("PATH", (folder + "bin:" + std::getenv("PATH")).c_str(), 1);
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::unsetenv("JOURNAL_STREAM");
            const std::string command =
                "cd '" + folder + "' && exec ./QuorvaneClient > out.txt 2> err.txt";
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    // The run has ended once its status file is there; the close countdown is not waited for.
    bool Ended() const {
        return std::filesystem::exists(fixture_.Dir().Path() / "QuorvaneClientStatus.json");
    }
    nlohmann::json Status() const {
        return nlohmann::json::parse(ReadFile(fixture_.Dir().Path() / "QuorvaneClientStatus.json"));
    }
    int RetriedAttempts() const {
        int count = 0;
        for (const auto& line : LogLines(fixture_.Dir().Path() / "err.txt")) {
            count += line.find(", tentative ") != std::string::npos ? 1 : 0;
        }
        return count;
    }
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    StoreFixture fixture_{StoreFixture::Tables::Demo};
    pid_t pid_ = -1;
};

// Waits for every store's run to end, at most the deadline; the time it took.
Clock::duration AwaitAll(const std::vector<std::unique_ptr<Store>>& stores, Clock::time_point start,
                         std::chrono::seconds deadline) {
    for (;;) {
        bool all = true;
        for (const auto& store : stores) {
            all = all && store->Ended();
        }
        if (all || Clock::now() - start > deadline) {
            return Clock::now() - start;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

int ConnectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot connect to the test server");
    }
    return fd;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

TEST(Crowd, StoresPastTheServersLimitAllGetTheirDataWithinTheWaits) {
    if (!VsftpdTestServer::Available()) {
        GTEST_SKIP() << "vsftpd is not installed";
    }
    // Six stores against two places: what two shared cores hold while showing the crowd.
    constexpr int kStores = 6;
    VsftpdTestServer server(VsftpdTestServer::Plain{2});
    for (const char* name : {"message.xml", "message_type.xml"}) {
        server.PutFile(name,
                       ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/" + name));
    }
    std::vector<std::unique_ptr<Store>> stores;
    for (int i = 0; i < kStores; ++i) {
        stores.push_back(
            std::make_unique<Store>(server.Port(), server.User(), server.Password(), 4));
    }
    // The server is full when the stores arrive, however the machine spreads their starts:
    // two early connections hold both places until every store has been turned away once.
    std::vector<int> early;
    for (int i = 0; i < 2; ++i) {
        early.push_back(ConnectTo(server.Port()));
    }
    const auto start = Clock::now();
    for (auto& store : stores) {
        store->Start();
    }
    while (Clock::now() - start < std::chrono::seconds(60)) {
        int turnedAway = 0;
        for (const auto& store : stores) {
            turnedAway += store->RetriedAttempts() > 0 ? 1 : 0;
        }
        if (turnedAway == kStores) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (const int fd : early) {
        ::close(fd);
    }
    // Four attempts wait at most 6 + 18 + 54 s; the rest is for a loaded machine.
    const auto took = AwaitAll(stores, start, std::chrono::seconds(150));
    int retried = 0;
    int retriedStores = 0;
    for (auto& store : stores) {
        ASSERT_TRUE(store->Ended());
        const auto status = store->Status();
        EXPECT_TRUE(status["categories"]["Message"]["downloaded"].get<bool>()) << status.dump();
        EXPECT_TRUE(status["categories"]["Message"]["integrated"].get<bool>()) << status.dump();
        retried += store->RetriedAttempts();
        retriedStores += store->RetriedAttempts() > 0 ? 1 : 0;
        store->Stop();
    }
    EXPECT_EQ(retriedStores, kStores);
    std::cout << kStores << " stores, max_clients=2: all integrated after " << Seconds(took)
              << " s; " << retriedStores << " stores retried, " << retried << " retried attempts\n";
}

TEST(Crowd, AServerRefusingEveryConnectionEndsTheRunWithinItsWaits) {
    // Nothing listens on a port bound and released at once.
    const int port = [] {
        FtpTestServer server;
        return server.Port();
    }();
    std::vector<std::unique_ptr<Store>> stores;
    stores.push_back(std::make_unique<Store>(port, "user", "secret", 3));
    const auto start = Clock::now();
    stores.front()->Start();
    const auto took = AwaitAll(stores, start, std::chrono::seconds(120));
    ASSERT_TRUE(stores.front()->Ended());
    // The waits after the first two attempts: at most 6 + 18 s.
    EXPECT_LT(took, std::chrono::seconds(24 + 30));
    EXPECT_EQ(stores.front()->RetriedAttempts(), 2);
    const auto status = stores.front()->Status();
    EXPECT_FALSE(status["categories"]["Message"]["downloaded"].get<bool>());
    std::cout << "refused every time, Tentatives=3: the run ended after " << Seconds(took)
              << " s\n";
}

}  // namespace
}  // namespace quorvane::testing
