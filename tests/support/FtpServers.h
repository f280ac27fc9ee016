#pragma once

// Real servers on 127.0.0.1 for tests, each a child process on a free port serving a temporary
// root folder, stopped by the destructor: tests/ftp/ftp_server.py (pyftpdlib; plain or TLS-only,
// with fault modes that make it misbehave) and tests/ftp/sftp_server.py (paramiko); and the
// system's own OpenSSH sshd and vsftpd, run in the foreground on a free port with a
// configuration of the test's own. Their logs show what they received.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace quorvane::testing {

struct FtpServerOptions {
    std::string user = "user";
    std::string password = "secret";
    // Served folder; a temporary one when empty.
    std::filesystem::path root{};
    int dropAfterBytes = -1;   // close each download's data connection after N bytes
    bool dropReplyOk = false;  // ... and still answer 226 (otherwise 426)
    int stallAfterBytes = -1;  // stop sending each download after N bytes
    bool closeAfterGreeting = false;
    int closeAfterCommands = -1;  // close the control connection 0.2 s after answering N commands
    double idleTimeoutSeconds = 0;
    int refuseSize = 0;  // answer SIZE with this refusal code (502, 550)
    // PEM file with the server's certificate and key: TLS required on both channels.
    std::filesystem::path tlsCertificate{};
    bool asciiCrCrLf = false;        // ASCII mode sends a file's CR LF lines as CR CR LF
    bool greeting421 = false;        // greet with a two-line 421 and close
    int faultySessions = -1;         // the faults above hit only the first N control connections
    int trickleBytesPerSecond = 0;   // send each download at most this fast
    std::string host = "127.0.0.1";  // the address listened on: "::1" for IPv6 only
    std::string passivePorts{};      // "first-last": the only ports of data connections
};

// A child process that prints what the test needs to know (its port first) on its first lines
// of standard output; terminated by Stop or the destructor.
class ServerProcess {
  public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess() { Stop(); }

    // Starts argv and returns its first `lines` lines of output.
    std::vector<std::string> Start(std::vector<std::string> args, int lines);
    // Starts argv with its standard output and error appended to log.
    void Spawn(std::vector<std::string> args, const std::filesystem::path& log);
    // Whether the child is still running.
    bool Running();
    pid_t Pid() const { return pid_; }

    void Stop();

  private:
    static std::string ReadLine(int fd, std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
};

// Every line of a log file written by a test server.
std::vector<std::string> LogLines(const std::filesystem::path& path);

class FtpTestServer {
  public:
    explicit FtpTestServer(FtpServerOptions options = {});
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;
    ~FtpTestServer() { Stop(); }

    int Port() const { return port_; }
    const std::string& User() const { return options_.user; }
    const std::string& Password() const { return options_.password; }
    const std::filesystem::path& Root() const { return options_.root; }

    // Writes a file into the served folder, bytes as given.
    void PutFile(const std::string& name, const std::string& bytes) const;

    // Every command line the server received so far, in order.
    std::vector<std::string> Commands() const { return LogLines(logPath_); }
    // How many received commands begin with the given verb ("USER", "RETR", ...).
    int CountCommands(const std::string& verb) const;

    void Stop() { process_.Stop(); }

  private:
    void Start();

    FtpServerOptions options_;
    std::optional<TempDir> ownRoot_;
    TempDir work_;
    std::filesystem::path logPath_;
    ServerProcess process_;
    int port_ = 0;
};

// A certificate authority and a server certificate signed by it, made for the test: ca.pem
// (what the client is told to trust) and server.pem (certificate and key, for the server).
class TestCertificate {
  public:
    // subjectAltName as "IP:127.0.0.1" or "DNS:some.name".
    explicit TestCertificate(const std::string& subjectAltName);
    std::filesystem::path Authority() const { return dir_.Path() / "ca.pem"; }
    std::filesystem::path ServerPem() const { return dir_.Path() / "server.pem"; }

