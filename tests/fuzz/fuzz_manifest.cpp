// The head office's manifest and minisign's signature and key lines, as read from whatever a
// server hands over: no undefined behaviour on any bytes, a manifest written back from what was
// read reads the same, and nothing the fuzzer makes up passes for a signature of a fixed key.

#include <cstddef>
#include <cstdint>
#include <string>

#include "sync/signature/Manifest.h"
#include "sync/signature/Minisign.h"

namespace {

std::string Written(const quorvane::Manifest& manifest) {
    std::string text = "generation " + std::to_string(manifest.Generation) + "\nexpire " +
                       manifest.ExpireText + "\n";
    for (const quorvane::ManifestEntry& entry : manifest.Entries) {
        text += entry.Sha256 + "  " + entry.Name + "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto manifest = quorvane::ParseManifest(text)) {
        const auto again = quorvane::ParseManifest(Written(*manifest));
        if (!again || again->Generation != manifest->Generation ||
            again->Expire != manifest->Expire ||
            again->Entries.size() != manifest->Entries.size() ||
            (!manifest->Entries.empty() &&
             again->Entries.back().Sha256 != manifest->Entries.back().Sha256)) {
            __builtin_trap();
        }
    }
    // A key made for this target alone; its secret half was thrown away.
    static const auto keys = quorvane::ParseMinisignPublicKeys(
        "RWQ1GotgBOD8eDVzmhPFhnn3VhnltFnDikEGRIiBrrk17FNe8KDN/4Sl");
    if (!keys) {
        __builtin_trap();
    }
    if (const auto signature = quorvane::ParseMinisignSignature(text)) {
        if (quorvane::VerifyMinisign(*keys, *signature, text)) {
            __builtin_trap();
        }
    }
    static_cast<void>(quorvane::ParseMinisignPublicKeys(text));
    return 0;
}
