#include "sync/retrieval/FtpClient.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>

#include "sync/retrieval/AsciiLineEnds.h"
#include "sync/retrieval/PendingFile.h"
#include "sync/retrieval/SftpSession.h"

namespace quorvane {

namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlFreeDeleter {
    void operator()(char* text) const { curl_free(text); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using CurlMultiPtr = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using CurlText = std::unique_ptr<char, CurlFreeDeleter>;
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw FtpError("Initialisation de la bibliothèque FTP impossible");
        }
    });
}

// A CR or LF would let a value end the command it is sent in and start another; a NUL would
// cut it short. Nothing carrying one is ever sent.
void RefuseLineBreaks(std::string_view value, const char* what) {
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        throw FtpError(std::string(what) +
                       " contient un caractère interdit (retour à la ligne ou caractère nul)");
    }
}

void CheckRemoteName(const std::string& remote) {
    if (remote.empty()) {
        throw FtpError("Nom de fichier FTP vide");
    }
    RefuseLineBreaks(remote, "Le nom de fichier FTP");
}

CurlList OneCommand(const char* command) {
    CurlList list(curl_slist_append(nullptr, command));
    if (!list) {
        throw FtpError("Mémoire insuffisante pour la commande FTP");
    }
    return list;
}

// Codes by which curl passes on a refusal that the server itself gave, in its last reply.
bool ReplyDecides(CURLcode code) {
    // clang-format off
    static constexpr std::array fromReply = {
        CURLE_WEIRD_SERVER_REPLY, CURLE_LOGIN_DENIED, CURLE_REMOTE_ACCESS_DENIED,
        CURLE_QUOTE_ERROR, CURLE_FTP_COULDNT_RETR_FILE, CURLE_REMOTE_FILE_NOT_FOUND,
        CURLE_FTP_WEIRD_PASV_REPLY, CURLE_FTP_WEIRD_227_FORMAT, CURLE_FTP_COULDNT_SET_TYPE,
        CURLE_FTP_PORT_FAILED, CURLE_FTP_COULDNT_USE_REST, CURLE_FTP_PRET_FAILED,
        CURLE_FTP_ACCEPT_FAILED, CURLE_USE_SSL_FAILED, CURLE_PARTIAL_FILE};
    // clang-format on
    return std::find(fromReply.begin(), fromReply.end(), code) != fromReply.end();
}

bool IsRefusal(const std::string& reply) {
    return reply.size() >= 3 && (reply[0] == '4' || reply[0] == '5');
}

long Seconds(std::chrono::milliseconds value) {
    return static_cast<long>((value.count() + 999) / 1000);
}

// curl's codes for a failed TLS or authentication-mechanism negotiation.
bool IsSecurityNegotiation(CURLcode code) {
    // clang-format off
    static constexpr std::array negotiation = {
        CURLE_USE_SSL_FAILED, CURLE_SSL_CONNECT_ERROR, CURLE_PEER_FAILED_VERIFICATION,
        CURLE_SSL_CERTPROBLEM, CURLE_SSL_CIPHER, CURLE_SSL_CACERT_BADFILE,
        CURLE_SSL_SHUTDOWN_FAILED, CURLE_SSL_CRL_BADFILE, CURLE_SSL_ISSUER_ERROR,
        CURLE_SSL_PINNEDPUBKEYNOTMATCH, CURLE_SSL_INVALIDCERTSTATUS, CURLE_SSL_CLIENTCERT,
        CURLE_SSL_ENGINE_NOTFOUND, CURLE_SSL_ENGINE_SETFAILED, CURLE_SSL_ENGINE_INITFAILED,
        CURLE_AUTH_ERROR};
    // clang-format on
    return std::find(negotiation.begin(), negotiation.end(), code) != negotiation.end();
}

// The download's data go here first; the file only takes the local name once complete.
class TempFile {
  public:
    explicit TempFile(const std::filesystem::path& target) try : pending_(target) {
        const int fd = ::dup(pending_.Fd());
        if (fd >= 0) {
            file_.reset(::fdopen(fd, "wb"));
            if (!file_) {
                ::close(fd);
            }
        }
        if (!file_) {
            throw FtpError("Création du fichier temporaire impossible pour " + target.string() +
                           " : " + std::strerror(errno));
        }
    } catch (const std::system_error& e) {
        throw FtpError(std::string(e.what()));
    }

