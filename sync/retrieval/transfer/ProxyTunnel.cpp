#include "sync/retrieval/transfer/ProxyTunnel.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "sync/retrieval/FtpClient.h"
#include "sync/retrieval/transfer/RetryPolicy.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;

// One exchange with the proxy, every read and write bounded by the same deadline.
class Exchange {
  public:
    Exchange(int fd, std::string prefix, std::chrono::milliseconds timeout)
        : fd_(fd),
          prefix_(std::move(prefix)),
          timeout_(timeout),
          deadline_(timeout.count() > 0 ? Clock::now() + timeout : Clock::time_point::max()) {}

    // A refusal of the proxy's own (a password, a rule) stays; a proxy that went quiet or
    // cut the line, or a server it could not reach for now, may pass.
    [[noreturn]] void Fail(const std::string& why,
                           FailureCause cause = FailureCause::ProxyRefused) const {
        throw FtpError(prefix_ + why, cause);
    }

    void Send(std::string_view bytes) {
        while (!bytes.empty()) {
            Wait(POLLOUT);
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EINTR) {
                    continue;
                }
                Fail(std::string("connexion coupée : ") + std::strerror(errno),
                     FailureCause::ProxyUnreachable);
            }
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
    }

    // Exactly count bytes.
    std::string Receive(size_t count) {
        std::string bytes(count, '\0');
        size_t got = 0;
        while (got < count) {
            Wait(POLLIN);
            const ssize_t n = ::recv(fd_, bytes.data() + got, count - got, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                Fail(n == 0 ? std::string("connexion fermée par le proxy")
                            : std::string("connexion coupée : ") + std::strerror(errno),
                     FailureCause::ProxyUnreachable);
            }
            got += static_cast<size_t>(n);
        }
        return bytes;
    }

  private:
    void Wait(short events) const {
        for (;;) {
            const auto left = deadline_ - Clock::now();
            if (left <= Clock::duration::zero()) {
                Fail("pas de réponse depuis " + std::to_string(timeout_.count()) + " ms",
                     FailureCause::ProxyUnreachable);
            }
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            pollfd watch{fd_, events, 0};
            const int ready = ::poll(&watch, 1, static_cast<int>(std::min<long>(ms, 60000)));
            if (ready > 0) {
                return;
            }
            if (ready < 0 && errno != EINTR) {
                Fail(std::string("connexion coupée : ") + std::strerror(errno),
                     FailureCause::ProxyUnreachable);
            }
        }
    }

    int fd_;
    std::string prefix_;
    std::chrono::milliseconds timeout_;
    Clock::time_point deadline_;
};

std::string Base64(std::string_view bytes) {
    static constexpr std::string_view kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    const auto byte = [&bytes](size_t i) -> unsigned {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0U;
    };
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned block = (byte(i) << 16U) | (byte(i + 1) << 8U) | byte(i + 2);
        text += kDigits[(block >> 18U) & 63U];
        text += kDigits[(block >> 12U) & 63U];
        text += i + 1 < bytes.size() ? kDigits[(block >> 6U) & 63U] : '=';
        text += i + 2 < bytes.size() ? kDigits[block & 63U] : '=';
    }
    return text;
}

void HttpConnect(Exchange& exchange, const ProxyAddress& proxy, const std::string& target) {
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
    if (!proxy.User.empty() || !proxy.Password.empty()) {
        request +=
            "Proxy-Authorization: Basic " + Base64(proxy.User + ":" + proxy.Password) + "\r\n";
    }
    request += "\r\n";
    exchange.Send(request);
    // One byte at a time: whatever follows the reply's blank line is the server's.
    std::string reply;
    while (!reply.ends_with("\r\n\r\n") && !reply.ends_with("\n\n")) {
        if (reply.size() > 16384) {
            exchange.Fail("réponse trop longue");
        }
        reply += exchange.Receive(1);
    }
    std::string status = reply.substr(0, reply.find_first_of("\r\n"));
    const auto space = status.find(' ');
    const std::string code = space == std::string::npos ? "" : status.substr(space + 1, 3);
    if (!status.starts_with("HTTP/") || code.size() != 3 || code[0] != '2') {
        const bool login = code == "407" || code == "401";
        exchange.Fail(
            (login ? "authentification refusée : " : "tunnel vers " + target + " refusé : ") +
                status,
            CauseOfTunnelStatus(code.size() == 3 ? std::atoi(code.c_str()) : 0));
    }
}

const char* SocksRefusal(unsigned char code) {
    switch (code) {
        case 1:
            return "échec général du serveur SOCKS";
        case 2:
            return "connexion interdite par les règles du proxy";
        case 3:
            return "réseau injoignable";
        case 4:
            return "hôte injoignable";
        case 5:
            return "connexion refusée par le serveur";
        case 6:
            return "délai dépassé";
        case 7:
            return "commande non prise en charge";
        case 8:
            return "type d'adresse non pris en charge";
        default:
            return "refus inconnu";
    }
}