  private:
    TempDir dir_;
};

// A loopback SFTP server (paramiko) with a host key of its own, serving a temporary folder to
// one password account. Its log holds one line per authentication attempt ("auth password
// user secret"), so a test sees whether a password ever reached it.
class SftpTestServer {
  public:
    // SilentAfterLogin: logs in, then never answers a listing, a stat or an open.
    // SilentSubsystem: logs in and starts the SFTP subsystem, which never says a word. NoSizes:
    // files are listed and served without their size.
    enum class Behaviour { Plain, SilentAfterLogin, SilentSubsystem, NoSizes };
    // host: the address listened on ("::1" for IPv6 only). slowFirstSession: the first
    // session's reads are each answered after this long.
    explicit SftpTestServer(Behaviour behaviour = Behaviour::Plain,
                            const std::string& host = "127.0.0.1",
                            std::chrono::milliseconds slowFirstSession = {});
    int Port() const { return port_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    const std::filesystem::path& Root() const { return root_.Path(); }
    // "SHA256:..." as ssh-keygen -l -E sha256 prints it.
    const std::string& Fingerprint() const { return fingerprint_; }
    // The host key as a known_hosts line for [127.0.0.1]:port.
    const std::string& KnownHostsLine() const { return knownHostsLine_; }

    void PutFile(const std::string& name, const std::string& bytes) const;
    std::vector<std::string> Log() const { return LogLines(logPath_); }
    // How many authentication attempts carried a password.
    int PasswordAttempts() const;

  private:
    std::string user_ = "magasin";
    std::string password_ = "s3cret";
    TempDir root_;
    TempDir work_;
    std::filesystem::path logPath_;
    ServerProcess process_;
    int port_ = 0;
    std::string fingerprint_;
    std::string knownHostsLine_;
};

}  // namespace quorvane::testing

namespace quorvane::testing {

// The local account the system's own servers below log in (they check a real account's
// password): created when missing, with no home of its own, and given a random password once
// per boot, kept for the tests in a file only root reads. Needs root.
struct SystemAccount {
    std::string User;
    std::string Password;
};
const SystemAccount& TestSystemAccount();

// A system daemon run in the foreground on a free loopback port, its messages in a log file;
// terminated by the destructor.
class DaemonProcess {
  public:
    DaemonProcess() = default;
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;
    ~DaemonProcess() { process_.Stop(); }

    // Starts the command that `command(port)` gives on a free port, until it accepts
    // connections; returns the port.
    int Start(const std::function<std::vector<std::string>(int)>& command,
              const std::filesystem::path& log);
    // Stops the daemon and every process it started (the sessions it serves), as a service
    // manager's restart does; Restart starts the last command again on its port.
    void StopWithChildren();
    void Restart();

  private:
    ServerProcess process_;
    std::vector<std::string> args_;
    std::filesystem::path log_;
    int port_ = 0;
};

// OpenSSH's own sshd on 127.0.0.1, with host keys of the given types ("rsa", "ed25519",
// "ecdsa") made for it, serving a temporary folder over SFTP only to the test account.
class OpenSshTestServer {
  public:
    static bool Available();
    explicit OpenSshTestServer(const std::vector<std::string>& keyTypes);
    int Port() const { return port_; }
    const std::string& User() const { return TestSystemAccount().User; }
    const std::string& Password() const { return TestSystemAccount().Password; }
    // "SHA256:..." as ssh-keygen -l -E sha256 prints it, and the key as a known_hosts line.
    std::string Fingerprint(const std::string& keyType) const;
    std::string KnownHostsLine(const std::string& keyType) const;
    void PutFile(const std::string& name, const std::string& bytes) const;
    // Password logins the server saw, accepted or refused.
    int PasswordAttempts() const;
    // sshd stopped with the sessions it holds, then started again on the same port.
    void StopWithSessions() { process_.StopWithChildren(); }
    void Restart() { process_.Restart(); }

  private:
    TempDir work_;
    TempDir root_;
    DaemonProcess process_;
    int port_ = 0;
};

// vsftpd on 127.0.0.1 requiring TLS on both channels and the control connection's TLS
// session on every data connection, serving a temporary folder to the test account.
class VsftpdTestServer {
  public:
    static bool Available();
    explicit VsftpdTestServer(const std::filesystem::path& certificatePem);
    // Plain FTP, at most MaxClients sessions at once: past them vsftpd answers "421 There are
    // too many connected users" and closes, as a head office's server does at night.
    struct Plain {
        int MaxClients = 10;
    };
    explicit VsftpdTestServer(Plain plain);
    int Port() const { return port_; }
    const std::string& User() const { return TestSystemAccount().User; }
    const std::string& Password() const { return TestSystemAccount().Password; }
    void PutFile(const std::string& name, const std::string& bytes) const;
    std::vector<std::string> Log() const { return LogLines(work_.Path() / "vsftpd.log"); }

  private:
    void Start(const std::string& settings);

    TempDir work_;
    TempDir root_;
    DaemonProcess process_;
    int port_ = 0;
};

}  // namespace quorvane::testing
