#include "sync/FtpClient.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>

#include "sync/PendingFile.h"

namespace quorvane {

namespace {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
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
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
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
    CurlPtr handle{curl_easy_init()};
    std::array<char, CURL_ERROR_SIZE> errors{};
    std::string baseUrl;
    std::string lastReply;
    unsigned controlPort = 0;
    bool established = false;
    bool reconnectRefused = false;

    std::FILE* out = nullptr;
    int writeErrno = 0;

    std::chrono::milliseconds stallLimit{0};
    bool stallCheck = false;
    bool stalled = false;
    curl_off_t lastReceived = 0;
    std::chrono::steady_clock::time_point lastMove;

    static size_t OnData(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Session*>(user);
        const size_t total = size * count;
        if (self->out == nullptr) {
            return total;
        }
        const size_t written = std::fwrite(data, 1, total, self->out);
        if (written != total) {
            self->writeErrno = errno;
        }
        return written;
    }

    // Server replies arrive here, one line per call; the last one explains a refusal.
    static size_t OnReply(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Session*>(user);
        const size_t total = size * count;
        try {
            std::string_view line(data, total);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                line.remove_suffix(1);
            }
            self->lastReply.assign(line);
        } catch (...) {
            self->lastReply.clear();
        }
        return total;
    }

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

    CURLcode Run() {
        errors[0] = '\0';
        lastReply.clear();
        reconnectRefused = false;
        stalled = false;
        writeErrno = 0;
        lastReceived = 0;
        lastMove = std::chrono::steady_clock::now();
        return curl_easy_perform(handle.get());
    }

    [[noreturn]] void Fail(CURLcode code, const std::string& context) const {
        std::string text;
        if (reconnectRefused) {
            text = "La connexion au serveur FTP a été fermée par le serveur";
        } else if (stalled) {
            text = "Transfert interrompu : aucune donnée reçue depuis " +
                   std::to_string(stallLimit.count()) + " ms";
        } else if (code == CURLE_WRITE_ERROR && writeErrno != 0) {
            text =
                std::string("Écriture du fichier local impossible : ") + std::strerror(writeErrno);
        } else {
            text = errors[0] != '\0' ? std::string(errors.data()) : curl_easy_strerror(code);
            if (!lastReply.empty() && (lastReply[0] == '4' || lastReply[0] == '5') &&
                text.find(lastReply) == std::string::npos) {
                text += " (" + lastReply + ")";
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
    if (!session->handle) {
        throw FtpError("Initialisation de la session FTP impossible");
    }
    session->baseUrl = fullUrl.get();
    session->controlPort = static_cast<unsigned>(port_);
    session->stallLimit = stallLimit_;
    CURL* handle = session->handle.get();
    Session* user = session.get();
    session->Check(curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, session->errors.data()));
    session->Set(CURLOPT_NOSIGNAL, 1L);
    session->Set(CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
    session->Set(CURLOPT_PROXY, "");
    session->Set(CURLOPT_TCP_KEEPALIVE, 0L);
    session->Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout_.count()));
    session->Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, Seconds(responseTimeout_));
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
    // An empty user name leaves curl's anonymous login in place.
    if (!username_.empty()) {
        session->Set(CURLOPT_USERNAME, username_.c_str());
        session->Set(CURLOPT_PASSWORD, password_.c_str());
    }
    // "No body" on the login directory logs in (USER, PASS, PWD) and keeps the connection
    // in the handle for the requests that follow.
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

FtpClient::Session& FtpClient::LiveSession() {
    if (!Connected()) {
        throw FtpError("Pas de connexion ouverte avec le serveur FTP");
    }
    return *session_;
}

void FtpClient::Get(const std::string& remote, const std::filesystem::path& localPath,
                    bool overwrite, bool resume, std::int64_t announcedSize) {
    CheckRemoteName(remote);
    if (resume && transferType_ == FtpTransferType::Ascii) {
        throw FtpError("Reprise d'un téléchargement impossible en mode ASCII : " + remote);
    }
    std::error_code ignored;
    const bool localExists = std::filesystem::exists(localPath, ignored);
    if (localExists && !overwrite && !resume) {
        throw FtpError("Le fichier local existe déjà : " + localPath.string());
    }
    Session& session = LiveSession();

    TempFile temp(localPath);
    curl_off_t offset = 0;
    if (resume && localExists) {
        std::error_code error;
        std::filesystem::copy_file(localPath, temp.Path(),
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (error || std::fseek(temp.File(), 0, SEEK_END) != 0) {
            throw FtpError("Reprise de " + localPath.string() +
                           " impossible : " + (error ? error.message() : std::strerror(errno)));
        }
        offset = static_cast<curl_off_t>(std::ftell(temp.File()));
    }

    CURL* handle = session.handle.get();
    const std::string url = session.FileUrl(remote);
    session.Set(CURLOPT_URL, url.c_str());
    session.Set(CURLOPT_NOBODY, 0L);
    session.Set(CURLOPT_TRANSFERTEXT, transferType_ == FtpTransferType::Ascii ? 1L : 0L);
    session.Set(CURLOPT_FTPPORT, passive_ ? nullptr : "-");
    session.Set(CURLOPT_TIMEOUT_MS, static_cast<long>(transferTimeout_.count()));
    session.Check(curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, offset));
    session.out = temp.File();
    session.stallLimit = stallLimit_;
    session.stallCheck = true;
    const CURLcode code = session.Run();
    session.out = nullptr;
    session.stallCheck = false;
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, 0L);
    curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, curl_off_t{0});
    if (code != CURLE_OK) {
        session.Fail(code, remote);
    }
    // Counted as the bytes came off the data connection, before the ASCII mode's CR LF to LF
    // conversion, so the count compares with the size the server gave.
    curl_off_t received = 0;
    if (curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &received) != CURLE_OK) {
        received = -1;
    }
    received += offset;
    if (announcedSize >= 0 && received >= 0 && received < announcedSize) {
        throw FtpError(remote + " : transfert incomplet, " + std::to_string(received) +
                       " octets reçus sur " + std::to_string(announcedSize));
    }
    temp.Commit(localPath);
}

std::int64_t FtpClient::Size(const std::string& remote) {
    CheckRemoteName(remote);
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
        return -1;
    }
    return length >= 0 ? static_cast<std::int64_t>(length) : -1;
}

void FtpClient::Disconnect() noexcept {
    session_.reset();
}

}  // namespace quorvane