// The address part of a SOCKS5 request: the name itself (socks5h), else an address.
std::string SocksAddress(Exchange& exchange, const ProxyAddress& proxy, const std::string& host) {
    std::array<unsigned char, 16> bytes{};
    if (inet_pton(AF_INET, host.c_str(), bytes.data()) == 1) {
        return std::string("\x01", 1) + std::string(reinterpret_cast<char*>(bytes.data()), 4);
    }
    if (inet_pton(AF_INET6, host.c_str(), bytes.data()) == 1) {
        return std::string("\x04", 1) + std::string(reinterpret_cast<char*>(bytes.data()), 16);
    }
    if (proxy.Kind == ProxyKind::Socks5h) {
        if (host.size() > 255) {
            exchange.Fail("nom d'hôte trop long : " + host);
        }
        return std::string("\x03", 1) + static_cast<char>(host.size()) + host;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) {
        throw FtpError("Nom d'hôte inconnu : " + host, CauseOfLookup(host));
    }
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(raw, freeaddrinfo);
    if (raw->ai_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(raw->ai_addr);
        return std::string("\x04", 1) +
               std::string(reinterpret_cast<const char*>(&v6->sin6_addr), 16);
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(raw->ai_addr);
    return std::string("\x01", 1) + std::string(reinterpret_cast<const char*>(&v4->sin_addr), 4);
}

void SocksConnect(Exchange& exchange, const ProxyAddress& proxy, const std::string& host,
                  int port) {
    const bool login = !proxy.User.empty() || !proxy.Password.empty();
    exchange.Send(login ? std::string("\x05\x02\x00\x02", 4) : std::string("\x05\x01\x00", 3));
    const std::string chosen = exchange.Receive(2);
    if (chosen[0] != 5) {
        exchange.Fail("ce n'est pas un proxy SOCKS5");
    }
    if (chosen[1] == 2 && login) {
        if (proxy.User.size() > 255 || proxy.Password.size() > 255) {
            exchange.Fail("identifiant ou mot de passe trop long");
        }
        exchange.Send(std::string("\x01", 1) + static_cast<char>(proxy.User.size()) + proxy.User +
                      static_cast<char>(proxy.Password.size()) + proxy.Password);
        if (exchange.Receive(2)[1] != 0) {
            exchange.Fail("authentification refusée");
        }
    } else if (chosen[1] != 0) {
        exchange.Fail(login ? "aucune méthode d'authentification acceptée"
                            : "authentification exigée par le proxy");
    }
    std::string request("\x05\x01\x00", 3);
    request += SocksAddress(exchange, proxy, host);
    request += static_cast<char>((port >> 8) & 0xff);
    request += static_cast<char>(port & 0xff);
    exchange.Send(request);
    const std::string reply = exchange.Receive(4);
    if (reply[1] != 0) {
        const auto code = static_cast<unsigned char>(reply[1]);
        exchange.Fail(
            "connexion à " + host + ":" + std::to_string(port) + " refusée : " + SocksRefusal(code),
            CauseOfSocksReply(code));
    }
    // The address the proxy bound, then its port: read and set aside.
    size_t rest = 2;
    switch (reply[3]) {
        case 1:
            rest += 4;
            break;
        case 4:
            rest += 16;
            break;
        case 3:
            rest += static_cast<unsigned char>(exchange.Receive(1)[0]);
            break;
        default:
            exchange.Fail("réponse illisible");
    }
    exchange.Receive(rest);
}

}  // namespace

UniqueFd OpenProxyTunnel(const ProxyAddress& proxy, const std::string& host, int port,
                         std::chrono::milliseconds timeout, TcpPeer& proxyPeer) {
    const std::string prefix = "Proxy " + proxy.Shown() + " : ";
    UniqueFd fd;
    try {
        fd = ConnectTcp(proxy.Host, proxy.Port, timeout, proxyPeer);
    } catch (const FtpError& error) {
        throw FtpError(prefix + "injoignable, " + error.what(), FailureCause::ProxyUnreachable);
    }
    Exchange exchange(fd.Get(), prefix, timeout);
    const std::string bare = BareHost(host);
    if (proxy.Kind == ProxyKind::Http) {
        const bool v6 = bare.find(':') != std::string::npos;
        HttpConnect(exchange, proxy, (v6 ? "[" + bare + "]" : bare) + ":" + std::to_string(port));
    } else {
        SocksConnect(exchange, proxy, bare, port);
    }
    return fd;
}

}  // namespace quorvane
