#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorvane {

// The size and SHA-256 of a file's bytes, taken as they were written. An empty `Sha256` means
// the bytes were not all seen (a download resumed from bytes already on disk).
struct FileDigest {
    std::int64_t Size = 0;
    std::string Sha256;  // lowercase hexadecimal
};

// SHA-256 fed piece by piece, so that a file is hashed as it streams past instead of being read
// a second time. Uses libcrypto, whose SHA-256 runs on the processor's SHA instructions where
// they exist: a portable implementation would cost a visible share of a large file's run.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    std::int64_t Size() const { return size_; }
    // The digest of everything fed so far; feeding may go on afterwards.
    std::string HexDigest() const;

  private:
    struct Context;
    std::unique_ptr<Context> context_;
    std::int64_t size_ = 0;
};

}  // namespace quorvane
