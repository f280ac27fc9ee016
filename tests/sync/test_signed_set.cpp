#include <gtest/gtest.h>

#include <ctime>

#include "support/SignedSets.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "sync/signature/AcceptedGeneration.h"
#include "sync/signature/Minisign.h"
#include "sync/signature/SignedSet.h"

namespace quorvane::testing {
namespace {

const std::string kPrefixe = "[Fonction VerifierManifeste()] ";
const std::string kInvalide = kPrefixe +
                              "La signature du manifeste du siège est invalide : aucun fichier "
                              "n'est intégré.";

FileDigest Digest(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return {hash.Size(), hash.HexDigest()};
}

// A head office folder with two files, its key, and a store's program folder.
class SignedSetTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path office = dir.Path() / "siege";
    MinisignKey key{dir.Path() / "cles"};
    RunState state;
    std::string remises = "<RemisesAchat>taux 12,5</RemisesAchat>\r\n";

    void SetUp() override {
        state.Paths = ProgramPaths::ForFolder(dir.Path().string());
        WriteFile(office / "remise_achat.xml", remises);
        WriteFile(office / "message.xml", "<Messages/>");
    }

    std::string Manifest() const { return ReadFile(office / "quorvane.manifest"); }
    ManifestTexts Texts() const {
        return {Manifest(), ReadFile(office / "quorvane.manifest.minisig")};
    }
    // Verifies, and records the generation as a run does after its categories.
    std::optional<SignedSet> Verify(const ManifestTexts& texts,
                                    std::time_t now = std::time(nullptr)) {
        auto set = SignedSet::VerifierManifeste(state, key.PublicLine(), texts, now);
        if (set) {
            set->Record(state);
        }
        return set;
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> texts;
        for (const auto& entry : state.Erreurs.Entries()) {
            texts.push_back(entry.Texte);
        }
        return texts;
    }
};

TEST_F(SignedSetTest, AcceptsMinisignsBothFormsAndVouchesForTheListedBytesOnly) {
    key.Publish(office, 7);
    auto set = Verify(Texts());
    ASSERT_TRUE(set) << ::testing::PrintToString(Entries());
    EXPECT_EQ(set->Generation(), 7u);
    EXPECT_EQ(state.GenerationAcceptee, 7u);
    EXPECT_EQ(ReadAcceptedGeneration(state.Paths.CheminGeneration), 7u);
    EXPECT_TRUE(set->Vouches(state, "remise_achat.xml", Digest(remises)));
    EXPECT_FALSE(state.EnErreur);

    EXPECT_FALSE(set->Vouches(state, "remise_achat.xml", Digest(remises + " ")));
    EXPECT_FALSE(set->Vouches(state, "mes_docs.xml", Digest("")));
    EXPECT_EQ(Entries(),
              (std::vector<std::string>{
                  kPrefixe + "Le fichier remise_achat.xml ne correspond pas au manifeste signé "
                             "du siège : il n'est pas intégré.",
                  kPrefixe + "Le fichier mes_docs.xml n'est pas dans le manifeste signé du "
                             "siège : il n'est pas intégré."}));

    // The legacy form signs the bytes themselves; CR LF lines read as LF ones.
    std::string crlf;
    for (const char c : Manifest()) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    WriteFile(office / "quorvane.manifest", crlf);
    key.Sign(office / "quorvane.manifest", true);
    ASSERT_FALSE(ParseMinisignSignature(*Texts().Signature)->Prehashed);
    EXPECT_TRUE(Verify(Texts()));
}

TEST_F(SignedSetTest, RefusesWhatTheKeyDidNotSign) {
    key.Publish(office, 3);
    const ManifestTexts good = Texts();
    const std::string signatureFile = *good.Signature;
    auto tampered = [&](std::string manifest, std::string signature) {
        state.Erreurs = {};
        const bool accepted = Verify({std::move(manifest), std::move(signature)}).has_value();
        return !accepted && Entries() == std::vector<std::string>{kInvalide};
    };
    std::string changedRate = *good.Manifest;
    changedRate[changedRate.find("  remise") - 1] ^= 1;
    EXPECT_TRUE(tampered(changedRate, signatureFile));
    std::string comment = signatureFile;
    comment.replace(comment.find("generation 3"), 12, "generation 9");
    EXPECT_TRUE(tampered(*good.Manifest, comment));
    std::string signatureByte = signatureFile;
    signatureByte[signatureFile.find('\n') + 20] ^= 1;
    EXPECT_TRUE(tampered(*good.Manifest, signatureByte));
    EXPECT_TRUE(tampered(*good.Manifest, "untrusted comment: x\nRWQ=\n"));

    // Signed by another key; then a manifest the right key signed but that is no manifest.
    MinisignKey other(dir.Path() / "autre");
    WriteFile(office / "autre.manifest", *good.Manifest);
    other.Sign(office / "autre.manifest");
    EXPECT_TRUE(tampered(*good.Manifest, ReadFile(office / "autre.manifest.minisig")));
    WriteFile(office / "quorvane.manifest", "generation 4\nexpire 2099-01-01T00:00:00Z\nnothing\n");
    key.Sign(office / "quorvane.manifest");
    EXPECT_TRUE(tampered(Manifest(), ReadFile(office / "quorvane.manifest.minisig")));

    // The two keys of a key change are both trusted, each for what it signed.
    state.Erreurs = {};
    EXPECT_TRUE(SignedSet::VerifierManifeste(
        state, "  " + key.PublicLine() + " " + other.PublicLine(),
        {*good.Manifest, ReadFile(office / "autre.manifest.minisig")}, std::time(nullptr)));
    EXPECT_FALSE(
        SignedSet::VerifierManifeste(state, key.PublicLine() + " x", good, std::time(nullptr)));
}

TEST_F(SignedSetTest, RefusesMissingOlderAndExpiredSets) {
    key.Publish(office, 5, "2030-06-01T12:00:00Z");
    EXPECT_FALSE(Verify({std::nullopt, "x"}));
    EXPECT_FALSE(Verify({"x", std::nullopt}));
    ASSERT_TRUE(Verify(Texts()));
    EXPECT_TRUE(Verify(Texts()));  // the same set again, the night after

    key.Publish(office, 4);
    EXPECT_FALSE(Verify(Texts()));
    key.Publish(office, 6, "2030-06-01T12:00:00Z");
    std::tm after{};
    after.tm_year = 130;
    after.tm_mon = 5;
    after.tm_mday = 1;
    after.tm_hour = 12;
    const std::time_t expiry = ::timegm(&after);
    EXPECT_TRUE(Verify(Texts(), expiry));
    EXPECT_FALSE(Verify(Texts(), expiry + 1));
    EXPECT_EQ(
        Entries(),
        (std::vector<std::string>{
            kPrefixe + "Le manifeste signé du siège est introuvable : quorvane.manifest",
            kPrefixe + "Le manifeste signé du siège est introuvable : quorvane.manifest.minisig",
            kPrefixe +
                "Le manifeste du siège (génération 4) est plus ancien que le dernier accepté "
                "(génération 5) : aucun fichier n'est intégré.",
            kPrefixe +
                "Le manifeste du siège a expiré le 2030-06-01T12:00:00Z : aucun fichier n'est "
                "intégré."}));

    // A dry run verifies alike and records nothing.
    state.Essai = true;
    key.Publish(office, 8);
    EXPECT_TRUE(Verify(Texts()));
    EXPECT_EQ(ReadAcceptedGeneration(state.Paths.CheminGeneration), 6u);
}

TEST(DemoSignedSet, TheDemoHeadOfficeFilesAreThoseTheDemoKeySigned) {
    TempDir dir;
    RunState state;
    state.Paths = ProgramPaths::ForFolder(dir.Path().string());
    state.Essai = true;
    const std::string demo = QUORVANE_SOURCE_DIR "/demo/";
    std::string key = ReadFile(demo + "signing/demo-siege.pub");
    key = key.substr(key.find('\n') + 1, 56);
    const auto set = SignedSet::VerifierManifeste(
        state, key,
        {ReadManifestFile(demo + "headoffice/quorvane.manifest"),
         ReadManifestFile(demo + "headoffice/quorvane.manifest.minisig")},
        std::time(nullptr));
    ASSERT_TRUE(set) << "demo/signing/README.md says how to sign the demo set again";
    for (const HeadOfficeFile& file : kHeadOfficeFiles) {
        const std::string name(file.Name);
        EXPECT_TRUE(set->Vouches(state, name, Digest(ReadFile(demo + "headoffice/" + name))))
            << name;
    }
}

TEST(ManifestTest, ReadsOnlyWellFormedManifests) {
    const std::string hash(64, 'a');
    const auto manifest =
        ParseManifest("expire 2027-01-15T06:00:00Z\r\n\r\ngeneration 42\r\n" + hash +
                      " *message.xml\r\n" + std::string(64, 'B') + "  mes_docs.xml");
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->Generation, 42u);
    EXPECT_EQ(manifest->ExpireText, "2027-01-15T06:00:00Z");
    ASSERT_NE(manifest->Find("mes_docs.xml"), nullptr);
    EXPECT_EQ(manifest->Find("mes_docs.xml")->Sha256, std::string(64, 'b'));
    EXPECT_EQ(manifest->Find("message"), nullptr);
    for (const std::string& bad : std::vector<std::string>{
             "expire 2027-01-15T06:00:00Z\n", "generation 1\n",
             "generation 1\ngeneration 1\nexpire 2027-01-15T06:00:00Z\n",
             "generation -1\nexpire 2027-01-15T06:00:00Z\n",
             "generation 1\nexpire 2027-02-30T06:00:00Z\n",
             "generation 1\nexpire 2027-01-15 06:00:00\n",
             "generation 1\nexpire 2027-01-15T06:00:00Z\n" + hash + "  a\n" + hash + "  a\n",
             "generation 1\nexpire 2027-01-15T06:00:00Z\n" + hash.substr(1) + "g  a\n",
             "generation 1\nexpire 2027-01-15T06:00:00Z\n" + hash + "  \n"}) {
        EXPECT_FALSE(ParseManifest(bad)) << bad;
    }
}

}  // namespace
}  // namespace quorvane::testing
