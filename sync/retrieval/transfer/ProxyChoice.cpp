#include "sync/retrieval/transfer/ProxyChoice.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "sync/retrieval/FtpClient.h"

namespace quorvane {
namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextDeleter {
    void operator()(char* text) const { curl_free(text); }
};

std::string Lower(std::string_view text) {
    std::string folded(text);
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return folded;
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

std::string Part(CURLU* url, CURLUPart part) {
    char* raw = nullptr;
    if (curl_url_get(url, part, &raw, CURLU_URLDECODE) != CURLUE_OK || raw == nullptr) {
        return {};
    }
    const std::unique_ptr<char, TextDeleter> owned(raw);
    return raw;
}

ProxyAddress Parse(const std::string& value, const std::string& origin) {
    // Credentials stay out of the journal.
    const auto at = value.rfind('@');
    const std::string shown = at == std::string::npos ? value : "…" + value.substr(at);
    const auto refuse = [&](const std::string& why) -> FtpError {
        return FtpError("Proxy non valide (" + origin + ") : « " + shown + " » " + why);
    };
    // curl takes a proxy without a scheme for an HTTP one.
    const std::string text =
        value.find("://") == std::string::npos ? "http://" + value : std::string(value);
    const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
                    CURLUE_OK) {
        throw refuse("(attendu : http://hôte:port ou socks5h://hôte:port)");
    }
    ProxyAddress proxy;
    const std::string scheme = Lower(Part(url.get(), CURLUPART_SCHEME));
    if (scheme == "http") {
        proxy.Kind = ProxyKind::Http;
    } else if (scheme == "socks5h") {
        proxy.Kind = ProxyKind::Socks5h;
    } else if (scheme == "socks5") {
        proxy.Kind = ProxyKind::Socks5;
    } else {
        throw refuse("(seuls http://, socks5h:// et socks5:// sont pris en charge)");
    }
    const std::string path = Part(url.get(), CURLUPART_PATH);
    if (!path.empty() && path != "/") {
        throw refuse("(un proxy n'a pas de chemin)");
    }
    proxy.Host = BareHost(Part(url.get(), CURLUPART_HOST));
    if (proxy.Host.empty()) {
        throw refuse("(aucun hôte)");
    }
    const std::string port = Part(url.get(), CURLUPART_PORT);
    if (!port.empty()) {
        proxy.Port = std::atoi(port.c_str());
        if (proxy.Port < 1 || proxy.Port > 65535) {
            throw refuse("(port non valide)");
        }
    }
    proxy.User = Part(url.get(), CURLUPART_USER);
    proxy.Password = Part(url.get(), CURLUPART_PASSWORD);
    return proxy;
}

// The first of the variables set to a non-empty value, and its name.
std::pair<std::string, std::string> FirstSet(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return {name, value};
        }
    }
    return {};
}

bool InBlock(const std::string& host, const std::string& block) {
    const auto slash = block.find('/');
    const std::string base = BareHost(block.substr(0, slash));
    const int family = host.find(':') != std::string::npos ? AF_INET6 : AF_INET;
    std::array<unsigned char, 16> a{};
    std::array<unsigned char, 16> b{};
    if (inet_pton(family, host.c_str(), a.data()) != 1 ||
        inet_pton(family, base.c_str(), b.data()) != 1) {
        return false;
    }
    const int width = family == AF_INET6 ? 128 : 32;
    int bits = width;
    if (slash != std::string::npos) {
        bits = std::atoi(block.c_str() + slash + 1);
        if (bits < 0 || bits > width) {
            return false;
        }
    }
    for (int i = 0; i < bits; ++i) {
        const unsigned mask = 0x80U >> (i % 8);
        if ((a[static_cast<size_t>(i / 8)] & mask) != (b[static_cast<size_t>(i / 8)] & mask)) {
            return false;
        }
    }
    return true;
}

std::string Scheme(ProxyKind kind) {
    switch (kind) {
        case ProxyKind::Socks5h:
            return "socks5h://";
        case ProxyKind::Socks5:
            return "socks5://";
        case ProxyKind::Http:
            break;
    }
    return "http://";
}

std::string HostPort(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

std::string BareHost(const std::string& host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        return host.substr(1, host.size() - 2);
    }
    return host;
}

std::string ProxyAddress::Shown() const {
    return Scheme(Kind) + HostPort(Host, Port);
}

std::string ProxyAddress::CurlUrl() const {
    std::string credentials;
    if (!User.empty() || !Password.empty()) {
        const std::unique_ptr<char, TextDeleter> user(
            curl_easy_escape(nullptr, User.c_str(), static_cast<int>(User.size())));
        const std::unique_ptr<char, TextDeleter> password(
            curl_easy_escape(nullptr, Password.c_str(), static_cast<int>(Password.size())));
        if (!user || !password) {
            throw FtpError("Mémoire insuffisante pour l'adresse du proxy");
        }
        credentials = std::string(user.get()) + ":" + password.get() + "@";
    }
    return Scheme(Kind) + credentials + HostPort(Host, Port);
}

bool IsNoProxy(const std::string& setting) {
    return Lower(Trimmed(setting)) == "aucun";
}

bool NoProxyExempts(const std::string& list, const std::string& host) {
    std::string name = Lower(BareHost(host));
    while (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    std::string_view rest(list);
    while (!rest.empty()) {
        const auto end = rest.find_first_of(", ");
        std::string entry = Lower(Trimmed(rest.substr(0, end)));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (entry == "*") {
            return true;
        }
        while (!entry.empty() && entry.front() == '.') {
            entry.erase(0, 1);
        }
        while (!entry.empty() && entry.back() == '.') {
            entry.pop_back();
        }
        if (entry.empty()) {
            continue;
        }
        if (name == BareHost(entry) || InBlock(name, entry)) {
            return true;
        }
        if (name.size() > entry.size() && name.ends_with(entry) &&
            name[name.size() - entry.size() - 1] == '.') {
            return true;
        }
    }
    return false;
}

std::optional<ProxyAddress> ChooseProxy(const std::string& setting, const std::string& host) {
    const std::string value = Trimmed(setting);
    if (IsNoProxy(value)) {
        return std::nullopt;
    }
    if (!value.empty()) {
        return Parse(value, "« Proxy »");
    }
    const auto [name, proxy] = FirstSet({"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"});
    if (proxy.empty()) {
        return std::nullopt;
    }
    const auto exempt = FirstSet({"no_proxy", "NO_PROXY"});
    if (!exempt.second.empty() && NoProxyExempts(exempt.second, host)) {
        return std::nullopt;
    }
    return Parse(proxy, "variable d'environnement " + name);
}

}  // namespace quorvane
