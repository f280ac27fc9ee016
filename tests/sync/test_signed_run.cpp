#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/FtpServers.h"
#include "support/SignedSets.h"
#include "support/StoreFixture.h"
#include "sync/SynchronizationRun.h"
#include "sync/signature/AcceptedGeneration.h"

namespace quorvane::testing {
namespace {

const std::string kPrefixe = "[Fonction VerifierManifeste()] ";

// A demo store whose head office signs its sets, each run a whole run without a window.
class SignedRunTest : public ::testing::Test {
  protected:
    StoreFixture store{StoreFixture::Tables::Demo};
    TempDir work;
    MinisignKey key{work.Path() / "cles"};
    std::filesystem::path office = work.Path() / "siege";
    // Every run's journal lines, kept open as long as the runs.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> journal{
        std::fopen((work.Path() / "journal.txt").c_str(), "w"), &std::fclose};

    void SetUp() override {
        for (const HeadOfficeFile& file : kHeadOfficeFiles) {
            const std::string name(file.Name);
            WriteFile(office / name, Demo(name));
        }
    }
    static std::string Demo(const std::string& name) {
        return ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/" + name);
    }
    void Settings(const std::string& transfer) {
        WriteFile(store.Paths().CheminIni,
                  "[Quorvane]\nRemise_Achat=1\nPersonnalisation=1\nMessage=1\nDocument=1\n" +
                      transfer + "[Quorvane_Signature]\nClePublique=" + key.PublicLine() + "\n");
    }
    void FolderSettings() {
        Settings("TypeEnvoi=URI\n[Quorvane_URI]\nURI=" + office.string() + "\n");
    }
    std::unique_ptr<SynchronizationRun> Run() {
        RunOptions options;
        options.OpenReport = [](const std::string&) {};
        options.Journal = journal.get();
        options.FtpConnectTimeoutMs = 10000;
        options.FtpResponseTimeoutMs = 10000;
        auto run = std::make_unique<SynchronizationRun>(store.Paths(), std::move(options));
        run->Run();
        return run;
    }
    static std::vector<std::string> Texts(const SynchronizationRun& run) {
        return EntryTexts(run.State());
    }
    // Every file of the set was integrated, and the copies in Auto/ are the signed bytes.
    void ExpectSetIntegrated(SynchronizationRun& run, const std::filesystem::path& from) {
        EXPECT_TRUE(Texts(run).empty()) << ::testing::PrintToString(Texts(run));
        for (const Categorie c : kCategoriesEnOrdre) {
            EXPECT_EQ(run.Display().Image(c, Colonne::Integration), ImageState::Success);
        }
        for (const HeadOfficeFile& file : kHeadOfficeFiles) {
            const std::string name(file.Name);
            EXPECT_EQ(ReadFile(store.AutoDir() + name), ReadFile(from / name)) << name;
        }
        EXPECT_EQ(store.One("REMISES.DB", "select Taux from REMISES where Famille='VERR'"),
                  "21.75");
    }
    std::string Status() const { return ReadFile(store.Paths().CheminStatut); }
};

TEST_F(SignedRunTest, FolderRunIntegratesOnlyWhatTheSignedSetVouchesFor) {
    FolderSettings();
    key.Publish(office, 41);
    ExpectSetIntegrated(*Run(), office);
    EXPECT_EQ(ReadAcceptedGeneration(store.Paths().CheminGeneration), 41u);
    EXPECT_EQ(nlohmann::json::parse(Status())["signedGeneration"], 41);
    std::fflush(journal.get());
    EXPECT_NE(ReadFile(work.Path() / "journal.txt")
                  .find(" ; manifeste signé du siège accepté (génération 41) ; aucune erreur"),
              std::string::npos);

    // A rate changed on the head office's side after signing, and a file the manifest omits.
    const std::string signedRates = Demo("remise_achat.xml");
    std::filesystem::remove(office / "message_type.xml");
    key.Publish(office, 42);
    WriteFile(office / "message_type.xml", Demo("message_type.xml"));
    std::string changed = signedRates;
    changed.replace(changed.find("21,75"), 5, "91,75");
    WriteFile(office / "remise_achat.xml", changed);
    auto run = Run();
    EXPECT_EQ(
        Texts(*run),
        (std::vector<std::string>{
            kPrefixe + "Le fichier remise_achat.xml ne correspond pas au manifeste signé du "
                       "siège : il n'est pas intégré.",
            kPrefixe + "Le fichier message_type.xml n'est pas dans le manifeste signé du siège : "
                       "il n'est pas intégré."}));
    EXPECT_EQ(run->Display().Image(Categorie::RemiseAchat, Colonne::Telechargement),
              ImageState::Failure);
    EXPECT_EQ(run->Display().Image(Categorie::Message, Colonne::Telechargement),
              ImageState::Failure);
    EXPECT_EQ(run->Display().Image(Categorie::Document, Colonne::Integration), ImageState::Success);
    EXPECT_EQ(ReadFile(store.AutoDir() + "remise_achat.xml"), signedRates);
    EXPECT_EQ(store.One("REMISES.DB", "select Taux from REMISES where Famille='VERR'"), "21.75");

    // An older set brought back: nothing is fetched, and the newest accepted is kept.
    WriteFile(office / "remise_achat.xml", signedRates);
    key.Publish(office, 40);
    std::filesystem::remove(store.AutoDir() + "mes_docs.xml");
    run = Run();
    EXPECT_EQ(Texts(*run),
              std::vector<std::string>{
                  kPrefixe + "Le manifeste du siège (génération 40) est plus ancien que le "
                             "dernier accepté (génération 42) : aucun fichier n'est intégré."});
    for (const Categorie c : kCategoriesEnOrdre) {
        EXPECT_EQ(run->Display().Image(c, Colonne::Telechargement), ImageState::Failure);
        EXPECT_EQ(run->Display().Image(c, Colonne::Integration), ImageState::Failure);
    }
    EXPECT_FALSE(std::filesystem::exists(store.AutoDir() + "mes_docs.xml"));
    EXPECT_EQ(ReadAcceptedGeneration(store.Paths().CheminGeneration), 42u);
    EXPECT_TRUE(nlohmann::json::parse(Status())["signedGeneration"].is_null());
}

TEST_F(SignedRunTest, FtpAndSftpFetchTheSignedBytesAsTheyAre) {
    key.Publish(office, 7);
    {
        FtpTestServer server(FtpServerOptions{.root = office});
        Settings("TypeEnvoi=FTP\n[Quorvane_FTP]\nLogin=" + server.User() +
                 "\nMdp=" + server.Password() +
                 "\nHost=127.0.0.1\nPort=" + std::to_string(server.Port()) + "\n");
        ExpectSetIntegrated(*Run(), office);
        // Binary mode throughout: an ASCII transfer would not give the signed CR LF bytes.
        EXPECT_EQ(server.CountCommands("RETR"), 8);
        EXPECT_EQ(server.CountCommands("TYPE A"), 0);

        // Without its signature the set is refused before any head-office file is asked for.
        std::filesystem::remove(office / "quorvane.manifest.minisig");
        auto run = Run();
        EXPECT_EQ(Texts(*run), std::vector<std::string>{
                                   kPrefixe + "Le manifeste signé du siège est introuvable : "
                                              "quorvane.manifest.minisig"});
        EXPECT_EQ(server.CountCommands("RETR"), 9);
    }
    SftpTestServer server;
    for (const auto& entry : std::filesystem::directory_iterator(office)) {
        server.PutFile(entry.path().filename().string(), ReadFile(entry.path()));
    }
    key.Publish(server.Root(), 8);
    Settings("TypeEnvoi=FTP\n[Quorvane_FTP]\nLogin=" + server.User() + "\nMdp=" +
             server.Password() + "\nHost=127.0.0.1\nPort=" + std::to_string(server.Port()) +
             "\nSecurite=SFTP\nCleHote=" + server.Fingerprint() + "\n");
    ExpectSetIntegrated(*Run(), server.Root());
    EXPECT_EQ(ReadAcceptedGeneration(store.Paths().CheminGeneration), 8u);
}

}  // namespace
}  // namespace quorvane::testing
