#include "base/Sha256.h"

#include <openssl/evp.h>

#include <array>
#include <new>

namespace quorvane {

struct Sha256::Context {
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> md{EVP_MD_CTX_new()};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (!context_->md || EVP_DigestInit_ex(context_->md.get(), EVP_sha256(), nullptr) != 1) {
        throw std::bad_alloc();
    }
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    EVP_DigestUpdate(context_->md.get(), data, size);
    size_ += static_cast<std::int64_t>(size);
}

std::string Sha256::HexDigest() const {
    const std::unique_ptr<EVP_MD_CTX, Context::Free> copy(EVP_MD_CTX_new());
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (!copy || EVP_MD_CTX_copy_ex(copy.get(), context_->md.get()) != 1 ||
        EVP_DigestFinal_ex(copy.get(), digest.data(), &length) != 1) {
        throw std::bad_alloc();
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0x0f]);
    }
    return text;
}

}  // namespace quorvane
