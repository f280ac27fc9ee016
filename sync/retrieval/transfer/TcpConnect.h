#pragma once

// A TCP connection opened here rather than by a library, for the SFTP session (libssh's own
// connect takes the addresses one by one, in the resolver's order) and the proxy tunnels.

#include <chrono>
#include <string>

#include "base/PosixFile.h"

namespace quorvane {

// The address a connection reached.
struct TcpPeer {
    std::string Address;
    bool Ipv6 = false;
};

// A peer gone without a word (a NAT that forgot the connection, a line that dropped) is found
// after about 5 + 3 × 3 s of silence instead of at the next reply's time-out. Best effort: a
// socket that refuses the options works as before.
void KeepAlive(int fd);

// "IPv6" or "IPv4".
const char* FamilyName(const TcpPeer& peer);

// Connects to host (a name, an IPv4 or an IPv6 address, brackets allowed) and port, trying the
// name's addresses of both families in turn, a new attempt every 250 ms while earlier ones are
// still pending, so that whichever answers first is kept; everything within timeout (zero:
// none). The socket is blocking and close-on-exec. Throws FtpError naming what failed.
UniqueFd ConnectTcp(const std::string& host, int port, std::chrono::milliseconds timeout,
                    TcpPeer& peer);

}  // namespace quorvane
