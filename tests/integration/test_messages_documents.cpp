#include <gtest/gtest.h>

#include "support/StoreFixture.h"

namespace quorvane::testing {
namespace {

const std::string kMessages = "SELECT Code, Externe, Titre FROM Message ORDER BY Code";
const std::string kPurge = "<Configuration ViderExterne=\"1\"/>";

class Messages : public ::testing::Test {
  protected:
    void SetUp() override {
        store.CreateTable("Message.DB", DemoSchema("Message"));
        store.CreateTable("MessageType.DB", DemoSchema("MessageType"));
    }
    static std::string Line(const std::string& code, const std::string& externe = "5") {
        return Ligne({{"Code", code}, {"Externe", externe}, {"Titre", "Titre " + code}});
    }
    void Write(const std::string& body) {
        store.WriteHeadOffice("message.xml", HeadOffice("Messages", body));
    }
    std::vector<std::string> All() const { return store.Rows("Message.DB", kMessages); }

    StoreFixture store;
};

TEST_F(Messages, PurgeRemovesHeadOfficeRecordsThenAddsTheLines) {
    Write(Envelope({Line("N1"), Line("N2", "0"), Line("HO-2026-01")}, kPurge));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(), (std::vector<std::string>{"HO-2026-01|5|Titre HO-2026-01",
                                               "MAG-001|0|Réunion d'équipe", "MAG-002|0|Congés",
                                               "N1|5|Titre N1", "N2|0|Titre N2"}));
    EXPECT_FALSE(store.driver->tblMessage.Active());
}

TEST_F(Messages, WithoutPurgeTheLinesComeAgainAndTheKeyRefusesThem) {
    Write(Envelope({Line("N1"), Line("N2")}));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    Write(Envelope({Line("N1"), Line("N3"), Line("N2")}));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    const std::string prefix =
        "[Fonction MessageInsertRecords()] Erreur à l'insertion de l'enregistrement ";
    EXPECT_EQ(store.Texts(), (std::vector<std::string>{prefix + "5 : Violation de clé",
                                                       prefix + "6 : Violation de clé"}));
    store.ExpectOnlyCode1();
    EXPECT_FALSE(store.state.EnErreur);
    EXPECT_EQ(All().size(), 7u);
    EXPECT_EQ(store.One("Message.DB", "SELECT Titre FROM Message WHERE Code='N3'"), "Titre N3");
}

TEST_F(Messages, PurgeWithEmptyLignesEmptiesAndWithoutLignesDoesNothing) {
    Write("<Version Numero=\"1.0\"/>" + kPurge);
    EXPECT_FALSE(store.driver->IntegrerMessage());
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All().size(), 4u);

    Write(Envelope({}, kPurge));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(), (std::vector<std::string>{"MAG-001|0|Réunion d'équipe", "MAG-002|0|Congés"}));
}

TEST_F(Messages, RefusedDeletionIsReportedAndThePurgeGoesOn) {
    auto db = OpenSqlite(store.AdminDir() + "/Message.DB");
    ExecSql(db.get(),
            "CREATE TRIGGER garde BEFORE DELETE ON Message WHEN OLD.Code = 'HO-2026-01' "
            "BEGIN SELECT RAISE(ABORT, 'message protégé'); END;");
    db.reset();
    Write(Envelope({Line("N1")}, kPurge));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    EXPECT_EQ(store.Texts(),
              std::vector<std::string>{
                  "[Fonction MessageDeleteRecords()] Erreur lors de la suppression de "
                  "l'enregistrement 1 : Enregistrement refusé par la table Message.DB : message "
                  "protégé"});
    EXPECT_EQ(All(), (std::vector<std::string>{"HO-2026-01|5|Inventaire annuel",
                                               "MAG-001|0|Réunion d'équipe", "MAG-002|0|Congés",
                                               "N1|5|Titre N1"}));
}

