#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "sync/CloseCountdown.h"
#include "sync/SynchronizationRun.h"

namespace quorvane::testing {
namespace {

// A program folder with its settings file, and a run over it whose report opener records.
class RunControllerTest : public ::testing::Test {
  protected:
    TempDir dir;
    ProgramPaths paths = ProgramPaths::ForFolder(dir.Path().string());
    std::vector<std::string> opened;

    void Settings(const std::string& text) { WriteFile(paths.CheminIni, text); }
    void CreateAuto() { std::filesystem::create_directories(paths.RepertoireAuto); }

    std::unique_ptr<SynchronizationRun> Run() {
        RunOptions options;
        options.OpenReport = [this](const std::string& p) { opened.push_back(p); };
        auto run = std::make_unique<SynchronizationRun>(paths, std::move(options));
        run->Run();
        return run;
    }

    static std::vector<ErrorEntry> Entries(const SynchronizationRun& run) {
        return run.State().Erreurs.Entries();
    }
};

void ExpectBothFailed(SynchronizationRun& run, Categorie c) {
    EXPECT_EQ(run.Display().Image(c, Colonne::Telechargement), ImageState::Failure);
    EXPECT_EQ(run.Display().Image(c, Colonne::Integration), ImageState::Failure);
}
void ExpectNoImage(SynchronizationRun& run, Categorie c) {
    EXPECT_EQ(run.Display().Image(c, Colonne::Telechargement), ImageState::Hidden);
    EXPECT_EQ(run.Display().Image(c, Colonne::Integration), ImageState::Hidden);
}

TEST_F(RunControllerTest, NoSettingsFileIsReportedAndNothingShown) {
    auto run = Run();
    const auto entries = Entries(*run);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Texte, "[Fonction FormCreate()] Erreur le fichier " + paths.CheminIni +
                                    " est introuvable ou est inaccessible.");
    EXPECT_EQ(entries[0].Code, 0);
    EXPECT_TRUE(run->State().EnErreur);
    for (auto c : kCategoriesEnOrdre) {
        ExpectNoImage(*run, c);
    }
    EXPECT_TRUE(std::filesystem::exists(paths.CheminRapport));
    EXPECT_EQ(opened, std::vector<std::string>{paths.CheminRapport});
}

TEST_F(RunControllerTest, AllCategoriesOffFetchesNothingAndLeavesNoReport) {
    Settings("[Quorvane]\nRemise_Achat=0\nTypeEnvoi=URI\n[Quorvane_URI]\nURI=/nowhere\n");
    CreateAuto();
    WriteFile(paths.CheminRapport, "old report");
    auto run = Run();
    EXPECT_TRUE(Entries(*run).empty());
    EXPECT_FALSE(std::filesystem::exists(paths.CheminRapport));
    EXPECT_TRUE(opened.empty());
    for (auto c : kCategoriesEnOrdre) {
        ExpectNoImage(*run, c);
    }
}

TEST_F(RunControllerTest, LowerCaseModeSelectsNeitherModeSilently) {
    Settings("[Quorvane]\nRemise_Achat=1\nDocument=1\nTypeEnvoi=ftp\n");
    CreateAuto();
    auto run = Run();
    EXPECT_FALSE(run->State().TransfertFtp);
    EXPECT_FALSE(run->State().TransfertUri);
    EXPECT_TRUE(Entries(*run).empty());
    EXPECT_FALSE(std::filesystem::exists(paths.CheminRapport));
    ExpectBothFailed(*run, Categorie::RemiseAchat);
    ExpectBothFailed(*run, Categorie::Document);
    ExpectNoImage(*run, Categorie::Personnalisation);
    ExpectNoImage(*run, Categorie::Message);
}

TEST_F(RunControllerTest, FolderModeWithoutFolderAsksForIt) {
    Settings("[Quorvane]\nMessage=1\nTypeEnvoi=URI\n[Quorvane_URI]\nURI=\n");
    CreateAuto();
    auto run = Run();
    EXPECT_EQ(run->State().RepertoireSource, "/");
    const auto entries = Entries(*run);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Texte,
              "[Fonction FormCreate()] Veuillez renseigner le répertoire source Quorvane dans la "
              "fenêtre de configuration.");
    EXPECT_EQ(entries[0].Code, 1);
    ExpectBothFailed(*run, Categorie::Message);
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(RunControllerTest, MissingDownloadFolderStopsEvenFtp) {
    Settings("[Quorvane]\nPersonnalisation=1\n");  // no TypeEnvoi: FTP
    auto run = Run();
    EXPECT_TRUE(run->State().TransfertFtp);
    const auto entries = Entries(*run);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Texte, "[Fonction FormCreate()] Erreur le repertoire " +
                                    paths.RepertoireAuto + " est introuvable ou est inaccessible.");
    ExpectBothFailed(*run, Categorie::Personnalisation);
}

