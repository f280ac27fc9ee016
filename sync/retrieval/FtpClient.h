#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Sha256.h"
#include "sync/retrieval/PendingFile.h"
#include "sync/retrieval/transfer/RetryPolicy.h"

// Client of the synchronization run and of the FTP settings window's connection test: plain FTP,
// explicit FTPS (control and data channels protected) or SFTP. One session holds one control
// connection (one SSH session for SFTP) from Connect to Disconnect; every size query and
// download of the session goes over it, and the client never logs in a second time behind the
// caller's back: once the server has dropped the connection, Connected() says so and requests fail.
namespace quorvane {

class SftpSession;

// Any failure of the client; what() is always a non-empty text. The cause says whether trying
// again may help; a failure nobody classified is taken as lasting.
class FtpError : public std::runtime_error {
  public:
    explicit FtpError(const std::string& what, FailureCause cause = FailureCause::Other)
        : std::runtime_error(what), cause_(cause) {}
    FailureCause Cause() const noexcept { return cause_; }
    bool Transient() const noexcept { return IsTransient(cause_); }

  private:
    FailureCause cause_;
};

// Failure of the session's security negotiation (TLS, AUTH), told apart from other failures.
class FtpAuthError : public FtpError {
  public:
    using FtpError::FtpError;
};

// A download whose commit check refused the bytes received; the local file stays as it was.
class FtpFileRefused : public FtpError {
  public:
    using FtpError::FtpError;
};

enum class FtpTransferType { Ascii, Binary };

// Where a session's connection went: the address reached (the proxy's, through a proxy), its
// family, and the proxy ("http://host:port", empty without one).
struct ConnectionRoute {
    std::string Address;
    bool Ipv6 = false;
    std::string Proxy;
};

// How the session is protected. Tls and Sftp always verify the server (its certificate and
// name, or its host key): there is no way to switch that off.
enum class FtpSecurity { None, Tls, Sftp };

// The time limits of a session, each zero for "none". The transfer time-out bounds one whole
// download and stays off: a large file takes what it takes. The others keep a stalled or silent
// server from holding the store's run forever; the stall limit fails a download that moves no
// byte for that long, the floor one that moves too slowly for a whole window.
struct FtpLimits {
    std::chrono::milliseconds Transfer{0};
    std::chrono::milliseconds Connect{30000};
    std::chrono::milliseconds Response{60000};
    std::chrono::milliseconds Stall{60000};
    FloorRate Floor;
};

class FtpClient {
  public:
    FtpClient();
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Settings take effect at the next Connect.
    void SetHost(std::string host) { host_ = std::move(host); }
    const std::string& Host() const { return host_; }
    void SetUsername(std::string username) { username_ = std::move(username); }
    const std::string& Username() const { return username_; }
    void SetPassword(std::string password) { password_ = std::move(password); }
    const std::string& Password() const { return password_; }
    // Checked at Connect: only 1..65535 is a port.
    void SetPort(int port) { port_ = port; }
    int Port() const { return port_; }

    // Limits, each zero for "none" (FtpLimits).
    void SetLimits(const FtpLimits& limits) { limits_ = limits; }
    void SetTransferTimeout(std::chrono::milliseconds timeout) { limits_.Transfer = timeout; }
    std::chrono::milliseconds TransferTimeout() const { return limits_.Transfer; }
    void SetConnectTimeout(std::chrono::milliseconds timeout) { limits_.Connect = timeout; }
    std::chrono::milliseconds ConnectTimeout() const { return limits_.Connect; }
    void SetResponseTimeout(std::chrono::milliseconds timeout) { limits_.Response = timeout; }
    std::chrono::milliseconds ResponseTimeout() const { return limits_.Response; }
    void SetStallLimit(std::chrono::milliseconds limit) { limits_.Stall = limit; }
    std::chrono::milliseconds StallLimit() const { return limits_.Stall; }

    void SetTransferType(FtpTransferType type) { transferType_ = type; }
    FtpTransferType TransferType() const { return transferType_; }
    void SetPassive(bool passive) { passive_ = passive; }
    bool Passive() const { return passive_; }

