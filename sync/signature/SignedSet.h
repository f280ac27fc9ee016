#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "sync/RunState.h"
#include "sync/signature/Manifest.h"

namespace quorvane {

// The names the head office publishes its manifest and the manifest's signature under, beside
// the six files.
inline constexpr std::string_view kManifestName = "quorvane.manifest";
inline constexpr std::string_view kManifestSignatureName = "quorvane.manifest.minisig";

// The two files as fetched: nothing for one that could not be fetched or read.
struct ManifestTexts {
    std::optional<std::string> Manifest;
    std::optional<std::string> Signature;
};

// A manifest or signature file's bytes; nothing when it cannot be read or is far larger than
// any manifest (a folder's stray file is not read into memory whole).
std::optional<std::string> ReadManifestFile(const std::string& path);

// The set of head-office files a signed manifest vouches for, once accepted.
class SignedSet {
  public:
    // "VerifierManifeste": the manifest signed by one of `keys` (the "ClePublique" text), not
    // older than the newest generation the program folder accepted, not expired at `now`.
    // Otherwise its entry goes into the run's list and nothing is returned.
    static std::optional<SignedSet> VerifierManifeste(RunState& state, std::string_view keys,
                                                      const ManifestTexts& texts, std::time_t now);

    // Whether the file's bytes are those the manifest lists under its name; when not, the
    // file's entry goes into the run's list.
    bool Vouches(RunState& state, std::string_view name, const FileDigest& digest) const;

    std::uint64_t Generation() const { return manifest_.Generation; }
    // Keeps the set's generation as the newest the program folder accepted; a dry run keeps
    // nothing. Called once the categories are done: the write puts on disk whatever is waiting
    // to be written, which by then no longer holds the run's own files back.
    void Record(RunState& state) const;

  private:
    explicit SignedSet(Manifest manifest) : manifest_(std::move(manifest)) {}

    Manifest manifest_;
};

}  // namespace quorvane