TEST_F(RunControllerTest, UndeletableOldReportBlocksTheRetrieval) {
    Settings("[Quorvane]\nRemise_Achat=1\nTypeEnvoi=URI\n[Quorvane_URI]\nURI=\n");
    CreateAuto();
    // A non-empty folder under the report's name cannot be deleted, even by root.
    WriteFile(std::filesystem::path(paths.CheminRapport) / "inside", "x");
    auto run = Run();
    const auto entries = Entries(*run);
    ASSERT_EQ(entries.size(), 1u);  // the retrieval gate stopped the empty-folder message
    EXPECT_EQ(entries[0].Texte,
              "[Fonction FormCreate()] Impossible de supprimer le fichier log précédent " +
                  paths.CheminRapport);
    ExpectBothFailed(*run, Categorie::RemiseAchat);
    // The report cannot be written over a folder either; the run still ends normally.
    EXPECT_TRUE(opened.empty());
}

TEST_F(RunControllerTest, SourceFolderGetsOneSeparatorMore) {
    Settings("[Quorvane]\nTypeEnvoi=URI\n[Quorvane_URI]\nURI=/data/\n[Ombrelin]\nTypeEnvoi=X\n");
    CreateAuto();
    auto run = Run();
    EXPECT_EQ(run->State().RepertoireSource, "/data//");
    EXPECT_EQ(run->State().OmbrelinTypeEnvoi, "X");
}

TEST_F(RunControllerTest, CategoriesWithoutDatabaseAreReportedAndTheRunGoesOn) {
    // No ombbde.ini was read: the session knows no alias at all.
    const std::string source = dir.Folder() + "source/";
    for (const char* name : {"remise_achat.xml", "personnalisation.xml"}) {
        WriteFile(source + name, "<?xml version=\"1.0\"?><Racine/>");
    }
    Settings("[Quorvane]\nRemise_Achat=1\nPersonnalisation=1\nTypeEnvoi=URI\n[Quorvane_URI]\nURI=" +
             source + "\n");
    CreateAuto();
    auto run = Run();
    const auto entries = Entries(*run);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Texte.rfind("[Fonction IntegrerRemiseAchat] ", 0), 0u) << entries[0].Texte;
    EXPECT_EQ(entries[1].Texte.rfind("[Fonction IntegrerPersonnalisation] ", 0), 0u);
    EXPECT_EQ(entries[1].Code, 1);
    EXPECT_EQ(run->Display().Image(Categorie::Personnalisation, Colonne::Telechargement),
              ImageState::Success);
    EXPECT_EQ(run->Display().Image(Categorie::Personnalisation, Colonne::Integration),
              ImageState::Failure);
    EXPECT_EQ(opened.size(), 1u);
}

TEST(CloseCountdownTest, CountsTwentyNineDownToZeroAndClosesOnTheThirtiethTick) {
    CloseCountdown countdown;
    countdown.Start();
    for (int tick = 1; tick <= 30; ++tick) {
        const auto t = countdown.OnTick();
        EXPECT_EQ(t.Caption, "Fermeture dans " + std::to_string(30 - tick) + " secondes.");
        EXPECT_EQ(t.BarPosition, tick);
        EXPECT_EQ(t.Close, tick == 30) << tick;
    }
}

}  // namespace
}  // namespace quorvane::testing