    void SetSecurity(FtpSecurity security) { security_ = security; }
    FtpSecurity Security() const { return security_; }
    // TLS: PEM file of the certificate authority (or self-signed certificate) trusted instead of
    // the system's store; empty for the system's store.
    void SetCaFile(std::string path) { caFile_ = std::move(path); }
    const std::string& CaFile() const { return caFile_; }
    // SFTP: the server's host key fingerprint as "ssh-keygen -l -E sha256" prints it
    // ("SHA256:..."). When empty, the key must be in $HOME/.ssh/known_hosts. An unknown or
    // changed key ends the connection before the password is sent; known_hosts is never written.
    void SetHostKey(std::string fingerprint) { hostKey_ = std::move(fingerprint); }
    const std::string& HostKey() const { return hostKey_; }
    // "Proxy" as the settings give it: "http://…" or "socks5h://…", "aucun" for none whatever
    // the environment says, empty for the environment's (ftp_proxy, all_proxy, no_proxy).
    void SetProxy(std::string proxy) { proxy_ = std::move(proxy); }
    const std::string& Proxy() const { return proxy_; }
    // Where the last successful Connect went.
    const ConnectionRoute& Route() const { return route_; }

    // Opens the control connection and logs in; an earlier session is closed first.
    void Connect();
    // Whether the control connection is still open, asked of the socket itself, so a connection
    // the server closed (or is closing with a 421) reads as closed.
    bool Connected();
    // Downloads remote (a name relative to the login directory) into localPath. The data go to a
    // temporary file next to localPath, renamed over it only once complete, so a failed download
    // leaves localPath as it was. Resuming appends to the local file and needs binary mode.
    // Given the size the server announced in binary mode (0 or more), a file that arrives with
    // another size fails: a server may close the data connection early and still answer 226.
    // In ASCII mode each CR LF of the stream becomes LF and any other CR stays; a whole file
    // then has the announced size either as decoded (the server turned the file's LF into
    // CR LF) or as received (it sent the file's bytes as they are), which line ends alone
    // cannot make up for. SFTP has no ASCII mode: files arrive as they are. Returns the size
    // and SHA-256 of the bytes written to localPath. A `check` that refuses them raises
    // FtpFileRefused, localPath left as it was.
    FileDigest Get(const std::string& remote, const std::filesystem::path& localPath,
                   bool overwrite, bool resume, std::int64_t announcedSize = -1,
                   CommitCheck check = {});
    // Whether the last Get could check the file's size against the server's.
    bool SizeChecked() const { return sizeChecked_; }
    // The file's size in bytes, asked in binary mode; -1 when the server gives none (the file is
    // absent or the server does not answer the query). Over SFTP too, -1 when the login
    // folder's listing does not show the file or the server gives no size.
    // A transport failure throws.
    std::int64_t Size(const std::string& remote);
    // Whether the login folder holds the file: its size, -1 for a file listed without one, or
    // nothing when it is absent. A server may refuse SIZE for every file with the same 550 as
    // for a missing one, and an SFTP server may give no size: the folder's listing tells
    // them apart. A transport failure throws.
    std::optional<std::int64_t> Presence(const std::string& remote);
    // The names the server lists in the login folder (NLST; the folder's entries for SFTP).
    // A refused listing gives no name; a transport failure throws.
    std::vector<std::string> ListNames();
    // Ends the session (QUIT when the connection still stands). Never throws.
    void Disconnect() noexcept;

  private:
    struct Session;

    // The live session for a request; throws when there is none or the server has closed it.
    Session& LiveSession();
    SftpSession& LiveSftp();
    // What a download brought: the bytes off the connection and as written (after the ASCII
    // mode's decoding), each with the offset it resumed from; -1 when unknown.
    struct Arrived {
        std::int64_t Received = -1;
        std::int64_t Written = -1;
    };
    // The FTP download itself into out, from offset on. A file that arrived whole before the
    // control connection failed is kept, the session closed.
    Arrived GetOverFtp(const std::string& remote, const std::filesystem::path& localPath,
                       bool ascii, std::int64_t offset, std::int64_t announcedSize, std::FILE* out);

    std::string host_;
    std::string username_;
    std::string password_;
    int port_ = 21;
    FtpLimits limits_;
    FtpTransferType transferType_ = FtpTransferType::Binary;
    bool passive_ = true;
    FtpSecurity security_ = FtpSecurity::None;
    std::string caFile_;
    std::string hostKey_;
    std::string proxy_;
    ConnectionRoute route_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<SftpSession> sftp_;
    bool sizeChecked_ = false;
};

}  // namespace quorvane
