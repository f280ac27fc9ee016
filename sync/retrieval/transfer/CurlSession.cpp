#include "sync/retrieval/transfer/CurlSession.h"

#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "sync/retrieval/AsciiLineEnds.h"
#include "sync/retrieval/transfer/FtpTexts.h"
#include "sync/retrieval/transfer/TcpConnect.h"

namespace quorvane {

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw FtpError("Initialisation de la bibliothèque FTP impossible");
        }
    });
}

CurlList OneCommand(const char* command) {
    CurlList list(curl_slist_append(nullptr, command));
    if (!list) {
        throw FtpError("Mémoire insuffisante pour la commande FTP");
    }
    return list;
}

FtpClient::Session::~Session() {
    if (inMulti) {
        curl_multi_remove_handle(multi.get(), handle.get());
    }
    multi.reset();
}

size_t FtpClient::Session::OnData(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Session*>(user);
    const size_t total = size * count;
    try {
        if (self->sink != nullptr) {
            self->sink->append(data, total);
            return total;
        }
        if (self->out == nullptr) {
            return total;
        }
        std::string_view bytes(data, total);
        if (self->decoder != nullptr) {
            self->decoded.clear();
            self->decoder->Decode(bytes, self->decoded);
            bytes = self->decoded;
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), self->out) != bytes.size()) {
            self->writeErrno = errno;
            return 0;
        }
        self->written += static_cast<std::int64_t>(bytes.size());
        return total;
    } catch (...) {
        self->writeErrno = ENOMEM;
        return 0;
    }
}

// Server replies arrive here, one line per call.
size_t FtpClient::Session::OnReply(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Session*>(user);
    const size_t total = size * count;
    try {
        std::string_view line(data, total);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        self->TakeReplyLine(line);
    } catch (...) {
        self->lastReply.clear();
        self->pendingReply.clear();
        self->pendingCode.clear();
    }
    return total;
}

// A multi-line reply opens with "ddd-" and ends with the line that begins "ddd ".
void FtpClient::Session::TakeReplyLine(std::string_view line) {
    const auto opensWith = [&line](std::string_view code, char mark) {
        return line.size() >= 4 && line.substr(0, 3) == code && line[3] == mark;
    };
    if (!pendingCode.empty()) {
        pendingReply += ' ';
        pendingReply += line;
        if (opensWith(pendingCode, ' ')) {
            lastReply = std::move(pendingReply);
            pendingReply.clear();
            pendingCode.clear();
        }
        return;
    }
    const bool numbered = line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                          std::isdigit(static_cast<unsigned char>(line[1])) &&
                          std::isdigit(static_cast<unsigned char>(line[2]));
    if (numbered && line[3] == '-') {
        pendingCode.assign(line.substr(0, 3));
        pendingReply.assign(line);
        return;
    }
    lastReply.assign(line);
}

int FtpClient::Session::OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t,
                                   curl_off_t) {
    auto* self = static_cast<Session*>(user);
    if (!self->stallCheck) {
        return 0;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!self->pace) {
        self->pace.emplace(self->floor, now);
    }
    if (received != self->lastReceived) {
        self->lastReceived = received;
        self->lastMove = now;
    } else if (self->stallLimit.count() > 0 && now - self->lastMove >= self->stallLimit) {
        self->stalled = true;
        return 1;
    }
    if (self->pace->Stalled(now, static_cast<std::int64_t>(received))) {
        self->stalled = true;
        self->tooSlow = true;
        return 1;
    }
    return 0;
}

// curl opens a new control connection on its own when the old one is gone, and logs in
// again; the session's login is the only one allowed, so a second connection to the
// control port is refused. Data connections go to other ports; through a proxy every
// connection goes to the proxy's, and a data connection is only ever opened once the
// request has had a reply (EPSV, PASV).
curl_socket_t FtpClient::Session::OnOpenSocket(void* user, curlsocktype purpose,
                                               struct curl_sockaddr* address) {
    auto* self = static_cast<Session*>(user);
    if (self->established && purpose == CURLSOCKTYPE_IPCXN) {
        unsigned port = 0;
        if (address->family == AF_INET) {
            sockaddr_in target{};
            std::memcpy(&target, &address->addr, sizeof target);
            port = ntohs(target.sin_port);
        } else if (address->family == AF_INET6) {
            sockaddr_in6 target{};
            std::memcpy(&target, &address->addr, sizeof target);
            port = ntohs(target.sin6_port);
        }
        const bool control = self->proxyShown.empty()
                                 ? port == self->controlPort
                                 : self->lastReply.empty() && self->pendingReply.empty();
        if (control) {
            self->reconnectRefused = true;
            return CURL_SOCKET_BAD;
        }
    }
    const curl_socket_t fd =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd != CURL_SOCKET_BAD) {
        KeepAlive(fd);
    }
    return fd;
}

std::string FtpClient::Session::FileUrl(const std::string& remote) {
    CurlText escaped(
        curl_easy_escape(handle.get(), remote.c_str(), static_cast<int>(remote.size())));
    if (!escaped) {
        throw FtpError("Nom de fichier FTP non valide : " + remote);
    }
    return baseUrl + escaped.get();
}

