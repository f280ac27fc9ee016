#pragma once

// Which proxy, if any, a connection of the retrieval goes through: the "Proxy" key's value, or
// the environment read the way curl reads it for an ftp:// address, so that the FTP, FTPS and
// SFTP sessions and the connection test all take the same road.

#include <optional>
#include <string>

namespace quorvane {

enum class ProxyKind {
    Http,     // CONNECT tunnels
    Socks5,   // the name resolved here, the address sent
    Socks5h,  // the name sent, resolved by the proxy
};

struct ProxyAddress {
    ProxyKind Kind = ProxyKind::Http;
    std::string Host;  // an IPv6 address without its brackets
    int Port = 1080;
    std::string User;
    std::string Password;

    // "http://host:port", the password never shown.
    std::string Shown() const;
    // The address as curl takes it, credentials included.
    std::string CurlUrl() const;
};

// "aucun" in any letter case: no proxy, whatever the environment says.
bool IsNoProxy(const std::string& setting);

// The proxy a connection to host goes through: the setting's, else the environment's
// (ftp_proxy, FTP_PROXY, all_proxy, ALL_PROXY; no_proxy or NO_PROXY exempting a host);
// nothing for "aucun" or when neither names one. Throws FtpError for a value that is no
// proxy this client can use, naming where it came from.
std::optional<ProxyAddress> ChooseProxy(const std::string& setting, const std::string& host);

// Whether a no_proxy list exempts host: "*", a name or a domain suffix (a leading dot
// optional), an address, or an address block "a.b.c.d/n" or "v6/n".
bool NoProxyExempts(const std::string& list, const std::string& host);

// host as typed in "Host", its IPv6 brackets removed.
std::string BareHost(const std::string& host);

}  // namespace quorvane
