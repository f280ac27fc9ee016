#include "sync/retrieval/SftpSession.h"

#include <fcntl.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string_view>

#include "sync/retrieval/FtpClient.h"
#include "sync/retrieval/transfer/ProxyTunnel.h"
#include "sync/retrieval/transfer/SocketWatchdog.h"
#include "sync/retrieval/transfer/SshHostKey.h"
#include "sync/retrieval/transfer/TcpConnect.h"

namespace quorvane {
namespace {

struct SessionFree {
    void operator()(ssh_session session) const {
        if (ssh_is_connected(session) != 0) {
            ssh_disconnect(session);
        }
        ssh_free(session);
    }
};
using SessionPtr = std::unique_ptr<ssh_session_struct, SessionFree>;

struct SftpFree {
    void operator()(sftp_session sftp) const { sftp_free(sftp); }
};
struct SftpFileClose {
    void operator()(sftp_file file) const { sftp_close(file); }
};
struct SftpDirClose {
    void operator()(sftp_dir dir) const { sftp_closedir(dir); }
};
struct AttributesFree {
    void operator()(sftp_attributes attributes) const { sftp_attributes_free(attributes); }
};
using AttributesPtr = std::unique_ptr<sftp_attributes_struct, AttributesFree>;

// The library keeps a channel's receive window between 640 KB and 1.28 MB, which caps a download
// at about 10 MB/s over a 100 ms line however many reads are in flight. It grows the window to
// whatever a single read asks for; a read of the error stream, which an SFTP server never
// writes, asks for a wider one without taking anything from the data the reads wait for.
constexpr std::uint32_t kWindow = 8U << 20U;

void WidenWindow(ssh_channel channel, std::unique_ptr<char[]>& room) {
    if (!room) {
        // Never written unless a server does write to the error stream: left untouched.
        room = std::make_unique_for_overwrite<char[]>(kWindow);
    }
    static_cast<void>(ssh_channel_read_timeout(channel, room.get(), kWindow, 1, 0));
}

bool TimedOut(ssh_session session) {
    return std::string_view(ssh_get_error(session)).find("Timeout") != std::string_view::npos;
}

void SetLimit(ssh_session session, std::chrono::milliseconds limit) {
    // Zero means "none": a day stands for it, as the library takes zero for "do not wait".
    const long ms = limit.count() > 0 ? static_cast<long>(limit.count()) : 86400000L;
    const long seconds = ms / 1000;
    const long micros = (ms % 1000) * 1000;
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &seconds);
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT_USEC, &micros);
}

}  // namespace

struct SftpSession::Handles {
    SessionPtr session;
    std::unique_ptr<sftp_session_struct, SftpFree> sftp;
    std::unique_ptr<SocketWatchdog> watchdog;
    // A reply that came too late would be taken for the answer to the next request: after a
    // time-out the session is over.
    bool broken = false;
};