// Records what a window would be shown of the messages bar.
class BarView : public RunView {
  public:
    void ImageChanged(Categorie, Colonne, ImageState) override {}
    void ProgressChanged(Categorie categorie, const ProgressState& progress) override {
        if (categorie == Categorie::Message) {
            seen.push_back(std::to_string(progress.Position) + "/" + std::to_string(progress.Max));
        }
    }
    void ProcessMessages(bool) override {}
    std::vector<std::string> seen;
};

TEST_F(Messages, BothFilesShareTheBarAndSetItsMaximumAnew) {
    Write(Envelope({Line("N1"), Line("N2")}, kPurge));
    store.WriteHeadOffice(
        "message_type.xml",
        HeadOffice("Messages",
                   Envelope({Ligne({{"Code", "1"}, {"Externe", "5"}, {"Libelle", "Info réseau"}}),
                             Ligne({{"Code", "9"}, {"Externe", "5"}, {"Libelle", "Neuf"}}),
                             Ligne({{"Code", "3"}, {"Libelle", "Doublon"}})},
                            kPurge)));
    BarView view;
    store.display.SetView(&view);
    EXPECT_TRUE(store.driver->IntegrerMessage());
    store.display.SetView(nullptr);
    // The second file sets its own maximum and goes on from where the first left the bar; a bar
    // never shows more than its maximum.
    EXPECT_EQ(view.seen,
              (std::vector<std::string>{"0/2", "1/2", "2/2", "2/3", "3/3", "3/3", "3/3"}));
    EXPECT_EQ(store.display.Progress(Categorie::Document).Position, 0);
    EXPECT_EQ(store.display.ProcessMessagesCount(), 5);
    // The refused third line still counts on the bar.
    EXPECT_EQ(store.Texts(),
              std::vector<std::string>{"[Fonction MessageInsertRecords()] Erreur à l'insertion de "
                                       "l'enregistrement 2 : Violation de clé"});
    EXPECT_EQ(store.Rows("MessageType.DB", "SELECT * FROM MessageType ORDER BY Code"),
              (std::vector<std::string>{"1|5|Info réseau", "3|0|Magasin", "9|5|Neuf"}));
}

TEST(Documents, SamePairWithTheirOwnPrefixesAndBar) {
    StoreFixture store;
    store.CreateTable("MesDocs.DB", DemoSchema("MesDocs"));
    store.CreateTable("MesDocsType.DB", DemoSchema("MesDocsType"));
    store.WriteHeadOffice(
        "mes_docs.xml",
        HeadOffice("Documents",
                   Envelope({Ligne({{"Code", "D1"},
                                    {"Externe", "5"},
                                    {"Titre", "Doc"},
                                    {"Publication", "01/12/2026 08:30"}}),
                             Ligne({{"Code", "MAG-PROC"}, {"Externe", "5"}, {"Titre", "x"}})},
                            kPurge)));
    store.WriteHeadOffice(
        "mes_docs_type.xml",
        HeadOffice("Documents", Envelope({Ligne({{"Code", "4"}, {"Libelle", "Plan"}})})));
    EXPECT_TRUE(store.driver->IntegrerDocument());
    EXPECT_EQ(store.Texts(),
              std::vector<std::string>{"[Fonction DocumentInsertRecords()] Erreur à l'insertion "
                                       "de l'enregistrement 2 : Violation de clé"});
    EXPECT_EQ(
        store.Rows("MesDocs.DB",
                   "SELECT Code, Externe, Publication FROM MesDocs ORDER BY "
                   "Code"),
        (std::vector<std::string>{"D1|5|2026-12-01 08:30:00", "MAG-PROC|0|2024-11-02 14:30:00"}));
    EXPECT_EQ(store.Rows("MesDocsType.DB", "SELECT * FROM MesDocsType ORDER BY Code"),
              (std::vector<std::string>{"1|5|Catalogue", "2|0|Procédure", "4|0|Plan"}));
    EXPECT_EQ(store.display.Progress(Categorie::Document).Max, 1);
    EXPECT_EQ(store.display.Progress(Categorie::Document).Position, 1);
    EXPECT_EQ(store.display.Progress(Categorie::Message).Position, 0);
}

}  // namespace
}  // namespace quorvane::testing
