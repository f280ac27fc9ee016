#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sync/retrieval/FtpClient.h"
#include "sync/retrieval/transfer/RetryPolicy.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

TEST(RetryPolicy, ClassifiesFailuresAsTransientOrLasting) {
    struct Case {
        CURLcode code;
        int reply;
        bool transient;
    };
    const std::vector<Case> cases = {
        {CURLE_COULDNT_CONNECT, 0, true},
        {CURLE_OPERATION_TIMEDOUT, 0, true},
        {CURLE_RECV_ERROR, 0, true},
        {CURLE_SEND_ERROR, 0, true},
        {CURLE_PARTIAL_FILE, 226, true},
        {CURLE_COULDNT_RESOLVE_HOST, 0, true},
        {CURLE_COULDNT_RESOLVE_PROXY, 0, true},
        {CURLE_SSL_CONNECT_ERROR, 0, true},
        {CURLE_ABORTED_BY_CALLBACK, 0, true},
        {CURLE_WEIRD_SERVER_REPLY, 0, true},
        // 421 too many users, 425 no data connection, 426, 450, 451, 452: whatever curl
        // makes of them.
        {CURLE_WEIRD_SERVER_REPLY, 421, true},
        {CURLE_LOGIN_DENIED, 421, true},
        {CURLE_FTP_ACCEPT_FAILED, 425, true},
        {CURLE_PARTIAL_FILE, 426, true},
        {CURLE_REMOTE_FILE_NOT_FOUND, 450, true},
        {CURLE_FTP_COULDNT_RETR_FILE, 451, true},
        {CURLE_FTP_COULDNT_RETR_FILE, 452, true},
        {CURLE_LOGIN_DENIED, 530, false},
        {CURLE_LOGIN_DENIED, 0, false},
        {CURLE_PEER_FAILED_VERIFICATION, 0, false},
        {CURLE_SSL_CACERT_BADFILE, 0, false},
        {CURLE_USE_SSL_FAILED, 534, false},
        {CURLE_REMOTE_FILE_NOT_FOUND, 550, false},
        {CURLE_WRITE_ERROR, 0, false},
        {CURLE_URL_MALFORMAT, 0, false},
        {CURLE_WEIRD_SERVER_REPLY, 220, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsTransient(CauseOfCurl(c.code, c.reply)), c.transient)
            << curl_easy_strerror(c.code) << " / " << c.reply;
    }
    EXPECT_EQ(ReplyCode("421 Too many connections"), 421);
    EXPECT_EQ(ReplyCode("ab"), 0);
    EXPECT_EQ(CauseOfLookup("no-such-host.invalid"), FailureCause::NoSuchName);
    // A proxy's password or rule stays refused; a server it could not reach may come back.
    for (const int status : {401, 403, 407}) {
        EXPECT_FALSE(IsTransient(CauseOfTunnelStatus(status))) << status;
    }
    EXPECT_TRUE(IsTransient(CauseOfTunnelStatus(503)));
    EXPECT_FALSE(IsTransient(CauseOfSocksReply(2)));
    EXPECT_TRUE(IsTransient(CauseOfSocksReply(5)));
    EXPECT_FALSE(IsTransient(CauseOfCurlProxy(CURLPX_USER_REJECTED)));
    EXPECT_TRUE(IsTransient(CauseOfCurlProxy(CURLPX_REPLY_CONNECTION_REFUSED)));
    EXPECT_TRUE(IsTransient(CauseOfCurlProxy(CURLPX_CLOSED)));
    EXPECT_FALSE(FtpError("x").Transient());
    EXPECT_TRUE(FtpAuthError("x", FailureCause::HandshakeCut).Transient());
}

