#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// One file the head office vouches for: a line as sha256sum writes it.
struct ManifestEntry {
    std::string Sha256;  // lowercase hexadecimal
    std::string Name;
};

// The head office's manifest: its set's generation, the UTC time after which the set must not
// be used (as written, and as a time), and the files with their SHA-256.
struct Manifest {
    std::uint64_t Generation = 0;
    std::string ExpireText;
    std::time_t Expire = 0;
    std::vector<ManifestEntry> Entries;

    const ManifestEntry* Find(std::string_view name) const;
};

// Reads "generation N", "expire YYYY-MM-DDTHH:MM:SSZ" and sha256sum's lines ("<hex>  <name>",
// or "<hex> *<name>" as its binary mode writes them), each once, in any order; lines end with
// LF or CR LF and blank lines are skipped. Anything else, a name listed twice or a missing
// generation or expiry makes the whole manifest malformed: nothing is returned.
std::optional<Manifest> ParseManifest(std::string_view text);

// A generation: decimal digits only, within 64 bits.
std::optional<std::uint64_t> ParseGeneration(std::string_view text);

// Splits off the next line of `text`, its LF or CR LF removed.
std::string_view TakeLine(std::string_view& text);

// "YYYY-MM-DDTHH:MM:SSZ" as a time; nothing for any other text or an impossible date.
std::optional<std::time_t> ParseUtcTime(std::string_view text);

}  // namespace quorvane