namespace {

// The TCP connection for one handshake: libssh's own connect tries a name's addresses one
// after the other and knows no proxy.
UniqueFd OpenConnection(const SftpSession::Settings& settings, ConnectionRoute& route) {
    TcpPeer peer;
    UniqueFd fd;
    try {
        fd = settings.Proxy ? OpenProxyTunnel(*settings.Proxy, settings.Host, settings.Port,
                                              settings.Connect, peer)
                            : ConnectTcp(settings.Host, settings.Port, settings.Connect, peer);
    } catch (const FtpError& error) {
        throw FtpError("Connexion au serveur SFTP impossible : " + std::string(error.what()),
                       error.Cause());
    }
    route = {peer.Address, peer.Ipv6, settings.Proxy ? settings.Proxy->Shown() : std::string()};
    return fd;
}

// One handshake, up to the server's key; hostKeys limits the key types offered (nullptr: all).
SessionPtr Handshake(const SftpSession::Settings& settings, const char* hostKeys,
                     const std::string& knownHosts, ConnectionRoute& route) {
    SessionPtr session(ssh_new());
    if (!session) {
        throw FtpError("Initialisation de la session SFTP impossible");
    }
    ssh_session s = session.get();
    const bool noConfig = false;
    const unsigned int port = static_cast<unsigned int>(settings.Port);
    // The user's and the system's ssh configuration would change host, port or user behind
    // the settings' back: only what the settings say counts.
    if (ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &noConfig) != 0 ||
        ssh_options_set(s, SSH_OPTIONS_HOST, settings.Host.c_str()) != 0 ||
        ssh_options_set(s, SSH_OPTIONS_PORT, &port) != 0 ||
        ssh_options_set(s, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str()) != 0 ||
        ssh_options_set(s, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null") != 0 ||
        (hostKeys != nullptr && ssh_options_set(s, SSH_OPTIONS_HOSTKEYS, hostKeys) != 0) ||
        (!settings.Username.empty() &&
         ssh_options_set(s, SSH_OPTIONS_USER, settings.Username.c_str()) != 0)) {
        throw FtpError("Paramètres de la session SFTP refusés : " + LibraryText(s));
    }
    SetLimit(s, settings.Connect);
    UniqueFd fd = OpenConnection(settings, route);
    const socket_t socket = fd.Get();
    if (ssh_options_set(s, SSH_OPTIONS_FD, &socket) != 0) {
        throw FtpError("Paramètres de la session SFTP refusés : " + LibraryText(s));
    }
    // From here the session closes the socket.
    static_cast<void>(fd.Release());
    if (ssh_connect(s) != SSH_OK) {
        const std::string where = settings.Host + ":" + std::to_string(settings.Port);
        if (TimedOut(s)) {
            throw FtpError("Le serveur SFTP " + where + " ne répond pas depuis " +
                               std::to_string(settings.Connect.count()) + " ms",
                           FailureCause::TimedOut);
        }
        // Refused, reset or cut in the middle of the key exchange: all may pass; a name
        // that does not resolve is asked again to tell the unknown from the unanswered. No
        // algorithm in common (a host key family the server does not hold) stays as it is.
        const std::string text = LibraryText(s);
        const FailureCause cause = text.find("resolve") != std::string::npos
                                       ? CauseOfLookup(settings.Host)
                                   : text.find("no match for method") != std::string::npos
                                       ? FailureCause::ServerNotTrusted
                                       : FailureCause::ConnectionRefused;
        throw FtpError("Connexion au serveur SFTP " + where + " impossible : " + text, cause);
    }
    return session;
}

void LogIn(ssh_session session, const SftpSession::Settings& settings) {
    int rc = ssh_userauth_none(session, nullptr);
    if (rc == SSH_AUTH_DENIED || rc == SSH_AUTH_PARTIAL) {
        const auto methods = static_cast<unsigned int>(ssh_userauth_list(session, nullptr));
        if ((methods & SSH_AUTH_METHOD_PASSWORD) != 0U) {
            rc = ssh_userauth_password(session, nullptr, settings.Password.c_str());
        } else if ((methods & SSH_AUTH_METHOD_INTERACTIVE) != 0U) {
            rc = ssh_userauth_kbdint(session, nullptr, nullptr);
            // Every prompt gets the password; a server that keeps asking is refused.
            for (int round = 0; rc == SSH_AUTH_INFO && round < 5; ++round) {
                const int prompts = ssh_userauth_kbdint_getnprompts(session);
                for (int i = 0; i < prompts; ++i) {
                    ssh_userauth_kbdint_setanswer(session, static_cast<unsigned int>(i),
                                                  settings.Password.c_str());
                }
                rc = ssh_userauth_kbdint(session, nullptr, nullptr);
            }
        }
    }
    if (rc == SSH_AUTH_SUCCESS) {
        return;
    }
    if (rc == SSH_AUTH_AGAIN) {
        // The library's time limit ran out while the server was still deciding.
        throw FtpError("Le serveur SFTP ne répond plus pendant l'authentification",
                       FailureCause::TimedOut);
    }
    if (rc == SSH_AUTH_ERROR) {
        throw FtpError("Authentification SFTP interrompue : " + LibraryText(session),
                       FailureCause::ConnectionLost);
    }
    throw FtpError("Authentification SFTP refusée pour l'utilisateur « " + settings.Username +
                       " » : identifiant ou mot de passe incorrect",
                   FailureCause::LoginRefused);
}

}  // namespace