    std::FILE* File() const { return file_.get(); }
    const std::filesystem::path& Path() const { return pending_.Path(); }

    void Commit(const std::filesystem::path& target) {
        if (std::fclose(file_.release()) != 0) {
            throw FtpError("Écriture de " + target.string() +
                           " impossible : " + std::strerror(errno));
        }
        try {
            pending_.Commit();
        } catch (const std::system_error& e) {
            throw FtpError(std::string(e.what()));
        }
    }

  private:
    PendingFile pending_;
    FilePtr file_;
};

}  // namespace

struct FtpClient::Session {
    // The request handle stays in the multi handle between requests, so the connection and
    // its socket stay known to it; both go at once, the multi handle last (it sends QUIT).
    CurlPtr handle{curl_easy_init()};
    CurlMultiPtr multi{curl_multi_init()};
    bool inMulti = false;
    std::array<char, CURL_ERROR_SIZE> errors{};
    std::string baseUrl;
    FtpSecurity security = FtpSecurity::None;
    std::string caFile;
    unsigned controlPort = 0;
    bool established = false;
    bool reconnectRefused = false;

    // The server's last complete reply, every line of a multi-line one joined by " ", and the
    // lines of a multi-line reply still coming in.
    std::string lastReply;
    std::string pendingReply;
    std::string pendingCode;

    // What curl knows of the transfer type is what it last sent; an ASCII download sets the
    // server's type behind its back, which the next request puts right.
    bool serverInAscii = false;

    // Data go to the file, through the ASCII decoder when one is set, or to the text sink.
    std::FILE* out = nullptr;
    std::string* sink = nullptr;
    AsciiLineEndDecoder* decoder = nullptr;
    std::string decoded;
    int writeErrno = 0;

