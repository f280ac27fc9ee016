// A server whose line goes silent in the middle of a download, packets lost without a reset,
// as when a NAT forgets the connection: the client, in a network namespace of the test's own,
// finds it out from its keep-alive probes long before the minute of its time limits.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/FtpServers.h"
#include "support/TempDir.h"
#include "support/TestNetwork.h"
#include "sync/retrieval/FtpClient.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

TEST(SilentPeer, DownloadFromAServerGoneSilentFailsWithinSeconds) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root for a network namespace";
    }
    const TestNetwork network;
    ASSERT_TRUE(network.Ok()) << "cannot make a network namespace";
    // The server sends a little, then waits: nothing moves on either connection.
    FtpTestServer server(FtpServerOptions{.stallAfterBytes = 1000, .host = network.Outside()});
    server.PutFile("gros.xml", std::string(200000, 'x'));
    const TempDir local;
    std::chrono::steady_clock::duration took{};
    std::string failure;
    std::thread cut([&] {
        std::this_thread::sleep_for(1500ms);
        network.SetLinkUp(false);
    });
    network.Inside([&] {
        FtpClient client;
        client.SetHost(network.Outside());
        client.SetPort(server.Port());
        client.SetUsername(server.User());
        client.SetPassword(server.Password());
        client.SetProxy("aucun");
        client.SetLimits(FtpLimits{.Connect = 60s, .Response = 60s, .Stall = 60s, .Floor = {}});
        client.Connect();
        const auto start = std::chrono::steady_clock::now();
        try {
            client.Get("gros.xml", local.Path() / "gros.xml", false, false);
        } catch (const FtpError& error) {
            failure = error.what();
        }
        took = std::chrono::steady_clock::now() - start;
    });
    cut.join();
    network.SetLinkUp(true);
    EXPECT_FALSE(failure.empty());
    // Probes after 5 s of silence, three more 3 s apart: about 15 s, never the 60 s limits.
    EXPECT_LT(took, 40s) << failure;
    EXPECT_GT(took, 10s) << failure;
}

}  // namespace
}  // namespace quorvane::testing
