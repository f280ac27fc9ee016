#include "sync/signature/Minisign.h"

#include "sync/signature/Manifest.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace quorvane {
namespace {

constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";
// minisign refuses longer trusted comments when it signs.
constexpr std::size_t kMaxTrustedComment = 8192;

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// The bytes of a base64 text, only when it decodes to exactly `size` bytes.
std::optional<std::vector<unsigned char>> Base64(std::string_view text, std::size_t size) {
    std::vector<unsigned char> bytes(size + 1);
    std::size_t length = 0;
    const char* end = nullptr;
    if (!SodiumReady() ||
        sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length,
                          &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size() || length != size) {
        return std::nullopt;
    }
    bytes.resize(size);
    return bytes;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

template <std::size_t N>
void CopyInto(std::array<unsigned char, N>& to, const unsigned char* from) {
    std::memcpy(to.data(), from, N);
}

}  // namespace

std::optional<MinisignPublicKey> ParseMinisignPublicKey(std::string_view line) {
    const auto bytes = Base64(line, 2 + 8 + 32);
    if (!bytes || (*bytes)[0] != 'E' || (*bytes)[1] != 'd') {
        return std::nullopt;
    }
    MinisignPublicKey key;
    CopyInto(key.KeyId, bytes->data() + 2);
    CopyInto(key.Key, bytes->data() + 10);
    return key;
}

std::optional<std::vector<MinisignPublicKey>> ParseMinisignPublicKeys(std::string_view text) {
    std::vector<MinisignPublicKey> keys;
    constexpr std::string_view kBlanks = " \t";
    for (;;) {
        const auto start = text.find_first_not_of(kBlanks);
        if (start == std::string_view::npos) {
            break;
        }
        text.remove_prefix(start);
        const auto end = std::min(text.find_first_of(kBlanks), text.size());
        const auto key = ParseMinisignPublicKey(text.substr(0, end));
        if (!key) {
            return std::nullopt;
        }
        keys.push_back(*key);
        text.remove_prefix(end);
    }
    if (keys.empty()) {
        return std::nullopt;
    }
    return keys;
}

std::optional<MinisignSignature> ParseMinisignSignature(std::string_view text) {
    const std::string_view untrusted = TakeLine(text);
    const std::string_view signatureLine = TakeLine(text);
    const std::string_view trusted = TakeLine(text);
    const std::string_view globalLine = TakeLine(text);
    // Nothing but line ends may follow the four lines.
    if (!StartsWith(untrusted, kUntrusted) || !StartsWith(trusted, kTrusted) ||
        trusted.size() - kTrusted.size() > kMaxTrustedComment ||
        text.find_first_not_of("\r\n") != std::string_view::npos) {
        return std::nullopt;
    }
    const auto signature = Base64(signatureLine, 2 + 8 + 64);
    const auto global = Base64(globalLine, 64);
    if (!signature || !global || (*signature)[0] != 'E') {
        return std::nullopt;
    }
    MinisignSignature result;
    if ((*signature)[1] == 'd') {
        result.Prehashed = false;
    } else if ((*signature)[1] != 'D') {
        return std::nullopt;
    }
    CopyInto(result.KeyId, signature->data() + 2);
    CopyInto(result.Signature, signature->data() + 10);
    result.TrustedComment = trusted.substr(kTrusted.size());
    CopyInto(result.GlobalSignature, global->data());
    return result;
}

bool VerifyMinisign(const std::vector<MinisignPublicKey>& keys, const MinisignSignature& signature,
                    std::string_view message) {
    if (!SodiumReady()) {
        return false;
    }
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const MinisignPublicKey& k) {
        return k.KeyId == signature.KeyId;
    });
    if (key == keys.end()) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    std::array<unsigned char, crypto_generichash_BYTES_MAX> hash{};
    if (signature.Prehashed) {
        crypto_generichash(hash.data(), hash.size(), bytes, message.size(), nullptr, 0);
    }
    const bool fileSigned =
        signature.Prehashed ? crypto_sign_verify_detached(signature.Signature.data(), hash.data(),
                                                          hash.size(), key->Key.data()) == 0
                            : crypto_sign_verify_detached(signature.Signature.data(), bytes,
                                                          message.size(), key->Key.data()) == 0;
    if (!fileSigned) {
        return false;
    }
    // The global signature covers the file's signature followed by the trusted comment.
    std::vector<unsigned char> bound(signature.Signature.begin(), signature.Signature.end());
    bound.insert(bound.end(), signature.TrustedComment.begin(), signature.TrustedComment.end());
    return crypto_sign_verify_detached(signature.GlobalSignature.data(), bound.data(), bound.size(),
                                       key->Key.data()) == 0;
}

}  // namespace quorvane
