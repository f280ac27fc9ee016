#include "sync/retrieval/transfer/TcpConnect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "sync/retrieval/FtpClient.h"
#include "sync/retrieval/transfer/ProxyChoice.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kNextAttempt{250};

struct AddrInfoFree {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

// The addresses, families taking turns, the resolver's first family first.
std::vector<const addrinfo*> Interleaved(const addrinfo* list) {
    std::vector<const addrinfo*> first;
    std::vector<const addrinfo*> other;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        (a->ai_family == list->ai_family ? first : other).push_back(a);
    }
    std::vector<const addrinfo*> order;
    for (size_t i = 0; i < std::max(first.size(), other.size()); ++i) {
        if (i < first.size()) {
            order.push_back(first[i]);
        }
        if (i < other.size()) {
            order.push_back(other[i]);
        }
    }
    return order;
}

TcpPeer PeerOf(const addrinfo* address) {
    std::array<char, NI_MAXHOST> text{};
    TcpPeer peer;
    if (getnameinfo(address->ai_addr, address->ai_addrlen, text.data(), text.size(), nullptr, 0,
                    NI_NUMERICHOST) == 0) {
        peer.Address = text.data();
    }
    peer.Ipv6 = address->ai_family == AF_INET6;
    return peer;
}

struct Attempt {
    UniqueFd fd;
    const addrinfo* address;
};

}  // namespace

const char* FamilyName(const TcpPeer& peer) {
    return peer.Ipv6 ? "IPv6" : "IPv4";
}

UniqueFd ConnectTcp(const std::string& host, int port, std::chrono::milliseconds timeout,
                    TcpPeer& peer) {
    const std::string name = BareHost(host);
    const std::string where = (name.find(':') != std::string::npos ? "[" + name + "]" : name) +
                              ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* raw = nullptr;
    const int looked = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &raw);
    const std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    if (looked == EAI_NONAME || looked == EAI_NODATA) {
        throw FtpError("Nom d'hôte inconnu : " + name, FailureCause::NoSuchName);
    }
    if (looked != 0 || !list) {
        // Only a name the resolver says does not exist is lasting: a resolver that failed,
        // whatever its reason, may answer the next time.
        throw FtpError(
            "Recherche du nom " + name + " momentanément impossible" +
                (looked != 0 && looked != EAI_AGAIN ? std::string(" : ") + gai_strerror(looked)
                                                    : std::string()),
            FailureCause::LookupFailedForNow);
    }
    const auto order = Interleaved(list.get());
    const auto start = Clock::now();
    const auto deadline = timeout.count() > 0 ? start + timeout : Clock::time_point::max();
    std::vector<Attempt> pending;
    size_t next = 0;
    auto nextStart = start;
    int lastError = ECONNREFUSED;
    for (;;) {
        auto now = Clock::now();
        if (next < order.size() && (now >= nextStart || pending.empty())) {
            const addrinfo* address = order[next++];
            UniqueFd fd(::socket(address->ai_family,
                                 address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                 address->ai_protocol));
            if (!fd.Valid()) {
                lastError = errno;
            } else if (::connect(fd.Get(), address->ai_addr, address->ai_addrlen) == 0) {
                pending.clear();
                pending.push_back({std::move(fd), address});
                break;
            } else if (errno == EINPROGRESS) {
                pending.push_back({std::move(fd), address});
            } else {
                lastError = errno;
            }
            nextStart = now + kNextAttempt;
            continue;
        }
        if (pending.empty()) {
            // Refused, reset or unreachable: the server may be restarting or the line coming back.
            throw FtpError("Connexion à " + where + " impossible : " + std::strerror(lastError),
                           FailureCause::ConnectionRefused);
        }
        if (now >= deadline) {
            throw FtpError("Le serveur " + where + " ne répond pas depuis " +
                               std::to_string(timeout.count()) + " ms",
                           FailureCause::TimedOut);
        }
        auto until = deadline;
        if (next < order.size()) {
            until = std::min(until, nextStart);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        std::vector<pollfd> watch;
        for (const auto& attempt : pending) {
            watch.push_back({attempt.fd.Get(), POLLOUT, 0});
        }
        const int ready =
            ::poll(watch.data(), watch.size(), static_cast<int>(std::clamp<long>(wait, 0, 60000)));
        if (ready < 0 && errno != EINTR) {
            throw FtpError("Connexion à " + where + " impossible : " + std::strerror(errno));
        }
        bool won = false;
        for (size_t i = watch.size(); i-- > 0;) {
            if (watch[i].revents == 0) {
                continue;
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(watch[i].fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                error = errno;
            }
            if (error == 0) {
                Attempt winner = std::move(pending[i]);
                pending.clear();
                pending.push_back(std::move(winner));
                won = true;
                break;
            }
            lastError = error;
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
            // A refusal is an answer: the next address need not wait its turn.
            nextStart = Clock::now();
        }
        if (won) {
            break;
        }
    }
    Attempt& winner = pending.front();
    const int flags = ::fcntl(winner.fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(winner.fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throw FtpError("Connexion à " + where + " impossible : " + std::strerror(errno));
    }
    peer = PeerOf(winner.address);
    KeepAlive(winner.fd.Get());
    return std::move(winner.fd);
}

void KeepAlive(int fd) {
    const int on = 1;
    const int idle = 5;
    const int interval = 3;
    const int count = 3;
    (void)::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

}  // namespace quorvane
