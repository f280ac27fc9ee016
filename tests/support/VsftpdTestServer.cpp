// vsftpd on 127.0.0.1 for the tests: TLS required, or plain FTP with a limit of sessions.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/FtpServers.h"

namespace quorvane::testing {

bool VsftpdTestServer::Available() {
    return std::filesystem::exists("/usr/sbin/vsftpd");
}

VsftpdTestServer::VsftpdTestServer(const std::filesystem::path& certificatePem) {
    std::ostringstream settings;
    settings << "ssl_enable=YES\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
             << "require_ssl_reuse=YES\nrsa_cert_file=" << certificatePem.string()
             << "\nrsa_private_key_file=" << certificatePem.string() << "\n";
    Start(settings.str());
}

VsftpdTestServer::VsftpdTestServer(Plain plain) {
    Start("max_clients=" + std::to_string(plain.MaxClients) + "\n");
}

void VsftpdTestServer::Start(const std::string& settings) {
    TestSystemAccount();
    std::filesystem::permissions(root_.Path(), std::filesystem::perms(0755));
    const auto empty = work_.Path() / "vide";
    std::filesystem::create_directories(empty);
    std::filesystem::permissions(empty, std::filesystem::perms(0555));
    const auto config = work_.Path() / "vsftpd.conf";
    port_ = process_.Start(
        [&](int port) {
            std::ofstream(config, std::ios::trunc)
                << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port
                << "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=NO\n"
                << "local_root=" << root_.Path().string()
                << "\nsecure_chroot_dir=" << empty.string()
                << "\nseccomp_sandbox=NO\npasv_enable=YES\npasv_address=127.0.0.1\n"
                << settings << "log_ftp_protocol=YES\nxferlog_enable=YES\nxferlog_std_format=NO\n"
                << "vsftpd_log_file=" << (work_.Path() / "vsftpd.log").string() << "\n";
            return std::vector<std::string>{"/usr/sbin/vsftpd", config.string()};
        },
        work_.Path() / "daemon.log");
}

void VsftpdTestServer::PutFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(root_.Path() / name, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace quorvane::testing
