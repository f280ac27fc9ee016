#pragma once

// A TCP connection to a server through a proxy, opened here for the SFTP session, which libssh
// then uses as it is: an HTTP proxy's CONNECT tunnel or a SOCKS5 connection, each with the
// proxy's user name and password when it has them.

#include <chrono>
#include <string>

#include "base/PosixFile.h"
#include "sync/retrieval/transfer/ProxyChoice.h"
#include "sync/retrieval/transfer/TcpConnect.h"

namespace quorvane {

// Connects to the proxy (proxyPeer: the address reached) and has it connect to host:port,
// everything within timeout (zero: none). Nothing of the server's own bytes is read. Throws
// FtpError naming the proxy: one that cannot be reached, one that refuses.
UniqueFd OpenProxyTunnel(const ProxyAddress& proxy, const std::string& host, int port,
                         std::chrono::milliseconds timeout, TcpPeer& proxyPeer);

}  // namespace quorvane