// Runs one request. After an ASCII download the server is put back into binary mode first,
// as curl believes it to be, unless this request sets ASCII mode itself.
CURLcode FtpClient::Session::Run(bool setsAscii) {
    errors[0] = '\0';
    lastReply.clear();
    pendingReply.clear();
    pendingCode.clear();
    reconnectRefused = false;
    stalled = false;
    tooSlow = false;
    pace.reset();
    writeErrno = 0;
    lastReceived = 0;
    lastMove = std::chrono::steady_clock::now();
    CurlList restoreBinary;
    if (serverInAscii && !setsAscii) {
        restoreBinary = OneCommand("TYPE I");
    }
    Set(CURLOPT_QUOTE, restoreBinary.get());
    const CURLcode code = Perform();
    curl_easy_setopt(handle.get(), CURLOPT_QUOTE, nullptr);
    if (setsAscii) {
        serverInAscii = true;
    } else if (restoreBinary && code != CURLE_QUOTE_ERROR) {
        serverInAscii = false;
    }
    return code;
}

// curl_easy_perform's own loop, except for one wait. Between the passive-mode reply and
// the first connect attempt of the data connection curl (7.88) has neither a socket nor a
// timer to wait for, now and then, depending on how the reply arrived; its loop then sleeps
// the whole second it allows itself. Here a wait with nothing to wait for is 1 ms.
CURLcode FtpClient::Session::Perform() {
    if (inMulti) {
        curl_multi_remove_handle(multi.get(), handle.get());
        inMulti = false;
    }
    if (curl_multi_add_handle(multi.get(), handle.get()) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    inMulti = true;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            return CURLE_FAILED_INIT;
        }
        if (running == 0) {
            break;
        }
        fd_set readable;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        int highest = -1;
        if (curl_multi_fdset(multi.get(), &readable, &writable, &failed, &highest) != CURLM_OK) {
            return CURLE_FAILED_INIT;
        }
        // curl_multi_poll shortens the wait to curl's own timers.
        if (curl_multi_poll(multi.get(), nullptr, 0, highest < 0 ? 1 : 1000, nullptr) != CURLM_OK) {
            return CURLE_FAILED_INIT;
        }
    }
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle.get()) {
            return message->data.result;
        }
    }
    return CURLE_FAILED_INIT;
}

// The failure in words that say what happened: the server's own reply when it refused,
// the verification that failed for a protected session, curl's text otherwise.
void FtpClient::Session::Fail(CURLcode code, const std::string& context) const {
    const std::string reply = ServerReply();
    const std::string curlText =
        errors[0] != '\0' ? std::string(errors.data()) : curl_easy_strerror(code);
    std::string text;
    if (reconnectRefused) {
        text = "La connexion au serveur FTP a été fermée par le serveur";
    } else if (tooSlow) {
        text = TooSlowText(floor);
    } else if (stalled) {
        text = "Transfert interrompu : aucune donnée reçue depuis " +
               std::to_string(stallLimit.count()) + " ms";
    } else if (code == CURLE_WRITE_ERROR && writeErrno != 0) {
        text = std::string("Écriture du fichier local impossible : ") + std::strerror(writeErrno);
    } else if (code == CURLE_USE_SSL_FAILED) {
        text = "Le serveur FTP refuse le chiffrement TLS" +
               (IsRefusal(reply) ? " : " + reply : std::string());
    } else if (security == FtpSecurity::Tls && code == CURLE_PEER_FAILED_VERIFICATION) {
        text = "Certificat du serveur refusé : " + curlText;
    } else if (code == CURLE_SSL_CACERT_BADFILE) {
        text = "Certificat d'autorité « CertificatAC » illisible : " + caFile;
    } else if (IsSecurityNegotiation(code) && security == FtpSecurity::Tls) {
        text = "Échec de la négociation TLS : " + curlText;
    } else if (IsRefusal(reply) && (ReplyDecides(code) || reply.compare(0, 3, "421") == 0)) {
        // A 421 ends the session whatever curl makes of it ("Timeout was reached").
        text = reply;
    } else {
        text = curlText;
        if (IsRefusal(reply) && text.find(reply) == std::string::npos) {
            text += " (" + reply + ")";
        }
    }
    if (text.empty()) {
        text = "Erreur FTP " + std::to_string(static_cast<int>(code));
    }
    // What the proxy refused or could not reach is said to come from it.
    long tunnel = 0;
    curl_easy_getinfo(handle.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel);
    if (!proxyShown.empty() && (code == CURLE_COULDNT_RESOLVE_PROXY || code == CURLE_PROXY ||
                                tunnel >= 300 || (!established && reply.empty()))) {
        text = "Proxy " + proxyShown + " : " + text;
    }
    const std::string message = context.empty() ? text : context + " : " + text;
    FailureCause cause = CauseOfCurl(code, ReplyCode(reply));
    long proxyCode = 0;
    if (code == CURLE_PROXY) {
        curl_easy_getinfo(handle.get(), CURLINFO_PROXY_ERROR, &proxyCode);
    }
    if (reconnectRefused) {
        cause = FailureCause::ConnectionLost;
    } else if (stalled) {
        cause = FailureCause::Stalled;
    } else if (tunnel >= 300) {
        cause = CauseOfTunnelStatus(static_cast<int>(tunnel));
    } else if (code == CURLE_PROXY) {
        cause = CauseOfCurlProxy(static_cast<int>(proxyCode));
    } else if (cause == FailureCause::LookupFailedForNow) {
        cause = CauseOfLookup(host);
    }
    if (IsSecurityNegotiation(code)) {
        throw FtpAuthError(message, cause);
    }
    throw FtpError(message, cause);
}

}  // namespace quorvane
