#include "sync/retrieval/transfer/RetryPolicy.h"

#include <curl/curl.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>
#include <random>

#include "sync/retrieval/FtpClient.h"

namespace quorvane {

bool IsTransient(FailureCause cause) {
    switch (cause) {
        case FailureCause::ConnectionRefused:
        case FailureCause::ConnectionLost:
        case FailureCause::TimedOut:
        case FailureCause::LookupFailedForNow:
        case FailureCause::ServerBusy:
        case FailureCause::Stalled:
        case FailureCause::HandshakeCut:
        case FailureCause::ProxyUnreachable:
            return true;
        case FailureCause::LoginRefused:
        case FailureCause::ServerNotTrusted:
        case FailureCause::NoSuchName:
        case FailureCause::SettingRefused:
        case FailureCause::ProxyRefused:
        case FailureCause::FileAbsent:
        case FailureCause::LocalFailure:
        case FailureCause::Other:
            return false;
    }
    return false;
}

int ReplyCode(const std::string& reply) {
    if (reply.size() < 3 || !std::isdigit(static_cast<unsigned char>(reply[0])) ||
        !std::isdigit(static_cast<unsigned char>(reply[1])) ||
        !std::isdigit(static_cast<unsigned char>(reply[2]))) {
        return 0;
    }
    return (reply[0] - '0') * 100 + (reply[1] - '0') * 10 + (reply[2] - '0');
}

FailureCause CauseOfCurl(int curlCode, int replyCode) {
    // The server said it cannot serve now (too many users, data connection failed, file
    // busy, no space): whatever curl made of it, that is a moment's refusal.
    if (replyCode >= 400 && replyCode < 500) {
        return FailureCause::ServerBusy;
    }
    if (replyCode == 530) {
        return FailureCause::LoginRefused;
    }
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_FTP_CANT_GET_HOST:
            return FailureCause::ConnectionRefused;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_FTP_ACCEPT_TIMEOUT:
        case CURLE_AGAIN:
            return FailureCause::TimedOut;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
            return FailureCause::ConnectionLost;
        case CURLE_WEIRD_SERVER_REPLY:
            // No reply at all: the server hung up before it said anything.
            return replyCode == 0 ? FailureCause::ConnectionLost : FailureCause::Other;
        case CURLE_COULDNT_RESOLVE_HOST:
            return FailureCause::LookupFailedForNow;
        case CURLE_COULDNT_RESOLVE_PROXY:
            return FailureCause::ProxyUnreachable;
        case CURLE_SSL_CONNECT_ERROR:
            return FailureCause::HandshakeCut;
        case CURLE_ABORTED_BY_CALLBACK:
            return FailureCause::Stalled;
        case CURLE_LOGIN_DENIED:
            return FailureCause::LoginRefused;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
            return FailureCause::ServerNotTrusted;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_USE_SSL_FAILED:
            return FailureCause::SettingRefused;
        case CURLE_PROXY:
            return FailureCause::ProxyRefused;
        case CURLE_REMOTE_FILE_NOT_FOUND:
            return FailureCause::FileAbsent;
        case CURLE_WRITE_ERROR:
        case CURLE_OUT_OF_MEMORY:
            return FailureCause::LocalFailure;
        default:
            return FailureCause::Other;
    }
}

FailureCause CauseOfTunnelStatus(int httpStatus) {
    // 502, 503, 504: the proxy is there, the server behind it is not, for now.
    return httpStatus >= 500 && httpStatus < 600 ? FailureCause::ConnectionRefused
                                                 : FailureCause::ProxyRefused;
}

FailureCause CauseOfSocksReply(int socksCode) {
    // 2: the proxy's rules; 7, 8: a request it does not take. 1, 3 to 6: a server or network
    // it could not reach.
    return socksCode == 2 || socksCode == 7 || socksCode == 8 ? FailureCause::ProxyRefused
                                                              : FailureCause::ConnectionRefused;
}

FailureCause CauseOfCurlProxy(int curlProxyCode) {
    switch (static_cast<CURLproxycode>(curlProxyCode)) {
        case CURLPX_REPLY_GENERAL_SERVER_FAILURE:
        case CURLPX_REPLY_NETWORK_UNREACHABLE:
        case CURLPX_REPLY_HOST_UNREACHABLE:
        case CURLPX_REPLY_CONNECTION_REFUSED:
        case CURLPX_REPLY_TTL_EXPIRED:
            return FailureCause::ConnectionRefused;
        case CURLPX_CLOSED:
        case CURLPX_RECV_ADDRESS:
        case CURLPX_RECV_AUTH:
        case CURLPX_RECV_CONNECT:
        case CURLPX_RECV_REQACK:
        case CURLPX_SEND_AUTH:
        case CURLPX_SEND_CONNECT:
        case CURLPX_SEND_REQUEST:
            return FailureCause::ProxyUnreachable;
        default:
            return FailureCause::ProxyRefused;
    }
}

