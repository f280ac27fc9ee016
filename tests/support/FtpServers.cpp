#include "support/FtpServers.h"

#include "support/TestFiles.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
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
                                     logPath_.string(),
                                     "--host",
                                     options_.host};
    auto add = [&args](const std::string& flag, const std::string& value = {}) {
        args.push_back(flag);
        if (!value.empty()) {
            args.push_back(value);
        }
    };
    if (options_.dropAfterBytes >= 0) {
        add("--drop-after-bytes", std::to_string(options_.dropAfterBytes));
    }
    if (!options_.passivePorts.empty()) {
        add("--passive-ports", options_.passivePorts);
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
    if (options_.faultySessions >= 0) {
        add("--faulty-sessions", std::to_string(options_.faultySessions));
    }
    if (options_.trickleBytesPerSecond > 0) {
        add("--trickle", std::to_string(options_.trickleBytesPerSecond));
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

SftpTestServer::SftpTestServer(Behaviour behaviour, const std::string& host,
                               std::chrono::milliseconds slowFirstSession) {
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
                                     logPath_.string(),
                                     "--host",
                                     host};
    if (behaviour == Behaviour::SilentAfterLogin) {
        args.emplace_back("--silent-after-login");
    } else if (behaviour == Behaviour::SilentSubsystem) {
        args.emplace_back("--silent-subsystem");
    } else if (behaviour == Behaviour::NoSizes) {
        args.emplace_back("--no-sizes");
    }
    if (slowFirstSession.count() > 0) {
        args.emplace_back("--slow-first-session");
        args.emplace_back(std::to_string(static_cast<double>(slowFirstSession.count()) / 1000.0));
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

namespace quorvane::testing {
namespace {

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            text += buffer;
        }
        ::pclose(pipe);
    }
    return text;
}

void Run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string PublicKeyFile(const std::filesystem::path& work, const std::string& type) {
    return (work / ("host_" + type + "_key.pub")).string();
}

}  // namespace

void ServerProcess::Spawn(std::vector<std::string> args, const std::filesystem::path& log) {
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + args[0]);
    }
}

bool ServerProcess::Running() {
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
    }
    return pid_ > 0;
}

const SystemAccount& TestSystemAccount() {
    static const SystemAccount account = [] {
        if (::geteuid() != 0) {
            throw std::runtime_error("the system servers' tests run as root (they add an account)");
        }
        SystemAccount made{"quorvane-essai", ""};
        // Test processes running side by side share one password, kept readable by root only
        // and chosen afresh once per boot: whoever comes first makes it, under the lock.
        const std::string secret = "/run/quorvane-essai.mdp";
        const int lock = ::open((secret + ".verrou").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
            throw std::runtime_error("cannot lock " + secret);
        }
        made.Password = Output("cat " + secret + " 2>/dev/null");
        if (made.Password.empty() || Output("id -u " + made.User + " 2>/dev/null").empty()) {
            std::random_device random;
            made.Password.clear();
            for (int i = 0; i < 24; ++i) {
                made.Password += "abcdefghijkmnpqrstuvwxyz23456789"[random() % 32];
            }
            // A shell of /etc/shells and a home that exists, which the FTP server's login asks
            // for; sshd only offers SFTP, each server starts in its own folder.
            if (Output("id -u " + made.User + " 2>/dev/null").empty()) {
                Run("useradd --no-create-home --home-dir / --shell /bin/sh " + made.User);
            }
            Run("usermod --home / --shell /bin/sh " + made.User);
            Run("echo '" + made.User + ":" + made.Password + "' | chpasswd");
            Run("umask 077 && printf %s '" + made.Password + "' > " + secret);
        }
        ::close(lock);
        return made;
    }();
    return account;
}