    std::chrono::milliseconds stallLimit{0};
    bool stallCheck = false;
    bool stalled = false;
    curl_off_t lastReceived = 0;
    std::chrono::steady_clock::time_point lastMove;

    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        if (inMulti) {
            curl_multi_remove_handle(multi.get(), handle.get());
        }
        multi.reset();
    }

    static size_t OnData(char* data, size_t size, size_t count, void* user) {
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
            return total;
        } catch (...) {
            self->writeErrno = ENOMEM;
            return 0;
        }
    }

    // Server replies arrive here, one line per call.
    static size_t OnReply(char* data, size_t size, size_t count, void* user) {
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
    void TakeReplyLine(std::string_view line) {
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
        const bool numbered = line.size() >= 4 &&
                              std::isdigit(static_cast<unsigned char>(line[0])) &&
                              std::isdigit(static_cast<unsigned char>(line[1])) &&
                              std::isdigit(static_cast<unsigned char>(line[2]));
        if (numbered && line[3] == '-') {
            pendingCode.assign(line.substr(0, 3));
            pendingReply.assign(line);
            return;
        }
        lastReply.assign(line);
    }

    // The server's last words, even when it hung up in the middle of a multi-line reply.
    std::string ServerReply() const { return pendingReply.empty() ? lastReply : pendingReply; }

    static int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
        auto* self = static_cast<Session*>(user);
        if (!self->stallCheck || self->stallLimit.count() <= 0) {
            return 0;
        }
        const auto now = std::chrono::steady_clock::now();
        if (received != self->lastReceived) {
            self->lastReceived = received;
            self->lastMove = now;
        } else if (now - self->lastMove >= self->stallLimit) {
            self->stalled = true;
            return 1;
        }
        return 0;
    }

    // curl opens a new control connection on its own when the old one is gone, and logs in
    // again; the session's login is the only one allowed, so a second connection to the
    // control port is refused. Data connections go to other ports.
    static curl_socket_t OnOpenSocket(void* user, curlsocktype purpose,
                                      struct curl_sockaddr* address) {
        auto* self = static_cast<Session*>(user);
        if (self->established && purpose == CURLSOCKTYPE_IPCXN && address->family == AF_INET) {
            sockaddr_in target{};
            std::memcpy(&target, &address->addr, sizeof target);
            if (ntohs(target.sin_port) == self->controlPort) {
                self->reconnectRefused = true;
                return CURL_SOCKET_BAD;
            }
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    void Set(CURLoption option, long value) {
        Check(curl_easy_setopt(handle.get(), option, value));
    }
    void Set(CURLoption option, const char* value) {
        Check(curl_easy_setopt(handle.get(), option, value));
    }
    void Set(CURLoption option, curl_slist* value) {
        Check(curl_easy_setopt(handle.get(), option, value));
    }
    void Check(CURLcode code) {
        if (code != CURLE_OK) {
            Fail(code, "");
        }
    }

    std::string FileUrl(const std::string& remote) {
        CurlText escaped(
            curl_easy_escape(handle.get(), remote.c_str(), static_cast<int>(remote.size())));
        if (!escaped) {
            throw FtpError("Nom de fichier FTP non valide : " + remote);
        }
        return baseUrl + escaped.get();
    }

    // Runs one request. After an ASCII download the server is put back into binary mode first,
    // as curl believes it to be, unless this request sets ASCII mode itself.
    CURLcode Run(bool setsAscii = false) {
        errors[0] = '\0';
        lastReply.clear();
        pendingReply.clear();
        pendingCode.clear();
        reconnectRefused = false;
        stalled = false;
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
    CURLcode Perform() {
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
            if (curl_multi_fdset(multi.get(), &readable, &writable, &failed, &highest) !=
                CURLM_OK) {
                return CURLE_FAILED_INIT;
            }
            // curl_multi_poll shortens the wait to curl's own timers.
            if (curl_multi_poll(multi.get(), nullptr, 0, highest < 0 ? 1 : 1000, nullptr) !=
                CURLM_OK) {
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
    [[noreturn]] void Fail(CURLcode code, const std::string& context) const {
        const std::string reply = ServerReply();
        const std::string curlText =
            errors[0] != '\0' ? std::string(errors.data()) : curl_easy_strerror(code);
        std::string text;
        if (reconnectRefused) {
            text = "La connexion au serveur FTP a été fermée par le serveur";
        } else if (stalled) {
            text = "Transfert interrompu : aucune donnée reçue depuis " +
                   std::to_string(stallLimit.count()) + " ms";
        } else if (code == CURLE_WRITE_ERROR && writeErrno != 0) {
            text =
                std::string("Écriture du fichier local impossible : ") + std::strerror(writeErrno);
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
        const std::string message = context.empty() ? text : context + " : " + text;
        if (IsSecurityNegotiation(code)) {
            throw FtpAuthError(message);
        }
        throw FtpError(message);
    }
};

FtpClient::FtpClient() = default;

FtpClient::~FtpClient() {
    Disconnect();
}

void FtpClient::Connect() {
    Disconnect();
    if (port_ < 1 || port_ > 65535) {
        throw FtpError("Port FTP non valide : " + std::to_string(port_));
    }
    if (host_.empty()) {
        throw FtpError("Aucun serveur FTP indiqué (nom d'hôte vide)");
    }
    RefuseLineBreaks(host_, "Le nom d'hôte FTP");
    RefuseLineBreaks(username_, "Le nom d'utilisateur FTP");
    RefuseLineBreaks(password_, "Le mot de passe FTP");
    const bool sftp = security_ == FtpSecurity::Sftp;
    // Checked before anything is sent: no server is reached with a setting that cannot work.
    std::string knownHosts;
    if (sftp && hostKey_.empty()) {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home == '\0') {
            throw FtpError(
                "Aucune clé d'hôte SSH de confiance : ni « CleHote » dans les "
                "paramètres ni dossier personnel (HOME) pour ~/.ssh/known_hosts");
        }
        knownHosts = std::string(home) + "/.ssh/known_hosts";
    }
    if (security_ == FtpSecurity::Tls && !caFile_.empty()) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(caFile_, error)) {
            throw FtpError("Certificat d'autorité « CertificatAC » introuvable : " + caFile_);
        }
    }
    if (sftp) {
        SftpSession::Settings settings{host_,    port_,      username_,       password_,
                                       hostKey_, knownHosts, limits_.Connect, limits_.Response};
        sftp_ = std::make_unique<SftpSession>(settings);
        return;
    }
    InitCurlOnce();

    std::unique_ptr<CURLU, CurlUrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_SCHEME, "ftp", 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_PORT, std::to_string(port_).c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_PATH, "/", 0) != CURLUE_OK) {
        throw FtpError("Préparation de l'adresse FTP impossible");
    }
    if (curl_url_set(url.get(), CURLUPART_HOST, host_.c_str(), 0) != CURLUE_OK) {
        throw FtpError("Nom d'hôte FTP non valide : " + host_);
    }
    char* rawUrl = nullptr;
    if (curl_url_get(url.get(), CURLUPART_URL, &rawUrl, 0) != CURLUE_OK) {
        throw FtpError("Nom d'hôte FTP non valide : " + host_);
    }
    const CurlText fullUrl(rawUrl);

    auto session = std::make_unique<Session>();
    if (!session->handle || !session->multi) {
        throw FtpError("Initialisation de la session FTP impossible");
    }
    session->baseUrl = fullUrl.get();
    session->security = security_;
    session->caFile = caFile_;
    session->controlPort = static_cast<unsigned>(port_);
    session->stallLimit = limits_.Stall;
    CURL* handle = session->handle.get();
    Session* user = session.get();
    session->Check(curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, session->errors.data()));
    session->Set(CURLOPT_NOSIGNAL, 1L);
    session->Set(CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
    session->Set(CURLOPT_PROXY, "");
    session->Set(CURLOPT_TCP_KEEPALIVE, 0L);
    session->Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.Connect.count()));
    session->Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, Seconds(limits_.Response));
    session->Set(CURLOPT_FTP_USE_EPSV, 1L);
    session->Check(curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Session::OnData));
    session->Check(curl_easy_setopt(handle, CURLOPT_WRITEDATA, user));
    session->Check(curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &Session::OnReply));
    session->Check(curl_easy_setopt(handle, CURLOPT_HEADERDATA, user));
    session->Check(curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &Session::OnProgress));
    session->Check(curl_easy_setopt(handle, CURLOPT_XFERINFODATA, user));
    session->Set(CURLOPT_NOPROGRESS, 0L);
    session->Check(curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &Session::OnOpenSocket));
    session->Check(curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, user));
    if (security_ == FtpSecurity::Tls) {
        // Explicit FTPS: AUTH TLS before USER, then PROT P for every data connection; a server
        // that does not agree ends the session before the user name is sent.
        session->Set(CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        session->Set(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        session->Set(CURLOPT_SSL_VERIFYPEER, 1L);
        session->Set(CURLOPT_SSL_VERIFYHOST, 2L);
        if (!caFile_.empty()) {
            session->Set(CURLOPT_CAINFO, caFile_.c_str());
            session->Set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
        }
    }
    // An empty user name leaves curl's anonymous login in place.
    if (!username_.empty()) {
        session->Set(CURLOPT_USERNAME, username_.c_str());
        session->Set(CURLOPT_PASSWORD, password_.c_str());
    }
    // "No body" on the login directory logs in (USER, PASS, PWD) and keeps the connection in the
    // handle for the requests that follow.
    session->Set(CURLOPT_URL, session->baseUrl.c_str());
    session->Set(CURLOPT_NOBODY, 1L);
    const CURLcode code = session->Run();
    if (code != CURLE_OK) {
        session->Fail(code, "");
    }
    session->established = true;
    session_ = std::move(session);
}

bool FtpClient::Connected() {
    if (sftp_) {
        const bool alive = sftp_->Alive();
        if (!alive) {
            Disconnect();
        }
        return alive;
    }
    if (!session_) {
        return false;
    }
    curl_socket_t socket = CURL_SOCKET_BAD;
    bool alive =
        curl_easy_getinfo(session_->handle.get(), CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK &&
        socket != CURL_SOCKET_BAD;
    if (alive) {
        pollfd watch{socket, POLLIN, 0};
        int ready = 0;
        do {
            ready = ::poll(&watch, 1, 0);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0 || (watch.revents & (POLLERR | POLLNVAL)) != 0) {
            alive = false;
        } else if (ready > 0) {
            // Between requests the server has nothing to say, except that it is closing.
            std::array<char, 3> peek{};
            const ssize_t got = ::recv(socket, peek.data(), peek.size(), MSG_PEEK | MSG_DONTWAIT);
            if (got == 0) {
                alive = false;
            } else if (got < 0) {
                alive = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            } else {
                alive = std::string_view(peek.data(), static_cast<size_t>(got)) !=
                        std::string_view("421", static_cast<size_t>(got));
            }
        }
    }
    if (!alive) {
        Disconnect();
    }
    return alive;
}

SftpSession& FtpClient::LiveSftp() {
    if (!Connected() || !sftp_) {
        throw FtpError("Pas de connexion ouverte avec le serveur SFTP");
    }
    return *sftp_;
}

FtpClient::Session& FtpClient::LiveSession() {
    if (!Connected()) {
        throw FtpError("Pas de connexion ouverte avec le serveur FTP");
    }
    return *session_;
}

void FtpClient::Get(const std::string& remote, const std::filesystem::path& localPath,
                    bool overwrite, bool resume, std::int64_t announcedSize) {
    CheckRemoteName(remote);
    const bool sftp = sftp_ != nullptr;
    if (sftp) {
        LiveSftp();
    } else {
        LiveSession();
    }
    const bool ascii = transferType_ == FtpTransferType::Ascii && !sftp;
    if (resume && ascii) {
        throw FtpError("Reprise d'un téléchargement impossible en mode ASCII : " + remote);
    }
    std::error_code ignored;
    const bool localExists = std::filesystem::exists(localPath, ignored);
    if (localExists && !overwrite && !resume) {
        throw FtpError("Le fichier local existe déjà : " + localPath.string());
    }
    TempFile temp(localPath);
    std::int64_t offset = 0;
    if (resume && localExists) {
        std::error_code error;
        std::filesystem::copy_file(localPath, temp.Path(),
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (error || std::fseek(temp.File(), 0, SEEK_END) != 0) {
            throw FtpError("Reprise de " + localPath.string() +
                           " impossible : " + (error ? error.message() : std::strerror(errno)));
        }
        offset = static_cast<std::int64_t>(std::ftell(temp.File()));
    }
    std::int64_t received = 0;
    if (sftp) {
        received = LiveSftp().Download(remote, temp.File(), offset, limits_.Stall) + offset;
    } else {
        received = GetOverFtp(remote, localPath, ascii, offset, temp.File());
    }
    if (announcedSize >= 0 && received >= 0 && received < announcedSize) {
        throw FtpError(remote + " : transfert incomplet, " + std::to_string(received) +
                       " octets reçus sur " + std::to_string(announcedSize));
    }
    temp.Commit(localPath);
}

std::int64_t FtpClient::GetOverFtp(const std::string& remote,
                                   const std::filesystem::path& localPath, bool ascii,
                                   std::int64_t offset, std::FILE* out) {
    Session& session = LiveSession();
    CURL* handle = session.handle.get();
    const std::string url = session.FileUrl(remote);
    session.Set(CURLOPT_URL, url.c_str());
    session.Set(CURLOPT_NOBODY, 0L);
    // curl's own ASCII conversion also turns a lone CR into a line end: the server is put into
    // ASCII mode just before RETR, curl left in binary, and the stream decoded here. curl
    // would ask SIZE after that TYPE A, which servers refuse in ASCII mode.
    AsciiLineEndDecoder decoder;
    CurlList asciiType;
    if (ascii) {
        asciiType = OneCommand("TYPE A");
    }
    session.Set(CURLOPT_TRANSFERTEXT, 0L);
    session.Set(CURLOPT_PREQUOTE, asciiType.get());
    session.Set(CURLOPT_IGNORE_CONTENT_LENGTH, ascii ? 1L : 0L);
    session.Set(CURLOPT_FTPPORT, passive_ ? nullptr : "-");
    session.Set(CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.Transfer.count()));
    session.Check(
        curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset)));
    session.out = out;
    session.decoder = ascii ? &decoder : nullptr;
    session.stallLimit = limits_.Stall;
    session.stallCheck = true;
    const CURLcode code = session.Run(ascii);
    session.out = nullptr;
    session.decoder = nullptr;
    session.stallCheck = false;
    curl_easy_setopt(handle, CURLOPT_PREQUOTE, nullptr);
    curl_easy_setopt(handle, CURLOPT_IGNORE_CONTENT_LENGTH, 0L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, 0L);
    curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, curl_off_t{0});
    if (code != CURLE_OK) {
        session.Fail(code, remote);
    }
    std::string heldBack;
    decoder.Finish(heldBack);
    if (!heldBack.empty() &&
        std::fwrite(heldBack.data(), 1, heldBack.size(), out) != heldBack.size()) {
        throw FtpError("Écriture de " + localPath.string() +
                       " impossible : " + std::strerror(errno));
    }
    // Counted as the bytes came off the data connection, before the ASCII mode's CR LF to LF
    // decoding, so the count compares with the size the server gave.
    curl_off_t received = 0;
    if (curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &received) != CURLE_OK) {
        received = -1;
    }
    return received < 0 ? -1 : static_cast<std::int64_t>(received) + offset;
}