FailureCause CauseOfLookup(const std::string& host) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (found != nullptr) {
        ::freeaddrinfo(found);
    }
#ifdef EAI_NODATA
    if (result == EAI_NODATA) {
        return FailureCause::NoSuchName;
    }
#endif
    return result == EAI_NONAME ? FailureCause::NoSuchName : FailureCause::LookupFailedForNow;
}

int RetryRule::Bounded(long tentatives) {
    return static_cast<int>(std::clamp<long>(tentatives, 1, kMaxTentatives));
}

std::chrono::milliseconds RetryRule::WaitAfter(int failedAttempt, double draw) const {
    double wait = static_cast<double>(FirstWait.count());
    for (int n = 1; n < failedAttempt && wait < static_cast<double>(MaxWait.count()); ++n) {
        wait *= Growth;
    }
    wait *= 1.0 - Spread + 2.0 * Spread * std::clamp(draw, 0.0, 1.0);
    const auto drawn = static_cast<std::chrono::milliseconds::rep>(std::llround(wait));
    return std::min(std::chrono::milliseconds(drawn), MaxWait);
}

std::string RetryLine(const std::string& operation, const RetryNotice& notice) {
    const auto seconds =
        std::max<std::chrono::milliseconds::rep>(1, (notice.Wait.count() + 500) / 1000);
    return operation + ", tentative " + std::to_string(notice.Attempt) + " sur " +
           std::to_string(notice.Tentatives) + " échouée : " + notice.Cause +
           " ; nouvel essai dans " + std::to_string(seconds) + " s";
}

RetryPolicy::RetryPolicy(int tentatives, Random random, Sleep sleep, RetryRule rule)
    : tentatives_(RetryRule::Bounded(tentatives)),
      random_(std::move(random)),
      sleep_(std::move(sleep)),
      rule_(rule) {}

RetryPolicy RetryPolicy::Once() {
    return RetryPolicy(
        1, [] { return 0.0; }, [](std::chrono::milliseconds) {});
}

void RetryPolicy::Run(const std::function<void(int attempt)>& attempt, const Told& told) const {
    for (int n = 1;; ++n) {
        try {
            attempt(n);
            return;
        } catch (const FtpError& e) {
            if (n >= tentatives_ || !e.Transient()) {
                throw;
            }
            RetryNotice notice;
            notice.Attempt = n;
            notice.Tentatives = tentatives_;
            notice.Cause = e.what();
            notice.Wait = rule_.WaitAfter(n, random_ ? random_() : 0.5);
            if (told) {
                told(notice);
            }
            if (sleep_) {
                sleep_(notice.Wait);
            }
        }
    }
}

RetryPolicy::Random SystemRandom() {
    struct Source {
        std::mutex lock;
        std::mt19937_64 engine{std::random_device{}()};
        std::uniform_real_distribution<double> uniform{0.0, 1.0};
    };
    static Source source;
    return [] {
        const std::lock_guard<std::mutex> held(source.lock);
        return source.uniform(source.engine);
    };
}

std::string TooSlowText(const FloorRate& rate) {
    return "Transfert interrompu : moins de " + std::to_string(rate.BytesPerSecond) +
           " octets par seconde pendant " + std::to_string(rate.Window.count() / 1000) + " s";
}

PaceWatch::PaceWatch(FloorRate rate, Clock::time_point start) : rate_(rate), windowStart_(start) {}

bool PaceWatch::Stalled(Clock::time_point now, std::int64_t received) {
    if (rate_.BytesPerSecond <= 0 || rate_.Window.count() <= 0 ||
        now - windowStart_ < rate_.Window) {
        return false;
    }
    const std::int64_t moved = received - receivedAtStart_;
    const std::int64_t floor = rate_.BytesPerSecond * rate_.Window.count() / 1000;
    if (moved < floor) {
        return true;
    }
    windowStart_ = now;
    receivedAtStart_ = received;
    return false;
}

}  // namespace quorvane