SftpSession::SftpSession(const Settings& settings)
    : handles_(std::make_unique<Handles>()), response_(settings.Response) {
    if (settings.HostKey.empty()) {
        handles_->session = Handshake(settings, nullptr, settings.KnownHosts, route_);
        CheckKnownHosts(handles_->session.get(), settings.KnownHosts);
    } else {
        const std::string expected = NormalisedHostKey(settings.HostKey);
        // A server shows one of its keys per handshake: when it is not the pinned one, each
        // other family is asked for in turn, all before any password is sent.
        SessionPtr session = Handshake(settings, nullptr, "/dev/null", route_);
        std::vector<SeenKey> seen{ServerKey(session.get())};
        for (const char* family : kHostKeyFamilies) {
            if (seen.back().Fingerprint == expected) {
                break;
            }
            if (family == FamilyOf(seen.front().Type)) {
                continue;
            }
            session.reset();
            try {
                session = Handshake(settings, family, "/dev/null", route_);
                seen.push_back(ServerKey(session.get()));
            } catch (const FtpError& error) {
                // A server that holds no key of this family says so; any other failure is the
                // connection's, not the key's.
                if (error.Transient()) {
                    throw;
                }
            }
        }
        if (!session || seen.back().Fingerprint != expected) {
            std::string shown;
            for (const auto& key : seen) {
                shown += (shown.empty() ? "" : ", ") + Shown(key);
            }
            throw FtpAuthError("La clé d'hôte SSH du serveur ne correspond pas à « CleHote »" +
                               std::string(kRefusedTail) + " ; clé" + (seen.size() > 1 ? "s" : "") +
                               " du serveur : " + shown);
        }
        handles_->session = std::move(session);
    }
    ssh_session s = handles_->session.get();
    // The subsystem's first answer is waited for without end by the library: the watchdog
    // bounds the log-in and the channel's opening as it bounds every later request.
    handles_->watchdog = std::make_unique<SocketWatchdog>(ssh_get_fd(s));
    const auto opening = std::max(settings.Connect, response_);
    {
        const ArmedWatchdog armed(*handles_->watchdog, opening);
        try {
            LogIn(s, settings);
        } catch (const FtpError&) {
            if (handles_->watchdog->Fired()) {
                throw FtpError("Le serveur SFTP ne répond plus depuis " +
                                   std::to_string(opening.count()) + " ms",
                               FailureCause::TimedOut);
            }
            throw;
        }
        handles_->sftp.reset(sftp_new(s));
        if (!handles_->sftp || sftp_init(handles_->sftp.get()) != SSH_OK) {
            if (handles_->watchdog->Fired()) {
                throw FtpError("Ouverture du canal SFTP : le serveur ne répond plus depuis " +
                                   std::to_string(opening.count()) + " ms",
                               FailureCause::TimedOut);
            }
            throw FtpError("Ouverture du canal SFTP impossible : " + LibraryText(s),
                           FailureCause::ConnectionLost);
        }
    }
    SetTimeout(response_);
}

SftpSession::~SftpSession() {
    if (handles_) {
        handles_->watchdog.reset();
        handles_->sftp.reset();
        handles_->session.reset();
    }
}

void SftpSession::SetTimeout(std::chrono::milliseconds limit) {
    SetLimit(handles_->session.get(), limit);
}

