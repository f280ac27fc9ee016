#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// A head office's public key as minisign writes it: the base64 line of its ".pub" file, which
// holds the algorithm ("Ed"), the key's 8-byte id and the Ed25519 key.
struct MinisignPublicKey {
    std::array<unsigned char, 8> KeyId{};
    std::array<unsigned char, 32> Key{};
};

// A ".minisig" file: the signature of the file (of its BLAKE2b-512 hash when prehashed, which
// minisign does by default, or of its bytes for the legacy form), the id of the key that made
// it, the trusted comment and the global signature that binds that comment to the signature.
struct MinisignSignature {
    bool Prehashed = true;
    std::array<unsigned char, 8> KeyId{};
    std::array<unsigned char, 64> Signature{};
    std::string TrustedComment;
    std::array<unsigned char, 64> GlobalSignature{};
};

// One base64 key line; nothing when it is not a minisign Ed25519 public key.
std::optional<MinisignPublicKey> ParseMinisignPublicKey(std::string_view line);
// The keys of a setting that may hold several key lines separated by blanks (the old and the
// new key while a network changes keys); nothing when any of them is not a key, or none given.
std::optional<std::vector<MinisignPublicKey>> ParseMinisignPublicKeys(std::string_view text);
// The four lines of a ".minisig" file (LF or CR LF); nothing when the file is not one.
std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text);

// Whether `signature` was made on `message` by the key among `keys` whose id it names, trusted
// comment included.
bool VerifyMinisign(const std::vector<MinisignPublicKey>& keys, const MinisignSignature& signature,
                    std::string_view message);

}  // namespace quorvane