TEST(RetryPolicy, WaitsGrowThreefoldWithinTheSpreadAndTheCap) {
    const RetryRule rule;
    EXPECT_EQ(rule.WaitAfter(1, 0.5), 5000ms);
    EXPECT_EQ(rule.WaitAfter(1, 0.0), 4000ms);
    EXPECT_EQ(rule.WaitAfter(1, 0.999999), 6000ms);
    EXPECT_EQ(rule.WaitAfter(2, 0.5), 15000ms);
    EXPECT_EQ(rule.WaitAfter(3, 0.0), 36000ms);
    EXPECT_EQ(rule.WaitAfter(3, 0.999999), 54000ms);
    EXPECT_EQ(rule.WaitAfter(4, 0.0), 108000ms);
    EXPECT_EQ(rule.WaitAfter(4, 0.999999), 120000ms);
    EXPECT_EQ(rule.WaitAfter(60, 0.5), 120000ms);
    EXPECT_EQ(RetryRule::Bounded(0), 1);
    EXPECT_EQ(RetryRule::Bounded(-3), 1);
    EXPECT_EQ(RetryRule::Bounded(7), 7);
    EXPECT_EQ(RetryRule::Bounded(11), 10);
    // The system's draws spread over the whole range.
    const auto random = SystemRandom();
    double low = 1.0;
    double high = 0.0;
    for (int i = 0; i < 1000; ++i) {
        const double draw = random();
        ASSERT_GE(draw, 0.0);
        ASSERT_LT(draw, 1.0);
        low = std::min(low, draw);
        high = std::max(high, draw);
    }
    EXPECT_LT(low, 0.1);
    EXPECT_GT(high, 0.9);
}

struct Recorder {
    std::vector<milliseconds> slept;
    std::vector<RetryNotice> told;
    RetryPolicy Policy(int tentatives) {
        return RetryPolicy(
            tentatives, [] { return 0.5; }, [this](milliseconds wait) { slept.push_back(wait); });
    }
    RetryPolicy::Told Tell() {
        return [this](const RetryNotice& notice) { told.push_back(notice); };
    }
};

TEST(RetryPolicy, TriesTransientFailuresUpToTheAttemptsAndLastingOnesOnce) {
    Recorder recorder;
    int calls = 0;
    recorder.Policy(4).Run(
        [&calls](int attempt) {
            ++calls;
            EXPECT_EQ(attempt, calls);
            if (attempt < 3) {
                throw FtpError("421 Too many users", FailureCause::ServerBusy);
            }
        },
        recorder.Tell());
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(recorder.slept, (std::vector<milliseconds>{5000ms, 15000ms}));
    ASSERT_EQ(recorder.told.size(), 2U);
    EXPECT_EQ(recorder.told[1].Attempt, 2);
    EXPECT_EQ(recorder.told[1].Tentatives, 4);
    EXPECT_EQ(recorder.told[1].Cause, "421 Too many users");

    // How many attempts a failure that always comes back gets; it reaches the caller.
    const auto attemptsOf = [](const RetryPolicy& policy, FailureCause cause) {
        int attempts = 0;
        EXPECT_THROW(policy.Run(
                         [&attempts, cause](int) {
                             ++attempts;
                             throw FtpError("échec", cause);
                         },
                         nullptr),
                     FtpError);
        return attempts;
    };
    Recorder exhausted;
    EXPECT_EQ(attemptsOf(exhausted.Policy(2), FailureCause::ConnectionLost), 2);
    EXPECT_EQ(exhausted.slept.size(), 1U);
    Recorder lasting;
    EXPECT_EQ(attemptsOf(lasting.Policy(4), FailureCause::LoginRefused), 1);
    EXPECT_TRUE(lasting.slept.empty());
    EXPECT_EQ(attemptsOf(RetryPolicy::Once(), FailureCause::ConnectionRefused), 1);
}

TEST(RetryPolicy, APaceBelowTheFloorForAWholeWindowIsAStall) {
    const auto start = PaceWatch::Clock::time_point{};
    PaceWatch watch(FloorRate{1000, 10s}, start);
    EXPECT_FALSE(watch.Stalled(start + 9s, 0));
    // 10 000 bytes in the first window: at the floor, not below.
    EXPECT_FALSE(watch.Stalled(start + 10s, 10000));
    EXPECT_FALSE(watch.Stalled(start + 19s, 10001));
    EXPECT_TRUE(watch.Stalled(start + 20s, 19999));
    PaceWatch off(FloorRate{0, 10s}, start);
    EXPECT_FALSE(off.Stalled(start + 1h, 0));
}

}  // namespace
}  // namespace quorvane::testing
