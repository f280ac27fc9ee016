#include "sync/signature/SignedSet.h"

#include "base/SharedFolder.h"
#include "sync/signature/AcceptedGeneration.h"
#include "sync/signature/Minisign.h"

namespace quorvane {
namespace {

const std::string kPrefixe = "[Fonction VerifierManifeste()] ";
const std::string kAucunFichier = " : aucun fichier n'est intégré.";

// Six lines of sha256sum and two of ours take a few hundred bytes.
constexpr std::size_t kMaxManifestFile = 1 << 20;

}  // namespace

std::optional<std::string> ReadManifestFile(const std::string& path) {
    // In the source folder the shared settings name: by the rule on links, never waiting on a
    // pipe put at its name; a folder at the name is no file.
    return ReadFileBytes(path, kMaxManifestFile);
}

std::optional<SignedSet> SignedSet::VerifierManifeste(RunState& state, std::string_view keys,
                                                      const ManifestTexts& texts, std::time_t now) {
    for (const auto& [text, name] :
         {std::pair{&texts.Manifest, kManifestName}, {&texts.Signature, kManifestSignatureName}}) {
        if (!*text) {
            state.Erreur(
                kPrefixe + "Le manifeste signé du siège est introuvable : " + std::string(name), 0);
            return std::nullopt;
        }
    }
    // A key that cannot be read verifies nothing: the set is refused, never taken unchecked.
    const auto publicKeys = ParseMinisignPublicKeys(keys);
    const auto signature = ParseMinisignSignature(*texts.Signature);
    auto manifest = ParseManifest(*texts.Manifest);
    if (!publicKeys || !signature || !VerifyMinisign(*publicKeys, *signature, *texts.Manifest) ||
        !manifest) {
        state.Erreur(kPrefixe + "La signature du manifeste du siège est invalide" + kAucunFichier,
                     0);
        return std::nullopt;
    }
    if (const auto accepted = ReadAcceptedGeneration(state.Paths.CheminGeneration);
        accepted && manifest->Generation < *accepted) {
        state.Erreur(kPrefixe + "Le manifeste du siège (génération " +
                         std::to_string(manifest->Generation) +
                         ") est plus ancien que le dernier accepté (génération " +
                         std::to_string(*accepted) + ")" + kAucunFichier,
                     0);
        return std::nullopt;
    }
    if (now > manifest->Expire) {
        state.Erreur(
            kPrefixe + "Le manifeste du siège a expiré le " + manifest->ExpireText + kAucunFichier,
            0);
        return std::nullopt;
    }
    state.GenerationAcceptee = manifest->Generation;
    return SignedSet(std::move(*manifest));
}

void SignedSet::Record(RunState& state) const {
    if (state.Essai) {
        return;
    }
    // Without the record an older set could come back unnoticed: the run says so.
    if (const auto failure =
            RecordAcceptedGeneration(state.Paths.CheminGeneration, manifest_.Generation)) {
        state.Erreur(kPrefixe + "Impossible d'enregistrer la génération acceptée : " + *failure, 0);
    }
}

bool SignedSet::Vouches(RunState& state, std::string_view name, const FileDigest& digest) const {
    const ManifestEntry* entry = manifest_.Find(name);
    if (entry == nullptr) {
        state.Erreur(kPrefixe + "Le fichier " + std::string(name) +
                         " n'est pas dans le manifeste signé du siège : il n'est pas intégré.",
                     0);
        return false;
    }
    // A digest left empty (bytes the stream did not see) matches nothing.
    if (digest.Sha256.empty() || entry->Sha256 != digest.Sha256) {
        state.Erreur(kPrefixe + "Le fichier " + std::string(name) +
                         " ne correspond pas au manifeste signé du siège : il n'est pas intégré.",
                     0);
        return false;
    }
    return true;
}

}  // namespace quorvane
