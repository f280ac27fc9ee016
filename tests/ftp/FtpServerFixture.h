#pragma once

// A real FTP server on 127.0.0.1 for tests: tests/ftp/ftp_server.py (pyftpdlib) started as a
// child process on a free port, serving a temporary root folder, stopped by the destructor.
// Fault modes let a test make the server misbehave; the command log shows what it received.

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
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quorvane::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto candidate = base / ("quorvane-test-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot create a temporary folder");
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

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
    bool refuseSize = false;  // answer SIZE with 502
};

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
    std::vector<std::string> Commands() const {
        std::vector<std::string> lines;
        std::ifstream in(logPath_);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
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
        if (options_.refuseSize) {
            add("--refuse-size");
        }
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
            throw std::runtime_error("cannot start the FTP test server");
        }
        const std::string firstLine = ReadLine(pipeFds[0], std::chrono::seconds(15));
        ::close(pipeFds[0]);
        port_ = std::atoi(firstLine.c_str());
        if (port_ <= 0) {
            Stop();
            throw std::runtime_error("the FTP test server did not report its port");
        }
    }

    static std::string ReadLine(int fd, std::chrono::seconds timeout) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
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

    FtpServerOptions options_;
    std::optional<TempDir> ownRoot_;
    TempDir work_;
    std::filesystem::path logPath_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace quorvane::test
