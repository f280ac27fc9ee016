#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// Head-office sets signed the way a head office signs them: a key pair made by minisign, and
// tools/publish-manifest.sh writing and signing the manifest.
namespace quorvane::testing {

class MinisignKey {
  public:
    // Makes a key pair without password in `folder`.
    explicit MinisignKey(const std::filesystem::path& folder);

    // The base64 line of the public key, as "ClePublique" holds it.
    const std::string& PublicLine() const { return publicLine_; }
    const std::filesystem::path& SecretKey() const { return secretKey_; }

    // Signs `file` into `file.minisig`; `legacy` for minisign's older, not prehashed form.
    void Sign(const std::filesystem::path& file, bool legacy = false,
              const std::string& trustedComment = "signé pour le test") const;
    // Writes and signs the manifest of the head-office files in `folder` (publish-manifest.sh).
    void Publish(const std::filesystem::path& folder, std::uint64_t generation,
                 const std::string& expire = "2099-01-01T00:00:00Z") const;

  private:
    std::filesystem::path secretKey_;
    std::string publicLine_;
};

}  // namespace quorvane::testing
