#pragma once

// The libcurl side of the FTP client: the handles, the request loop over the multi handle and
// what curl hands back (data, server replies, progress, sockets).

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sync/retrieval/FtpClient.h"

namespace quorvane {

class AsciiLineEndDecoder;

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
struct CurlSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using CurlMultiPtr = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using CurlText = std::unique_ptr<char, CurlFreeDeleter>;

void InitCurlOnce();

CurlList OneCommand(const char* command);

struct FtpClient::Session {
    // The request handle stays in the multi handle between requests, so the connection and
    // its socket stay known to it; both go at once, the multi handle last (it sends QUIT).
    CurlPtr handle{curl_easy_init()};
    CurlMultiPtr multi{curl_multi_init()};
    bool inMulti = false;
    std::array<char, CURL_ERROR_SIZE> errors{};
    std::string baseUrl;
    std::string host;
    FtpSecurity security = FtpSecurity::None;
    std::string caFile;
    unsigned controlPort = 0;
    // The proxy the session goes through, as shown in failures; empty without one.
    std::string proxyShown;
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
    FloorRate floor;
    std::optional<PaceWatch> pace;
    std::int64_t written = 0;
    bool stallCheck = false;
    bool stalled = false;
    bool tooSlow = false;
    curl_off_t lastReceived = 0;
    std::chrono::steady_clock::time_point lastMove;

    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    static size_t OnData(char* data, size_t size, size_t count, void* user);

    static size_t OnReply(char* data, size_t size, size_t count, void* user);

    void TakeReplyLine(std::string_view line);

    // The server's last words, even when it hung up in the middle of a multi-line reply.
    std::string ServerReply() const { return pendingReply.empty() ? lastReply : pendingReply; }

    static int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t);

    static curl_socket_t OnOpenSocket(void* user, curlsocktype purpose,
                                      struct curl_sockaddr* address);

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

    std::string FileUrl(const std::string& remote);

    CURLcode Run(bool setsAscii = false);

    CURLcode Perform();

    [[noreturn]] void Fail(CURLcode code, const std::string& context) const;
};

}  // namespace quorvane
