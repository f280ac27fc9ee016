#include "sync/retrieval/FtpClient.h"

#include <curl/curl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

#include "base/SharedFolder.h"
#include "sync/retrieval/AsciiLineEnds.h"
#include "sync/retrieval/SftpSession.h"
#include "sync/retrieval/transfer/CurlSession.h"
#include "sync/retrieval/transfer/DownloadTempFile.h"
#include "sync/retrieval/transfer/FtpTexts.h"
#include "sync/retrieval/transfer/ProxyChoice.h"

namespace quorvane {

namespace {

long Seconds(std::chrono::milliseconds value) {
    return static_cast<long>((value.count() + 999) / 1000);
}

}  // namespace

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
    // Read once here, by the rule on links and never waiting on a pipe put at its name: the
    // settings naming it are the group's. libcurl gets the bytes, not the name.
    std::string caCertificates;
    if (security_ == FtpSecurity::Tls && !caFile_.empty()) {
        auto bytes = ReadFileBytes(caFile_);
        if (!bytes) {
            throw FtpError("Certificat d'autorité « CertificatAC » introuvable : " + caFile_);
        }
        caCertificates = std::move(*bytes);
    }
    route_ = {};
    const std::string host = BareHost(host_);
    const auto proxy = ChooseProxy(proxy_, host);
    if (sftp) {
        const SftpSession::Settings settings{
            host,       port_,           username_,        password_, hostKey_,
            knownHosts, limits_.Connect, limits_.Response, proxy};
        sftp_ = std::make_unique<SftpSession>(settings);
        route_ = sftp_->Route();
        return;
    }
    InitCurlOnce();

    std::unique_ptr<CURLU, CurlUrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_SCHEME, "ftp", 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_PORT, std::to_string(port_).c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_PATH, "/", 0) != CURLUE_OK) {
        throw FtpError("Préparation de l'adresse FTP impossible");
    }
    // curl takes an IPv6 address between brackets, with them or not in the settings.
    const std::string urlHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (curl_url_set(url.get(), CURLUPART_HOST, urlHost.c_str(), 0) != CURLUE_OK) {
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
    session->host = host_;
    session->security = security_;
    session->caFile = caFile_;
    session->controlPort = static_cast<unsigned>(port_);
    session->stallLimit = limits_.Stall;
    CURL* handle = session->handle.get();
    Session* user = session.get();
    session->Check(curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, session->errors.data()));
    session->Set(CURLOPT_NOSIGNAL, 1L);
    // Both families, whichever answers first.
    session->Set(CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_WHATEVER));
    // The proxy chosen here, never one curl would find on its own: "aucun" means none.
    std::string proxyUrl;
    if (proxy) {
        proxyUrl = proxy->CurlUrl();
        session->proxyShown = proxy->Shown();
        // Data connections go through CONNECT tunnels too, so FTP is as without a proxy.
        session->Set(CURLOPT_HTTPPROXYTUNNEL, proxy->Kind == ProxyKind::Http ? 1L : 0L);
        session->Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    }
    session->Set(CURLOPT_PROXY, proxyUrl.c_str());
    // Keep-alive is set on each socket as it opens (OnOpenSocket), with counts curl does not
    // offer, so that a connection the network dropped in silence is found within seconds.
    session->Set(CURLOPT_TCP_KEEPALIVE, 0L);
    session->Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.Connect.count()));
    session->Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, Seconds(limits_.Response));
    // EPSV, then PASV; a PASV reply's address is replaced by the control connection's, as
    // servers behind a NAT announce private ones.
    session->Set(CURLOPT_FTP_USE_EPSV, 1L);
    session->Set(CURLOPT_FTP_SKIP_PASV_IP, 1L);
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
            curl_blob certificates{caCertificates.data(), caCertificates.size(), CURL_BLOB_COPY};
            session->Check(curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &certificates));
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
    char* address = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &address) == CURLE_OK &&
        address != nullptr) {
        route_.Address = address;
        route_.Ipv6 = route_.Address.find(':') != std::string::npos;
    }
    route_.Proxy = session->proxyShown;
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
        throw FtpError("Pas de connexion ouverte avec le serveur SFTP",
                       FailureCause::ConnectionLost);
    }
    return *sftp_;
}

