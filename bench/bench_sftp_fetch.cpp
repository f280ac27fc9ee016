// One SFTP download by the program's client, timed: what sftp_line.py sets beside OpenSSH's
// sftp over the same delayed line.
//   bench_sftp_fetch HOST PORT USER PASSWORD FINGERPRINT REMOTE LOCAL
// prints the seconds from the connection to the file written.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "sync/retrieval/FtpClient.h"

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr,
                     "usage: bench_sftp_fetch HOST PORT USER PASSWORD FINGERPRINT REMOTE LOCAL\n");
        return 2;
    }
    try {
        quorvane::FtpClient client;
        client.SetHost(argv[1]);
        client.SetPort(std::atoi(argv[2]));
        client.SetUsername(argv[3]);
        client.SetPassword(argv[4]);
        client.SetHostKey(argv[5]);
        client.SetSecurity(quorvane::FtpSecurity::Sftp);
        client.SetProxy("aucun");
        const auto start = std::chrono::steady_clock::now();
        client.Connect();
        client.Get(argv[6], argv[7], true, false);
        client.Disconnect();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("%.3f\n", took.count());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