std::int64_t FtpClient::Size(const std::string& remote) {
    CheckRemoteName(remote);
    if (sftp_) {
        // What the login folder's listing does not show is not there, as over FTP.
        const auto names = ListNames();
        if (std::find(names.begin(), names.end(), remote) == names.end()) {
            return -1;
        }
        return LiveSftp().Size(remote);
    }
    Session& session = LiveSession();
    CURL* handle = session.handle.get();
    const std::string url = session.FileUrl(remote);
    session.Set(CURLOPT_URL, url.c_str());
    // Servers refuse SIZE in ASCII mode, which would read as an absent file.
    session.Set(CURLOPT_NOBODY, 1L);
    session.Set(CURLOPT_TRANSFERTEXT, 0L);
    session.Set(CURLOPT_FTPPORT, passive_ ? nullptr : "-");
    const CURLcode code = session.Run();
    if (code == CURLE_REMOTE_FILE_NOT_FOUND) {
        return -1;
    }
    if (code != CURLE_OK) {
        session.Fail(code, remote);
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) {
        length = -1;
    }
    return length >= 0 ? static_cast<std::int64_t>(length) : -1;
}

std::vector<std::string> FtpClient::ListNames() {
    if (sftp_) {
        return LiveSftp().ListNames();
    }
    Session& session = LiveSession();
    std::string listing;
    session.Set(CURLOPT_URL, session.baseUrl.c_str());
    session.Set(CURLOPT_NOBODY, 0L);
    session.Set(CURLOPT_TRANSFERTEXT, 0L);
    session.Set(CURLOPT_DIRLISTONLY, 1L);
    session.Set(CURLOPT_FTPPORT, passive_ ? nullptr : "-");
    session.sink = &listing;
    const CURLcode code = session.Run();
    session.sink = nullptr;
    curl_easy_setopt(session.handle.get(), CURLOPT_DIRLISTONLY, 0L);
    std::vector<std::string> names;
    if (code == CURLE_REMOTE_FILE_NOT_FOUND || code == CURLE_REMOTE_ACCESS_DENIED ||
        code == CURLE_FTP_COULDNT_RETR_FILE) {
        return names;
    }
    if (code != CURLE_OK) {
        session.Fail(code, "Liste des fichiers");
    }
    std::string_view rest(listing);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view name = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!name.empty() && name.back() == '\r') {
            name.remove_suffix(1);
        }
        // Some servers name the entries of the current folder "./name".
        if (name.substr(0, 2) == "./") {
            name.remove_prefix(2);
        }
        if (!name.empty()) {
            names.emplace_back(name);
        }
    }
    return names;
}

void FtpClient::Disconnect() noexcept {
    session_.reset();
    sftp_.reset();
}

}  // namespace quorvane
