#include <gtest/gtest.h>

#include "support/StoreFixture.h"
#include "sync/SynchronizationRun.h"
#include "sync/retrieval/FolderRetrieval.h"

namespace quorvane::testing {
namespace {

// The run's folder retrieval over the store of the fixture, with the head-office files of the
// demo in a source folder.
class Folder : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const auto* table : {"Message", "MessageType", "MesDocs", "MesDocsType"}) {
            store.CreateTable(std::string(table) + ".DB", DemoSchema(table));
        }
        std::filesystem::create_directories(source.Path());
        for (const auto* file :
             {"message.xml", "message_type.xml", "mes_docs.xml", "mes_docs_type.xml"}) {
            std::filesystem::copy_file(
                std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/" + file,
                source.Path() / file);
        }
        run = std::make_unique<SynchronizationRun>(ProgramPaths::ForFolder(store.Dir().Folder()));
    }
    std::string Auto(const std::string& file) const {
        return run->State().Paths.RepertoireAuto + file;
    }
    ImageState Image(Categorie c, Colonne col) { return run->Display().Image(c, col); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& e : run->State().Erreurs.Entries()) {
            texts.push_back(e.Texte);
        }
        return texts;
    }

    StoreFixture store;
    TempDir source;
    std::unique_ptr<SynchronizationRun> run;
};

TEST_F(Folder, MissingSecondFileFailsTheCategoryWithoutIntegrating) {
    std::filesystem::remove(source.Path() / "message_type.xml");
    const auto before = store.Rows("Message.DB", "SELECT * FROM Message ORDER BY Code");
    run->State().MessageActif = true;
    run->CopierRepertoire(source.Folder());
    run->MarquerCategoriesEnEchec();
    EXPECT_EQ(Texts(), std::vector<std::string>{"[Fonction _CopyFile()] Le fichier : "
                                                "message_type.xml n'éxiste pas ou est "
                                                "inaccessible."});
    EXPECT_EQ(run->State().Erreurs.Entries()[0].Code, 0);
    EXPECT_TRUE(run->State().EnErreur);
    EXPECT_TRUE(std::filesystem::exists(Auto("message.xml")));
    EXPECT_EQ(Image(Categorie::Message, Colonne::Telechargement), ImageState::Failure);
    EXPECT_EQ(Image(Categorie::Message, Colonne::Integration), ImageState::Failure);
    EXPECT_EQ(store.Rows("Message.DB", "SELECT * FROM Message ORDER BY Code"), before);
}

TEST_F(Folder, BothDocumentFilesArriveAndAreIntegratedOnce) {
    run->State().DocumentActif = true;
    // The setting already ended with the separator: the doubled one is harmless.
    run->CopierRepertoire(source.Folder() + "/");
    run->MarquerCategoriesEnEchec();
    EXPECT_TRUE(Texts().empty()) << Texts().front();
    EXPECT_EQ(ReadFile(Auto("mes_docs.xml")), ReadFile(source.Path() / "mes_docs.xml"));
    EXPECT_EQ(ReadFile(Auto("mes_docs_type.xml")), ReadFile(source.Path() / "mes_docs_type.xml"));
    EXPECT_EQ(Image(Categorie::Document, Colonne::Telechargement), ImageState::Success);
    EXPECT_EQ(Image(Categorie::Document, Colonne::Integration), ImageState::Success);
    EXPECT_EQ(Image(Categorie::Message, Colonne::Telechargement), ImageState::Hidden);
    // Integrated once: a second pass would have been refused by the key.
    EXPECT_EQ(store.Rows("MesDocs.DB", "SELECT Code FROM MesDocs ORDER BY Code"),
              (std::vector<std::string>{"DOC-2027", "DOC-SEC", "MAG-PROC"}));
    // No temporary copy is left beside the files.
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(run->State().Paths.RepertoireAuto)) {
        ++files;
    }
    EXPECT_EQ(files, 2);
}

TEST_F(Folder, DestinationThatCannotBeWrittenIsACopyRefusal) {
    std::filesystem::create_directories(Auto("message.xml"));
    std::filesystem::create_directories(std::filesystem::path(Auto("message.xml")) / "occupé");
    run->State().MessageActif = true;
    run->CopierRepertoire(source.Folder());
    EXPECT_EQ(Texts(), std::vector<std::string>{
                           "[Fonction _CopyFile()] Impossible de copier ce fichier : message.xml"});
    EXPECT_TRUE(run->State().EnErreur);
    EXPECT_EQ(Image(Categorie::Message, Colonne::Telechargement), ImageState::Failure);
    EXPECT_FALSE(std::filesystem::exists(Auto("message_type.xml")));
    // Nothing half-written is left in the download folder.
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(run->State().Paths.RepertoireAuto)) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(Folder, SourceThatIsNoReadableFileIsInaccessible) {
    std::filesystem::remove(source.Path() / "mes_docs.xml");
    std::filesystem::create_directories(source.Path() / "mes_docs.xml");
    run->State().DocumentActif = true;
    run->State().MessageActif = true;
    std::filesystem::permissions(source.Path() / "message.xml", std::filesystem::perms::none);
    run->CopierRepertoire(source.Folder());
    std::vector<std::string> expected;
    if (PermissionsAreEnforced()) {
        expected.push_back(
            "[Fonction _CopyFile()] Le fichier : message.xml n'éxiste pas ou est inaccessible.");
    }
    expected.push_back(
        "[Fonction _CopyFile()] Le fichier : mes_docs.xml n'éxiste pas ou est inaccessible.");
    EXPECT_EQ(Texts(), expected);
    EXPECT_EQ(Image(Categorie::Document, Colonne::Telechargement), ImageState::Failure);
    EXPECT_FALSE(std::filesystem::exists(Auto("mes_docs_type.xml")));
}

TEST_F(Folder, CopyReplacesAnEarlierFile) {
    WriteFile(Auto("message.xml"), "ancienne copie");
    RunState state;
    state.Paths = ProgramPaths::ForFolder(store.Dir().Folder());
    FolderRetrieval retrieval(state, source.Folder());
    EXPECT_TRUE(retrieval._CopyFile(source.Folder() + "message.xml", "message.xml",
                                    state.Paths.RepertoireAuto));
    EXPECT_EQ(ReadFile(Auto("message.xml")), ReadFile(source.Path() / "message.xml"));
    const std::string copied = ReadFile(source.Path() / "message.xml");
    Sha256 expected;
    expected.Update(copied.data(), copied.size());
    EXPECT_EQ(state.Recus[2].Size, static_cast<std::int64_t>(copied.size()));
    EXPECT_EQ(state.Recus[2].Sha256, expected.HexDigest());
    EXPECT_FALSE(retrieval._CopyFile(source.Folder() + "absent.xml", "absent.xml",
                                     state.Paths.RepertoireAuto));
    ASSERT_EQ(state.Erreurs.Count(), 1u);
    EXPECT_EQ(state.Erreurs.Entries()[0].Texte,
              "[Fonction _CopyFile()] Le fichier : absent.xml n'éxiste pas ou est inaccessible.");
}

}  // namespace
}  // namespace quorvane::testing
