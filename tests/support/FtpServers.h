#pragma once

// Real servers on 127.0.0.1 for tests, each a child process on a free port serving a temporary
// root folder, stopped by the destructor: tests/ftp/ftp_server.py (pyftpdlib; plain or TLS-only,
// with fault modes that make it misbehave) and tests/ftp/sftp_server.py (paramiko). Their logs
// show what they received.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

extern char** environ;

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
    bool asciiCrCrLf = false;  // ASCII mode sends a file's CR LF lines as CR CR LF
    bool greeting421 = false;  // greet with a two-line 421 and close
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
    std::vector<std::string> Start(std::vector<std::string> args, int lines) {
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        if (spawned != 0) {
            ::close(pipeFds[0]);
            pid_ = -1;
            throw std::runtime_error("cannot start " + args[1]);
        }
        std::vector<std::string> output;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int i = 0; i < lines; ++i) {
            output.push_back(ReadLine(pipeFds[0], deadline));
        }
        ::close(pipeFds[0]);
        if (output.empty() || std::atoi(output.front().c_str()) <= 0 || output.back().empty()) {
            Stop();
            throw std::runtime_error(args[1] + " did not report its port");
        }
        return output;
    }

    void Stop() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }

  private:
    static std::string ReadLine(int fd, std::chrono::steady_clock::time_point deadline) {
        std::string line;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd watch{fd, POLLIN, 0};
            if (::poll(&watch, 1, 100) <= 0) {
                continue;
            }
            char c = 0;
            if (::read(fd, &c, 1) != 1 || c == '\n') {
                break;
            }
            line.push_back(c);
        }
        return line;
    }

    pid_t pid_ = -1;
};

// Every line of a log file written by a test server.
inline std::vector<std::string> LogLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class FtpTestServer {
  public:
    explicit FtpTestServer(FtpServerOptions options = {}) : options_(std::move(options)) {
        if (options_.root.empty()) {
            ownRoot_.emplace();
            options_.root = ownRoot_->Path();
        }
        logPath_ = work_.Path() / "commands.log";
        Start();
    }
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;
    ~FtpTestServer() { Stop(); }

    int Port() const { return port_; }
    const std::string& User() const { return options_.user; }
    const std::string& Password() const { return options_.password; }
    const std::filesystem::path& Root() const { return options_.root; }

    // Writes a file into the served folder, bytes as given.
    void PutFile(const std::string& name, const std::string& bytes) const {
        std::ofstream out(options_.root / name, std::ios::binary | std::ios::trunc);
        out << bytes;
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + name);
        }
    }

    // Every command line the server received so far, in order.
    std::vector<std::string> Commands() const { return LogLines(logPath_); }
    // How many received commands begin with the given verb ("USER", "RETR", ...).
    int CountCommands(const std::string& verb) const {
        int count = 0;
        for (const auto& line : Commands()) {
            if (line == verb || line.rfind(verb + " ", 0) == 0) {
                ++count;
            }
        }
        return count;
    }

    void Stop() { process_.Stop(); }

  private:
    void Start() {
        std::vector<std::string> args = {"/usr/bin/python3",
                                         QUORVANE_SOURCE_DIR "/tests/ftp/ftp_server.py",
                                         "--port",
                                         "0",
                                         "--root",
                                         options_.root.string(),
                                         "--user",
                                         options_.user,
                                         "--password",
                                         options_.password,
                                         "--log",
                                         logPath_.string()};
        auto add = [&args](const std::string& flag, const std::string& value = {}) {
            args.push_back(flag);
            if (!value.empty()) {
                args.push_back(value);
            }
        };
        if (options_.dropAfterBytes >= 0) {
            add("--drop-after-bytes", std::to_string(options_.dropAfterBytes));
        }
        if (options_.dropReplyOk) {
            add("--drop-reply-ok");
        }
        if (options_.stallAfterBytes >= 0) {
            add("--stall-after-bytes", std::to_string(options_.stallAfterBytes));
        }
        if (options_.closeAfterGreeting) {
            add("--close-after-greeting");
        }
        if (options_.closeAfterCommands >= 0) {
            add("--close-after-commands", std::to_string(options_.closeAfterCommands));
        }
        if (options_.idleTimeoutSeconds > 0) {
            std::ostringstream seconds;
            seconds << options_.idleTimeoutSeconds;
            add("--idle-timeout", seconds.str());
        }
        if (options_.refuseSize != 0) {
            add("--refuse-size", std::to_string(options_.refuseSize));
        }
        if (!options_.tlsCertificate.empty()) {
            add("--tls-cert", options_.tlsCertificate.string());
        }
        if (options_.asciiCrCrLf) {
            add("--ascii-cr-cr-lf");
        }
        if (options_.greeting421) {
            add("--greeting-421");
        }
        port_ = std::atoi(process_.Start(std::move(args), 1).front().c_str());
    }

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
    explicit TestCertificate(const std::string& subjectAltName) {
        const std::string command = "/usr/bin/python3 '" QUORVANE_SOURCE_DIR
                                    "/tests/ftp/make_certificate.py' --dir '" +
                                    dir_.Path().string() + "' --san '" + subjectAltName + "'";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("cannot make the test certificate");
        }
    }
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
    // silentAfterLogin: logs in, then never answers a listing, a stat or an open.
    explicit SftpTestServer(bool silentAfterLogin = false) {
        logPath_ = work_.Path() / "sftp.log";
        std::vector<std::string> args = {"/usr/bin/python3",
                                         QUORVANE_SOURCE_DIR "/tests/ftp/sftp_server.py",
                                         "--root",
                                         root_.Path().string(),
                                         "--user",
                                         user_,
                                         "--password",
                                         password_,
                                         "--log",
                                         logPath_.string()};
        if (silentAfterLogin) {
            args.emplace_back("--silent-after-login");
        }
        const auto lines = process_.Start(std::move(args), 3);
        port_ = std::atoi(lines[0].c_str());
        fingerprint_ = lines[1];
        knownHostsLine_ = lines[2];
    }
    int Port() const { return port_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    const std::filesystem::path& Root() const { return root_.Path(); }
    // "SHA256:..." as ssh-keygen -l -E sha256 prints it.
    const std::string& Fingerprint() const { return fingerprint_; }
    // The host key as a known_hosts line for [127.0.0.1]:port.
    const std::string& KnownHostsLine() const { return knownHostsLine_; }

    void PutFile(const std::string& name, const std::string& bytes) const {
        std::ofstream out(root_.Path() / name, std::ios::binary | std::ios::trunc);
        out << bytes;
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + name);
        }
    }
    std::vector<std::string> Log() const { return LogLines(logPath_); }
    // How many authentication attempts carried a password.
    int PasswordAttempts() const {
        int count = 0;
        for (const auto& line : Log()) {
            count += line.rfind("auth password ", 0) == 0 ? 1 : 0;
        }
        return count;
    }

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
