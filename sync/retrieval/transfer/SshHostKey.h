#pragma once

// The SFTP server's host key: its fingerprint, the families of key a server may hold and the
// check against known_hosts, all before any password is sent.

#include <libssh/libssh.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace quorvane {

inline constexpr std::string_view kRefusedTail = " (connexion refusée, rien n'a été envoyé)";

// The families of host key a server may hold, each asked for on its own when a pinned
// fingerprint has to be found among the server's keys.
inline constexpr std::array<const char*, 3> kHostKeyFamilies = {
    "ssh-ed25519", "ecdsa-sha2-nistp521,ecdsa-sha2-nistp384,ecdsa-sha2-nistp256",
    "rsa-sha2-512,rsa-sha2-256"};

struct KeyFree {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
using KeyPtr = std::unique_ptr<ssh_key_struct, KeyFree>;

std::string LibraryText(ssh_session session);

// The server's key as CleHote and ssh-keygen name it, and its type.
struct SeenKey {
    std::string Fingerprint;
    std::string Type;
};

SeenKey ServerKey(ssh_session session);

const char* FamilyOf(const std::string& type);

std::string Shown(const SeenKey& key);

void CheckKnownHosts(ssh_session session, const std::string& knownHosts);

}  // namespace quorvane
