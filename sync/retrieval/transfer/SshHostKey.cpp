#include "sync/retrieval/transfer/SshHostKey.h"

#include <algorithm>
#include <cctype>

#include "sync/retrieval/FtpClient.h"
#include "sync/retrieval/SftpSession.h"

namespace quorvane {

std::string LibraryText(ssh_session session) {
    const char* text = ssh_get_error(session);
    return text != nullptr && *text != '\0' ? std::string(text) : std::string("erreur SSH");
}

SeenKey ServerKey(ssh_session session) {
    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(session, &raw) != SSH_OK) {
        throw FtpAuthError("Clé d'hôte SSH du serveur illisible : " + LibraryText(session));
    }
    const KeyPtr key(raw);
    unsigned char* hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key.get(), SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != 0) {
        throw FtpAuthError("Empreinte de la clé d'hôte SSH du serveur impossible à calculer");
    }
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    if (text == nullptr) {
        throw FtpAuthError("Empreinte de la clé d'hôte SSH du serveur impossible à calculer");
    }
    SeenKey seen{text, ssh_key_type_to_char(ssh_key_type(key.get()))};
    ssh_string_free_char(text);
    // The library pads nothing today; what CleHote takes has no padding either way.
    while (!seen.Fingerprint.empty() && seen.Fingerprint.back() == '=') {
        seen.Fingerprint.pop_back();
    }
    return seen;
}

const char* FamilyOf(const std::string& type) {
    if (type.find("ed25519") != std::string::npos) {
        return kHostKeyFamilies[0];
    }
    return type.find("ecdsa") != std::string::npos ? kHostKeyFamilies[1] : kHostKeyFamilies[2];
}

std::string Shown(const SeenKey& key) {
    return key.Fingerprint + " (" + key.Type + ")";
}

std::string NormalisedHostKey(const std::string& fingerprint) {
    static constexpr std::string_view prefix = "SHA256:";
    std::string_view digest(fingerprint);
    if (digest.substr(0, prefix.size()) != prefix) {
        throw FtpError(
            "Empreinte de clé d'hôte « CleHote » non valide (attendu « SHA256:… » comme "
            "l'affiche ssh-keygen -l -E sha256) : " +
            fingerprint);
    }
    digest.remove_prefix(prefix.size());
    while (!digest.empty() && digest.back() == '=') {
        digest.remove_suffix(1);
    }
    const bool base64 =
        digest.size() == 43 && std::all_of(digest.begin(), digest.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '/';
        });
    if (!base64) {
        throw FtpError("Empreinte de clé d'hôte « CleHote » non valide : " + fingerprint);
    }
    return std::string(prefix) + std::string(digest);
}

void CheckKnownHosts(ssh_session session, const std::string& knownHosts) {
    const SeenKey key = ServerKey(session);
    const std::string server = " ; clé du serveur : " + Shown(key);
    switch (ssh_session_is_known_server(session)) {
        case SSH_KNOWN_HOSTS_OK:
            return;
        case SSH_KNOWN_HOSTS_CHANGED:
            throw FtpAuthError(
                "La clé d'hôte SSH du serveur a changé : elle ne correspond pas à celle de " +
                knownHosts + std::string(kRefusedTail) + server);
        case SSH_KNOWN_HOSTS_OTHER:
            throw FtpAuthError("Clé d'hôte SSH du serveur inconnue : " + knownHosts +
                               " ne connaît ce serveur que sous une clé d'un autre type que " +
                               key.Type + std::string(kRefusedTail) + server);
        case SSH_KNOWN_HOSTS_UNKNOWN:
        case SSH_KNOWN_HOSTS_NOT_FOUND:
            throw FtpAuthError("Clé d'hôte SSH du serveur inconnue : elle ne figure pas dans " +
                               knownHosts + std::string(kRefusedTail) + server);
        case SSH_KNOWN_HOSTS_ERROR:
        default:
            throw FtpAuthError("Lecture de " + knownHosts + " impossible" +
                               std::string(kRefusedTail) + server);
    }
}

}  // namespace quorvane