void SftpSession::Fail(const std::string& context, std::chrono::milliseconds limit, bool stall,
                       std::optional<int> sftpError) const {
    ssh_session s = handles_->session.get();
    std::string text;
    FailureCause cause = FailureCause::Other;
    if (handles_->watchdog->Fired() || TimedOut(s)) {
        handles_->broken = true;
        cause = stall ? FailureCause::Stalled : FailureCause::TimedOut;
        text = stall ? "Transfert interrompu : aucune donnée reçue depuis " +
                           std::to_string(limit.count()) + " ms"
                     : "Le serveur SFTP ne répond plus depuis " + std::to_string(limit.count()) +
                           " ms";
    } else {
        const int error = sftpError        ? *sftpError
                          : handles_->sftp ? sftp_get_error(handles_->sftp.get())
                                           : SSH_FX_FAILURE;
        switch (error) {
            case SSH_FX_NO_SUCH_FILE:
            case SSH_FX_NO_SUCH_PATH:
                text = "fichier absent du serveur";
                cause = FailureCause::FileAbsent;
                break;
            case SSH_FX_PERMISSION_DENIED:
                text = "accès refusé par le serveur";
                break;
            case SSH_FX_EOF:
            case SSH_FX_CONNECTION_LOST:
            case SSH_FX_NO_CONNECTION:
                handles_->broken = true;
                text = "La connexion au serveur SFTP a été fermée par le serveur";
                cause = FailureCause::ConnectionLost;
                break;
            default:
                text = LibraryText(s);
                break;
        }
        if (ssh_is_connected(s) == 0) {
            handles_->broken = true;
            cause = FailureCause::ConnectionLost;
        }
    }
    throw FtpError(context.empty() ? text : context + " : " + text, cause);
}

bool SftpSession::Alive() {
    if (handles_->broken || handles_->watchdog->Fired() ||
        ssh_is_connected(handles_->session.get()) == 0) {
        return false;
    }
    ssh_channel channel = handles_->sftp->channel;
    if (ssh_channel_is_open(channel) == 0) {
        return false;
    }
    const int state = ssh_channel_poll_timeout(channel, 0, 0);
    return state != SSH_ERROR && state != SSH_EOF && ssh_is_connected(handles_->session.get()) != 0;
}

