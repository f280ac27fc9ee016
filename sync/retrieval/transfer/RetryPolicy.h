#pragma once

// When the retrieval tries an operation again, for FTP, FTPS and SFTP alike: which failures may
// go away by themselves, how long to wait before the next attempt, how many attempts, and when
// a transfer that still moves counts as stalled. The sessions say what went wrong; this unit
// alone decides what follows from it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace quorvane {

// What went wrong, as the transfers see it.
enum class FailureCause {
    // May go away by itself.
    ConnectionRefused,
    ConnectionLost,  // reset, or closed by the server or the network
    TimedOut,
    LookupFailedForNow,  // the name server did not answer
    ServerBusy,          // a 4xx reply: 421, 425, 426, 450, 451, 452 ...
    Stalled,
    HandshakeCut,  // TLS or SSH negotiation cut off
    ProxyUnreachable,
    // Stays until someone changes something.
    LoginRefused,
    ServerNotTrusted,  // certificate or host key refused
    NoSuchName,
    SettingRefused,
    ProxyRefused,
    FileAbsent,
    LocalFailure,  // the store's side: download folder, disk
    Other,
};

bool IsTransient(FailureCause cause);

// From curl's result code and the server's last reply code (0 when none).
FailureCause CauseOfCurl(int curlCode, int replyCode);

// A proxy's refusal of a tunnel: its HTTP status to CONNECT, its SOCKS5 reply code, or curl's
// proxy code. A password or a rule of the proxy's stays refused; a server the proxy could not
// reach, or a proxy that cut the exchange, may be back soon.
FailureCause CauseOfTunnelStatus(int httpStatus);
FailureCause CauseOfSocksReply(int socksCode);
FailureCause CauseOfCurlProxy(int curlProxyCode);

// Whether a host name that did not resolve is unknown or its look-up failed for the moment,
// asked again of the resolver.
FailureCause CauseOfLookup(const std::string& host);

// The numeric code at the start of an FTP reply, 0 when there is none.
int ReplyCode(const std::string& reply);

// The figures of the retry rule.
struct RetryRule {
    static constexpr int kDefaultTentatives = 4;
    static constexpr int kMaxTentatives = 10;
    std::chrono::milliseconds FirstWait{5000};
    int Growth = 3;
    double Spread = 0.2;  // each wait drawn within ± this share
    std::chrono::milliseconds MaxWait{120000};

    // "Tentatives" as the settings hold it, brought within 1..10.
    static int Bounded(long tentatives);
    // The wait after the failedAttempt-th failure (1 for the first), given draw in [0, 1).
    std::chrono::milliseconds WaitAfter(int failedAttempt, double draw) const;
};

// One failed attempt that will be tried again.
struct RetryNotice {
    int Attempt = 0;  // the attempt that failed, from 1
    int Tentatives = 0;
    std::string Cause;
    std::chrono::milliseconds Wait{0};
};

// The journal's words for a failed attempt that will be tried again: "<operation>, tentative 1
// sur 4 échouée : <cause> ; nouvel essai dans 5 s".
std::string RetryLine(const std::string& operation, const RetryNotice& notice);

// Runs operations within a number of attempts. The random source (uniform in [0, 1)) and the
// wait are injected: the run waits while its window repaints, tests wait for nothing.
class RetryPolicy {
  public:
    using Random = std::function<double()>;
    using Sleep = std::function<void(std::chrono::milliseconds)>;
    using Told = std::function<void(const RetryNotice&)>;

    RetryPolicy(int tentatives, Random random, Sleep sleep, RetryRule rule = {});
    // Once, for someone waiting for the answer: no retry, no wait.
    static RetryPolicy Once();

    int Tentatives() const { return tentatives_; }

    // Calls attempt(n) for n = 1, 2 ... until it returns. A failure (FtpError) that is lasting,
    // or that of the last attempt, goes on to the caller; before each wait, told hears of the
    // failure that will be tried again.
    void Run(const std::function<void(int attempt)>& attempt, const Told& told) const;

  private:
    int tentatives_;
    Random random_;
    Sleep sleep_;
    RetryRule rule_;
};

// Random draws for the waits from a generator seeded by the system, so that stores that
// failed together do not come back together.
RetryPolicy::Random SystemRandom();

// A transfer that moves more slowly than a floor rate for a whole window is as good as
// stalled: at that pace a head-office file would still be arriving in the morning.
struct FloorRate {
    std::int64_t BytesPerSecond = 4096;
    std::chrono::milliseconds Window{60000};
};

// What a store reads when a transfer fell below the floor.
std::string TooSlowText(const FloorRate& rate);

// Told the bytes received as they come in; says when the transfer fell below the floor for a
// whole window. The clock is the caller's.
class PaceWatch {
  public:
    using Clock = std::chrono::steady_clock;
    explicit PaceWatch(FloorRate rate, Clock::time_point start);
    bool Stalled(Clock::time_point now, std::int64_t received);
    const FloorRate& Rate() const { return rate_; }

  private:
    FloorRate rate_;
    Clock::time_point windowStart_;
    std::int64_t receivedAtStart_ = 0;
};

}  // namespace quorvane
