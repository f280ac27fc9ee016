#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sync/retrieval/FtpClient.h"
#include "sync/retrieval/transfer/ProxyChoice.h"

// One SSH session with its SFTP channel, for FtpClient's SFTP mode. The SSH library libcurl
// is built with here offers RSA host keys only with SHA-1 signatures, which current servers
// refuse; this one negotiates rsa-sha2-512/256, ed25519 and ECDSA.
namespace quorvane {

class SftpSession {
  public:
    struct Settings {
        std::string Host;
        int Port = 22;
        std::string Username;
        std::string Password;
        // "SHA256:..." as ssh-keygen -l -E sha256 prints it, padding '=' allowed; when empty,
        // the key must be in KnownHosts under its own type.
        std::string HostKey;
        std::string KnownHosts;
        std::chrono::milliseconds Connect{0};
        std::chrono::milliseconds Response{0};
        // The connection is opened here (both address families, or through the proxy) and
        // handed to the SSH library.
        std::optional<ProxyAddress> Proxy;
    };

    // Connects, checks the host key before anything else is sent, and logs in with the
    // password (or keyboard-interactive prompts answered with it). Throws FtpAuthError for a
    // refused host key, FtpError otherwise.
    explicit SftpSession(const Settings& settings);
    ~SftpSession();
    SftpSession(const SftpSession&) = delete;
    SftpSession& operator=(const SftpSession&) = delete;

    const ConnectionRoute& Route() const { return route_; }
    // Whether the server still holds the session.
    bool Alive();
    // The names of the login folder's entries, "." and ".." left out.
    std::vector<std::string> ListNames();
    // The size of a file of the login folder; -1 for a name that is no file there, kNoSize when
    // the server gives none.
    static constexpr std::int64_t kNoSize = -2;
    std::int64_t Size(const std::string& remote);
    // Writes the file's bytes from offset on to out and returns how many arrived. Several reads
    // are in flight at once, so a distant server sends at the speed of the line. A read that
    // brings nothing for stallLimit (zero: the response limit) fails, and so does a transfer
    // slower than the floor for its whole window; either leaves the session to be made again.
    std::int64_t Download(const std::string& remote, std::FILE* out, std::int64_t offset,
                          std::chrono::milliseconds stallLimit, FloorRate floor);

  private:
    struct Handles;
    // sftpError: the SFTP status as it was when the request failed (read now when absent).
    [[noreturn]] void Fail(const std::string& context, std::chrono::milliseconds limit, bool stall,
                           std::optional<int> sftpError = {}) const;
    void SetTimeout(std::chrono::milliseconds limit);

    std::unique_ptr<Handles> handles_;
    std::chrono::milliseconds response_{0};
    ConnectionRoute route_;
};

// The fingerprint as CleHote is compared: "SHA256:" and the unpadded base64 digest. Throws
// FtpError for a text that is not one.
std::string NormalisedHostKey(const std::string& fingerprint);

}  // namespace quorvane