FtpClient::Session& FtpClient::LiveSession() {
    if (!Connected()) {
        throw FtpError("Pas de connexion ouverte avec le serveur FTP",
                       FailureCause::ConnectionLost);
    }
    return *session_;
}

FileDigest FtpClient::Get(const std::string& remote, const std::filesystem::path& localPath,
                          bool overwrite, bool resume, std::int64_t announcedSize,
                          CommitCheck check) {
    sizeChecked_ = false;
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
    DownloadTempFile temp(localPath, std::move(check));
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
    Arrived arrived;
    if (sftp) {
        arrived.Received =
            LiveSftp().Download(remote, temp.File(), offset, limits_.Stall, limits_.Floor) + offset;
        arrived.Written = arrived.Received;
    } else {
        arrived = GetOverFtp(remote, localPath, ascii, offset, announcedSize, temp.File());
    }
    const bool checked = announcedSize >= 0 && arrived.Received >= 0;
    const bool cut = sftp ? arrived.Received < announcedSize
                          : arrived.Received != announcedSize && arrived.Written != announcedSize;
    if (checked && cut) {
        // Shorter: cut off. Longer: the file changed while it was being fetched. Both may be
        // whole at the next attempt.
        throw FtpError(remote + " : transfert incomplet, " + std::to_string(arrived.Received) +
                           " octets reçus sur " + std::to_string(announcedSize),
                       FailureCause::ConnectionLost);
    }
    sizeChecked_ = checked;
    return temp.Commit(localPath);
}

FtpClient::Arrived FtpClient::GetOverFtp(const std::string& remote,
                                         const std::filesystem::path& localPath, bool ascii,
                                         std::int64_t offset, std::int64_t announcedSize,
                                         std::FILE* out) {
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
    session.floor = limits_.Floor;
    session.written = 0;
    session.stallCheck = true;
    const CURLcode code = session.Run(ascii);
    session.out = nullptr;
    session.decoder = nullptr;
    session.stallCheck = false;
    curl_easy_setopt(handle, CURLOPT_PREQUOTE, nullptr);
    curl_easy_setopt(handle, CURLOPT_IGNORE_CONTENT_LENGTH, 0L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, 0L);
    curl_easy_setopt(handle, CURLOPT_RESUME_FROM_LARGE, curl_off_t{0});
    std::string heldBack;
    decoder.Finish(heldBack);
    if (!heldBack.empty() &&
        std::fwrite(heldBack.data(), 1, heldBack.size(), out) != heldBack.size()) {
        throw FtpError(
            "Écriture de " + localPath.string() + " impossible : " + std::strerror(errno),
            FailureCause::LocalFailure);
    }
    // Counted as the bytes came off the data connection, before the ASCII mode's CR LF to LF
    // decoding.
    curl_off_t received = 0;
    if (curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &received) != CURLE_OK) {
        received = -1;
    }
    Arrived arrived;
    if (received >= 0) {
        arrived.Received = static_cast<std::int64_t>(received) + offset;
        arrived.Written = session.written + static_cast<std::int64_t>(heldBack.size()) + offset;
    }
    if (code != CURLE_OK) {
        // The control connection died, or went silent, once every byte had come (a NAT that
        // forgot it during a long transfer): the file is whole, only the session is lost.
        const bool whole = announcedSize >= 0 &&
                           (arrived.Received == announcedSize || arrived.Written == announcedSize);
        const FailureCause cause = CauseOfCurl(code, ReplyCode(session.ServerReply()));
        if (whole && IsTransient(cause)) {
            Disconnect();
            return arrived;
        }
        session.Fail(code, remote);
    }
    return arrived;
}

std::int64_t FtpClient::Size(const std::string& remote) {
    CheckRemoteName(remote);
    if (sftp_) {
        // What the login folder's listing does not show is not there, as over FTP.
        const auto names = ListNames();
        if (std::find(names.begin(), names.end(), remote) == names.end()) {
            return -1;
        }
        // Without a size the file is there all the same; the download cannot be checked.
        const std::int64_t size = LiveSftp().Size(remote);
        return size == SftpSession::kNoSize ? -1 : size;
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

std::optional<std::int64_t> FtpClient::Presence(const std::string& remote) {
    const std::int64_t size = Size(remote);
    if (size >= 0) {
        return size;
    }
    const auto names = ListNames();
    if (std::find(names.begin(), names.end(), remote) == names.end()) {
        return std::nullopt;
    }
    return -1;
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