std::vector<std::string> SftpSession::ListNames() {
    const ArmedWatchdog armed(*handles_->watchdog, response_);
    std::unique_ptr<sftp_dir_struct, SftpDirClose> dir(sftp_opendir(handles_->sftp.get(), "."));
    if (!dir) {
        if (!handles_->watchdog->Fired() && !TimedOut(handles_->session.get()) &&
            sftp_get_error(handles_->sftp.get()) == SSH_FX_PERMISSION_DENIED) {
            return {};
        }
        Fail("Liste des fichiers", response_, false);
    }
    std::vector<std::string> names;
    while (const AttributesPtr entry{sftp_readdir(handles_->sftp.get(), dir.get())}) {
        const std::string_view name = entry->name != nullptr ? entry->name : "";
        if (!name.empty() && name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    if (sftp_dir_eof(dir.get()) == 0) {
        Fail("Liste des fichiers", response_, false);
    }
    return names;
}

std::int64_t SftpSession::Size(const std::string& remote) {
    const ArmedWatchdog armed(*handles_->watchdog, response_);
    const AttributesPtr attributes{sftp_stat(handles_->sftp.get(), remote.c_str())};
    if (!attributes) {
        const int error = sftp_get_error(handles_->sftp.get());
        if (!handles_->watchdog->Fired() && !TimedOut(handles_->session.get()) &&
            (error == SSH_FX_NO_SUCH_FILE || error == SSH_FX_NO_SUCH_PATH ||
             error == SSH_FX_PERMISSION_DENIED)) {
            return -1;
        }
        Fail(remote, response_, false);
    }
    if (attributes->type == SSH_FILEXFER_TYPE_DIRECTORY) {
        return -1;
    }
    return (attributes->flags & SSH_FILEXFER_ATTR_SIZE) != 0
               ? static_cast<std::int64_t>(attributes->size)
               : kNoSize;
}

std::int64_t SftpSession::Download(const std::string& remote, std::FILE* out, std::int64_t offset,
                                   std::chrono::milliseconds stallLimit, FloorRate floor) {
    ArmedWatchdog armed(*handles_->watchdog, response_);
    std::unique_ptr<sftp_file_struct, SftpFileClose> file(
        sftp_open(handles_->sftp.get(), remote.c_str(), O_RDONLY, 0));
    if (!file) {
        Fail(remote, response_, false);
    }
    if (offset > 0 && sftp_seek64(file.get(), static_cast<uint64_t>(offset)) != 0) {
        Fail(remote, response_, false);
    }
    const bool stall = stallLimit.count() > 0;
    const auto limit = stall ? stallLimit : response_;
    SetTimeout(limit);
    // Reads as OpenSSH's client asks for them: 64 requests of 32 KiB in flight, sizes every
    // server answers whole.
    constexpr std::uint32_t kChunk = 32768;
    constexpr size_t kInFlight = 64;
    std::vector<char> buffer(kChunk);
    std::deque<int> inFlight;
    // Every request sent gets its answer read, or the library keeps it for the session's
    // life. Once a read has said "end of file" the library answers every later one with the
    // same without reading: the position is set again before each.
    std::int64_t received = 0;
    const auto drain = [&] {
        for (const int id : inFlight) {
            static_cast<void>(sftp_seek64(file.get(), static_cast<uint64_t>(offset + received)));
            static_cast<void>(
                sftp_async_read(file.get(), buffer.data(), kChunk, static_cast<std::uint32_t>(id)));
        }
        inFlight.clear();
    };
    const auto fail = [&] {
        // The refusal is told as it came, not as the answers set aside after it say.
        const int error = sftp_get_error(handles_->sftp.get());
        // A refused read leaves a live session whose other answers are still coming.
        ssh_session s = handles_->session.get();
        if (!handles_->watchdog->Fired() && !TimedOut(s) && ssh_is_connected(s) != 0) {
            handles_->watchdog->Arm(limit);
            drain();
        }
        inFlight.clear();
        SetTimeout(response_);
        Fail(remote, limit, stall, error);
    };
    PaceWatch pace(floor, std::chrono::steady_clock::now());
    std::int64_t widenedAt = -1;
    std::unique_ptr<char[]> widening;
    bool atEnd = false;
    while (!atEnd || !inFlight.empty()) {
        if (received - widenedAt >= kWindow / 4 || widenedAt < 0) {
            WidenWindow(handles_->sftp->channel, widening);
            widenedAt = received;
        }
        while (!atEnd && inFlight.size() < kInFlight) {
            const int id = sftp_async_read_begin(file.get(), kChunk);
            if (id < 0) {
                fail();
            }
            inFlight.push_back(id);
        }
        handles_->watchdog->Arm(limit);
        const int got = sftp_async_read(file.get(), buffer.data(), kChunk,
                                        static_cast<std::uint32_t>(inFlight.front()));
        inFlight.pop_front();
        if (got < 0) {
            fail();
        }
        if (got == 0) {
            // The answers after the end say the same.
            atEnd = true;
            drain();
            break;
        }
        if (std::fwrite(buffer.data(), 1, static_cast<size_t>(got), out) !=
            static_cast<size_t>(got)) {
            const int error = errno;
            drain();
            SetTimeout(response_);
            throw FtpError(std::string("Écriture du fichier local impossible : ") +
                           std::strerror(error));
        }
        received += got;
        if (pace.Stalled(std::chrono::steady_clock::now(), received)) {
            // The answers still owed would come at the same pace: the session is given up.
            handles_->broken = true;
            inFlight.clear();
            SetTimeout(response_);
            throw FtpError(remote + " : " + TooSlowText(floor), FailureCause::Stalled);
        }
        if (static_cast<std::uint32_t>(got) < kChunk) {
            // A short answer leaves a gap before the next request's offset: the requests in
            // flight are set aside and reading goes on from where the data stopped.
            drain();
            if (sftp_seek64(file.get(), static_cast<uint64_t>(offset + received)) != 0) {
                fail();
            }
        }
    }
    SetTimeout(response_);
    return received;
}

}  // namespace quorvane
