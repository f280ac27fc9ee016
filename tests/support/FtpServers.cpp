#include "support/FtpServers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quorvane::testing {

std::vector<std::string> ServerProcess::Start(std::vector<std::string> args, int lines) {
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

void ServerProcess::Stop() {
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

std::string ServerProcess::ReadLine(int fd, std::chrono::steady_clock::time_point deadline) {
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

std::vector<std::string> LogLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

FtpTestServer::FtpTestServer(FtpServerOptions options) : options_(std::move(options)) {
    if (options_.root.empty()) {
        ownRoot_.emplace();
        options_.root = ownRoot_->Path();
    }
    logPath_ = work_.Path() / "commands.log";
    Start();
}

void FtpTestServer::PutFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(options_.root / name, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + name);
    }
}

int FtpTestServer::CountCommands(const std::string& verb) const {
    int count = 0;
    for (const auto& line : Commands()) {
        if (line == verb || line.rfind(verb + " ", 0) == 0) {
            ++count;
        }
    }
    return count;
}

void FtpTestServer::Start() {
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

TestCertificate::TestCertificate(const std::string& subjectAltName) {
    const std::string command = "/usr/bin/python3 '" QUORVANE_SOURCE_DIR
                                "/tests/ftp/make_certificate.py' --dir '" +
                                dir_.Path().string() + "' --san '" + subjectAltName + "'";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("cannot make the test certificate");
    }
}

SftpTestServer::SftpTestServer(bool silentAfterLogin) {
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

void SftpTestServer::PutFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(root_.Path() / name, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + name);
    }
}

int SftpTestServer::PasswordAttempts() const {
    int count = 0;
    for (const auto& line : Log()) {
        count += line.rfind("auth password ", 0) == 0 ? 1 : 0;
    }
    return count;
}

}  // namespace quorvane::testing