int DaemonProcess::Start(const std::function<std::vector<std::string>(int)>& command,
                         const std::filesystem::path& log) {
    // A port found free may be taken before the daemon binds it: then another one.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = FreeLoopbackPort();
        args_ = command(port);
        log_ = log;
        process_.Spawn(args_, log);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline && process_.Running()) {
            if (Accepts(port)) {
                port_ = port;
                return port;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        process_.Stop();
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    throw std::runtime_error("the daemon never listened:\n" + text.str());
}

void DaemonProcess::StopWithChildren() {
    // The daemon's descendants, found by their parent in /proc before the daemon goes.
    std::vector<pid_t> family{process_.Pid()};
    for (std::size_t i = 0; i < family.size(); ++i) {
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            std::string stat;
            try {
                stat = ReadFile(entry.path() / "stat");
            } catch (const std::exception&) {
                continue;  // gone meanwhile
            }
            const auto end = stat.rfind(')');
            std::istringstream rest(end == std::string::npos ? "" : stat.substr(end + 2));
            char state = 0;
            pid_t parent = 0;
            if (rest >> state >> parent && parent == family[i]) {
                family.push_back(static_cast<pid_t>(std::stoi(name)));
            }
        }
    }
    for (std::size_t i = 1; i < family.size(); ++i) {
        ::kill(family[i], SIGKILL);
    }
    process_.Stop();
}

void DaemonProcess::Restart() {
    process_.Spawn(args_, log_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && process_.Running() && !Accepts(port_)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool OpenSshTestServer::Available() {
    return std::filesystem::exists("/usr/sbin/sshd");
}

OpenSshTestServer::OpenSshTestServer(const std::vector<std::string>& keyTypes) {
    const SystemAccount& account = TestSystemAccount();
    std::filesystem::permissions(root_.Path(), std::filesystem::perms(0755));
    std::string hostKeys;
    for (const auto& type : keyTypes) {
        const auto key = work_.Path() / ("host_" + type + "_key");
        Run("ssh-keygen -q -t " + type + " -N '' -C '' -f '" + key.string() + "'");
        hostKeys += "HostKey " + key.string() + "\n";
    }
    // sshd insists on its privilege separation folder.
    std::filesystem::create_directories("/run/sshd");
    const auto config = work_.Path() / "sshd_config";
    const auto log = work_.Path() / "sshd.log";
    port_ = process_.Start(
        [&](int port) {
            std::ofstream(config, std::ios::trunc)
                << "Port " << port << "\nListenAddress 127.0.0.1\n"
                << hostKeys << "PidFile none\nUsePAM no\nPasswordAuthentication yes\n"
                << "KbdInteractiveAuthentication no\nPubkeyAuthentication no\n"
                << "AuthorizedKeysFile none\nPermitRootLogin no\nAllowUsers " << account.User
                << "\nStrictModes no\nLogLevel VERBOSE\nSubsystem sftp internal-sftp\n"
                << "ForceCommand internal-sftp -d " << root_.Path().string() << "\n";
            return std::vector<std::string>{"/usr/sbin/sshd", "-D", "-e", "-f", config.string()};
        },
        log);
}

std::string OpenSshTestServer::Fingerprint(const std::string& keyType) const {
    std::istringstream line(
        Output("ssh-keygen -l -E sha256 -f '" + PublicKeyFile(work_.Path(), keyType) + "'"));
    std::string bits, fingerprint;
    line >> bits >> fingerprint;
    return fingerprint;
}

std::string OpenSshTestServer::KnownHostsLine(const std::string& keyType) const {
    std::istringstream key(ReadFile(PublicKeyFile(work_.Path(), keyType)));
    std::string type, base64;
    key >> type >> base64;
    return "[127.0.0.1]:" + std::to_string(port_) + " " + type + " " + base64;
}

void OpenSshTestServer::PutFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(root_.Path() / name, std::ios::binary | std::ios::trunc) << bytes;
}

int OpenSshTestServer::PasswordAttempts() const {
    int count = 0;
    for (const auto& line : LogLines(work_.Path() / "sshd.log")) {
        count += line.find(" password for ") != std::string::npos ? 1 : 0;
    }
    return count;
}

}  // namespace quorvane::testing
