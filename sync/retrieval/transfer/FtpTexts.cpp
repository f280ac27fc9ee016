#include "sync/retrieval/transfer/FtpTexts.h"

#include <algorithm>
#include <array>

#include "sync/retrieval/FtpClient.h"

namespace quorvane {

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

}  // namespace quorvane
