#include <gtest/gtest.h>

#include "base/TextConversion.h"
#include "database/Session.h"
#include "support/SqliteDirect.h"
#include "support/StoreFixture.h"

namespace quorvane::testing {
namespace {

const std::string kMessages = "SELECT Code, Externe, Titre FROM Message ORDER BY Code";

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        store.CreateTable("Message.DB", DemoSchema("Message"));
        store.CreateTable("MessageType.DB", DemoSchema("MessageType"));
    }
    std::string Path(const std::string& file) const { return store.AutoDir() + file; }
    std::vector<std::string> Messages() const { return store.Rows("Message.DB", kMessages); }

    StoreFixture store;
};

const std::vector<std::string> kDemoMessages = {"HO-2026-01|5|Inventaire annuel",
                                                "HO-2026-02|5|Nouvelle collection",
                                                "MAG-001|0|Réunion d'équipe", "MAG-002|0|Congés"};

std::string OneMessage(const std::string& code) {
    return Ligne({{"Code", code}, {"Externe", "5"}, {"Titre", "Siège " + code}});
}

TEST_F(Driver, FileWithoutVersionIsIntegratedUnchecked) {
    store.WriteHeadOffice("message.xml",
                          HeadOffice("Messages", "<Lignes>" + OneMessage("N1") + "</Lignes>"));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(store.One("Message.DB", "SELECT Titre FROM Message WHERE Code='N1'"), "Siège N1");
}

TEST_F(Driver, OtherVersionsAreRejectedAndLeaveTheTableAlone) {
    struct Case {
        std::string versionElement;
        std::string numeroInMessage;
    };
    for (const Case& c : {Case{"<Version Numero=\"1.00\"/>", "1.00"}, Case{"<Version/>", ""},
                          Case{"<Version Numero=\"1.0 \"/>", "1.0 "}}) {
        SCOPED_TRACE(c.versionElement);
        StoreFixture fresh;
        fresh.CreateTable("Message.DB", DemoSchema("Message"));
        fresh.WriteHeadOffice(
            "message.xml",
            HeadOffice("Messages", c.versionElement +
                                       "<Configuration ViderExterne=\"1\"/><Lignes>" +
                                       OneMessage("N1") + "</Lignes>"));
        const std::string path = fresh.AutoDir() + "message.xml";
        EXPECT_FALSE(fresh.driver->XmlToTable(fresh.driver->tblMessage, path, 2, "Messages"));
        ASSERT_EQ(fresh.Texts().size(), 1u);
        // Without "Numero" the message carries two blanks in a row.
        EXPECT_EQ(fresh.Texts()[0], "[Fonction XmlToTable()] La version " + c.numeroInMessage +
                                        " du fichier " + path +
                                        " est différente de la version 1.0 prise en charge par "
                                        "l'application.");
        fresh.ExpectOnlyCode1();
        EXPECT_TRUE(fresh.state.EnErreur);
        EXPECT_EQ(fresh.Rows("Message.DB", kMessages), kDemoMessages);
    }
}

TEST_F(Driver, OnlyViderExterneOnePurges) {
    struct Case {
        std::string configuration;
        bool purges;
    };
    const std::vector<Case> cases = {
        {"<Configuration ViderExterne=\"1\"/>", true},
        {"<Configuration ViderExterne=\" 1\"/>", true},
        {"<Configuration ViderExterne=\"0\"/>", false},
        {"<Configuration ViderExterne=\"2\"/>", false},
        {"<Configuration ViderExterne=\"oui\"/>", false},
        {"<Configuration ViderExterne=\"\"/>", false},
        {"<Configuration viderexterne=\"1\"/>", false},
        {"<Configuration/>", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configuration);
        StoreFixture fresh;
        fresh.CreateTable("Message.DB", DemoSchema("Message"));
        fresh.WriteHeadOffice(
            "message.xml", HeadOffice("Messages", Envelope({OneMessage("N1")}, c.configuration)));
        EXPECT_TRUE(fresh.driver->XmlToTable(fresh.driver->tblMessage,
                                             fresh.AutoDir() + "message.xml", 2, "Messages"));
        EXPECT_TRUE(fresh.state.Erreurs.Empty());
        std::vector<std::string> expected = {"MAG-001|0|Réunion d'équipe", "MAG-002|0|Congés",
                                             "N1|5|Siège N1"};
        if (!c.purges) {
            expected.insert(expected.begin(), kDemoMessages.begin(), kDemoMessages.begin() + 2);
        }
        EXPECT_EQ(fresh.Rows("Message.DB", kMessages), expected);
    }
}

TEST_F(Driver, UnexpectedTopLevelElementReadsAsAnEmptyFile) {
    store.CreateTable("REMISES.DB", DemoSchema("REMISES"));
    store.CreateTable("Perso.DB", DemoSchema("Perso"));
    store.CreateSuppliers(DemoSchema("FOURNIS"));
    const std::string remises = "SELECT * FROM REMISES ORDER BY 1, 2, 3, 4";
    const auto remisesBefore = store.Rows("REMISES.DB", remises);
    const auto persoBefore = store.Rows("Perso.DB", "SELECT * FROM Perso ORDER BY rowid");
    // Version 2.0 and a purge inside: none of it may count.
    const std::string body =
        "<Version Numero=\"2.0\"/><Configuration ViderExterne=\"1\"/><Lignes>" +
        Ligne({{"Fournisseur", "ALPINA"}, {"Type", "2"}, {"Famille", "X"}}) + "</Lignes>";
    store.WriteHeadOffice("remise_achat.xml", HeadOffice("Remises", body));
    store.WriteHeadOffice("personnalisation.xml", HeadOffice("Remises", body));
    store.WriteHeadOffice("message.xml", HeadOffice("Remises", body));

    EXPECT_TRUE(store.driver->IntegrerRemiseAchat());
    EXPECT_FALSE(store.driver->IntegrerPersonnalisation());
    EXPECT_FALSE(store.driver->IntegrerMessage());
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_FALSE(store.state.EnErreur);
    EXPECT_EQ(store.Rows("REMISES.DB", remises), remisesBefore);
    EXPECT_EQ(store.Rows("Perso.DB", "SELECT * FROM Perso ORDER BY rowid"), persoBefore);
    EXPECT_EQ(Messages(), kDemoMessages);
}

TEST_F(Driver, LoadFailureNamesThePathAfterALineFeed) {
    for (const std::string& bytes :
         {std::string("<?xml version=\"1.0\"?><Messages><Lignes>"), std::string(""),
          TestData("integration/message_truncated.xml")}) {
        StoreFixture fresh;
        fresh.CreateTable("Message.DB", DemoSchema("Message"));
        WriteFile(fresh.AutoDir() + "message.xml", bytes);
        const std::string path = fresh.AutoDir() + "message.xml";
        EXPECT_FALSE(fresh.driver->XmlToTable(fresh.driver->tblMessage, path, 2, "Messages"));
        EXPECT_EQ(
            fresh.Texts(),
            std::vector<std::string>{
                "[Fonction XmlToTable()] Une erreur est survenue au chargement du fichier :\n" +
                path});
        fresh.ExpectOnlyCode1();
        EXPECT_TRUE(fresh.state.EnErreur);
        EXPECT_EQ(fresh.Rows("Message.DB", kMessages), kDemoMessages);
    }
}

TEST_F(Driver, MissingFileIsSuccessWithoutAnyEntry) {
    EXPECT_TRUE(
        store.driver->XmlToTable(store.driver->tblMessage, Path("message.xml"), 2, "Messages"));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_FALSE(store.state.EnErreur);
    EXPECT_EQ(Messages(), kDemoMessages);
}

TEST_F(Driver, MissingTablesAreReportedWithTheirDirectory) {
    // No REMISES.DB, no Perso.DB: both categories fail without reading their file.
    WriteFile(Path("remise_achat.xml"), "not even XML");
    WriteFile(Path("personnalisation.xml"), "not even XML");
    EXPECT_FALSE(store.driver->IntegrerRemiseAchat());
    EXPECT_FALSE(store.driver->IntegrerPersonnalisation());
    EXPECT_EQ(store.Texts(), (std::vector<std::string>{
                                 "[Fonction IntegrerRemiseAchat] La table REMISES.DB n'existe pas "
                                 "dans " +
                                     store.AdminDir(),
                                 "[Fonction IntegrerPersonnalisation] La table Perso.DB n'existe "
                                 "pas dans " +
                                     store.AdminDir()}));
    store.ExpectOnlyCode1();
    EXPECT_FALSE(store.state.EnErreur);
}

TEST_F(Driver, MissingSupplierTableLeavesConditionsAlone) {
    store.CreateTable("REMISES.DB", DemoSchema("REMISES"));
    const std::string all = "SELECT * FROM REMISES ORDER BY 1, 2, 3, 4";
    const auto before = store.Rows("REMISES.DB", all);
    store.WriteHeadOffice(
        "remise_achat.xml",
        HeadOffice(
            "RemisesAchat",
            Envelope({Ligne({{"Fournisseur", "ALPINA"}, {"Type", "2"}, {"Famille", "NEW"}})})));
    EXPECT_FALSE(store.driver->IntegrerRemiseAchat());
    EXPECT_EQ(store.Texts(), std::vector<std::string>{
                                 "[Fonction IntegrerRemiseAchat] La table FOURNIS.db n'existe pas "
                                 "dans " +
                                 store.MajDir()});
    store.ExpectOnlyCode1();
    EXPECT_EQ(store.Rows("REMISES.DB", all), before);
}

TEST_F(Driver, EmptySupplierTableLeavesConditionsAloneAndSaysSo) {
    store.CreateTable("REMISES.DB", DemoSchema("REMISES"));
    store.CreateSuppliers(DemoSchema("FOURNIS") + "DELETE FROM FOURNIS;");
    const std::string all = "SELECT * FROM REMISES ORDER BY 1, 2, 3, 4";
    const auto before = store.Rows("REMISES.DB", all);
    ASSERT_FALSE(before.empty());
    store.WriteHeadOffice(
        "remise_achat.xml",
        HeadOffice(
            "RemisesAchat",
            Envelope({Ligne({{"Fournisseur", "ALPINA"}, {"Type", "2"}, {"Famille", "NEW"}})})));
    EXPECT_FALSE(store.driver->IntegrerRemiseAchat());
    EXPECT_EQ(
        store.Texts(),
        std::vector<std::string>{
            "[Fonction IntegrerRemiseAchat] La table FOURNIS.db est vide dans " + store.MajDir()});
    store.ExpectOnlyCode1();
    EXPECT_EQ(store.Rows("REMISES.DB", all), before);
}

TEST_F(Driver, ABrokenConditionsFileAndAMissingSupplierTableAreBothReportedInThatOrder) {
    store.CreateTable("REMISES.DB", DemoSchema("REMISES"));
    const std::string all = "SELECT * FROM REMISES ORDER BY 1, 2, 3, 4";
    const auto before = store.Rows("REMISES.DB", all);
    const std::string path = store.AutoDir() + "remise_achat.xml";
    const std::string missing =
        "[Fonction IntegrerRemiseAchat] La table FOURNIS.db n'existe pas "
        "dans " +
        store.MajDir();
    WriteFile(path, "<RemisesAchat><Lignes>");
    EXPECT_FALSE(store.driver->IntegrerRemiseAchat());
    store.WriteHeadOffice("remise_achat.xml",
                          HeadOffice("RemisesAchat", "<Version Numero=\"2.0\"/>" + Envelope({})));
    store.CreateSuppliers(DemoSchema("FOURNIS") + "DELETE FROM FOURNIS;");
    EXPECT_FALSE(store.driver->IntegrerRemiseAchat());
    EXPECT_EQ(
        store.Texts(),
        (std::vector<std::string>{
            "[Fonction XmlToTable()] Une erreur est survenue au chargement du fichier :\n" + path,
            missing,
            "[Fonction XmlToTable()] La version 2.0 du fichier " + path +
                " est différente de la version 1.0 prise en charge par l'application.",
            "[Fonction IntegrerRemiseAchat] La table FOURNIS.db est vide dans " + store.MajDir()}));
    store.ExpectOnlyCode1();
    EXPECT_TRUE(store.state.EnErreur);
    EXPECT_EQ(store.Rows("REMISES.DB", all), before);
}

TEST_F(Driver, MissingMessageTableFailsTheCategoryButTheOtherFileGoesIn) {
    std::filesystem::remove(store.AdminDir() + "/MessageType.DB");
    store.WriteHeadOffice("message.xml", HeadOffice("Messages", Envelope({OneMessage("N1")})));
    store.WriteHeadOffice("message_type.xml",
                          HeadOffice("Messages", Envelope({Ligne({{"Code", "9"}})})));
    EXPECT_FALSE(store.driver->IntegrerMessage());
    EXPECT_EQ(store.Texts(), std::vector<std::string>{
                                 "[Fonction IntegrerMessage] La table MessageType.DB n'existe pas "
                                 "dans " +
                                 store.AdminDir()});
    EXPECT_EQ(store.One("Message.DB", "SELECT Titre FROM Message WHERE Code='N1'"), "Siège N1");

    // The documents pair the other way round: the first table missing.
    store.CreateTable("MesDocsType.DB", DemoSchema("MesDocsType"));
    store.WriteHeadOffice(
        "mes_docs_type.xml",
        HeadOffice("Documents", Envelope({Ligne({{"Code", "7"}, {"Libelle", "Nouveau"}})})));
    EXPECT_FALSE(store.driver->IntegrerDocument());
    EXPECT_EQ(store.Texts().back(),
              "[Fonction IntegrerDocument] La table MesDocs.DB n'existe pas "
              "dans " +
                  store.AdminDir());
    EXPECT_EQ(store.One("MesDocsType.DB", "SELECT Libelle FROM MesDocsType WHERE Code=7"),
              "Nouveau");
}

TEST_F(Driver, BadFirstFileStillLetsTheSecondIn) {
    store.WriteHeadOffice("message.xml", HeadOffice("Messages", "<Version Numero=\"0.9\"/>" +
                                                                    Envelope({OneMessage("N1")})));
    store.WriteHeadOffice(
        "message_type.xml",
        HeadOffice("Messages", Envelope({Ligne({{"Code", "9"}, {"Libelle", "Neuf"}})})));
    EXPECT_FALSE(store.driver->IntegrerMessage());
    EXPECT_EQ(store.Texts().size(), 1u);
    EXPECT_EQ(Messages(), kDemoMessages);
    EXPECT_EQ(store.One("MessageType.DB", "SELECT Libelle FROM MessageType WHERE Code=9"), "Neuf");
}

TEST_F(Driver, FailureOutsideRecordOperationsLeavesTheTableUnchanged) {
    // A message table without "Externe": the purge cannot read it.
    StoreFixture fresh;
    fresh.CreateTable("Message.DB",
                      "CREATE TABLE Message (Code VARCHAR(20) PRIMARY KEY, Titre VARCHAR(80));"
                      "INSERT INTO Message VALUES ('OLD', 'Ancien');");
    fresh.CreateTable("MessageType.DB", DemoSchema("MessageType"));
    fresh.WriteHeadOffice("message.xml",
                          HeadOffice("Messages", Envelope({Ligne({{"Code", "N1"}, {"Titre", "T"}})},
                                                          "<Configuration ViderExterne=\"1\"/>")));
    fresh.WriteHeadOffice(
        "message_type.xml",
        HeadOffice("Messages", Envelope({Ligne({{"Code", "9"}, {"Libelle", "Neuf"}})})));
    EXPECT_FALSE(fresh.driver->IntegrerMessage());
    ASSERT_EQ(fresh.Texts().size(), 1u);
    const std::string text = fresh.Texts()[0];
    EXPECT_EQ(
        text.rfind("[Fonction MessageDeleteRecords()] L'intégration du fichier " + fresh.AutoDir() +
                       "message.xml est abandonnée, la table Message.DB "
                       "est laissée inchangée : ",
                   0),
        0u)
        << text;
    EXPECT_NE(text.find("Externe"), std::string::npos) << text;
    fresh.ExpectOnlyCode1();
    EXPECT_EQ(fresh.Rows("Message.DB", "SELECT * FROM Message"),
              std::vector<std::string>{"OLD|Ancien"});
    // The other file of the category is still integrated.
    EXPECT_EQ(fresh.One("MessageType.DB", "SELECT Libelle FROM MessageType WHERE Code=9"), "Neuf");
}

TEST_F(Driver, FailureAfterWritesUndoesTheWholeFile) {
    // The first supplier's conditions are deleted before the supplier table, which lacks "Code",
    // fails to answer: the deletion must not survive.
    store.CreateTable("REMISES.DB", TestData("integration/REMISES.sql") +
                                        "INSERT INTO REMISES (Fournisseur, Type, Famille, Libelle) "
                                        "VALUES ('A', 2, 'MONT', 'ancien A');");
    store.CreateSuppliers(
        "CREATE TABLE FOURNIS (Nom VARCHAR(60)); INSERT INTO FOURNIS VALUES "
        "('A');");
    store.WriteHeadOffice(
        "remise_achat.xml",
        HeadOffice("RemisesAchat",
                   Envelope({Ligne({{"Fournisseur", "A"}, {"Type", "2"}, {"Famille", "NEUF"}})})));
    EXPECT_FALSE(store.driver->IntegrerRemiseAchat());
    ASSERT_EQ(store.Texts().size(), 1u);
    const std::string text = store.Texts()[0];
    EXPECT_EQ(
        text.rfind("[Fonction RemisesUpdateRecords()] L'intégration du fichier " + store.AutoDir() +
                       "remise_achat.xml est abandonnée, la table "
                       "REMISES.DB est laissée inchangée : ",
                   0),
        0u)
        << text;
    EXPECT_NE(text.find("Code"), std::string::npos) << text;
    EXPECT_EQ(store.Rows("REMISES.DB", "SELECT Fournisseur, Famille, Libelle FROM REMISES"),
              std::vector<std::string>{"A|MONT|ancien A"});
    EXPECT_FALSE(store.driver->tblRemise.Active());
}

TEST_F(Driver, KeyToTableLowerCasesTheKey) {
    IntegrationDriver& d = *store.driver;
    EXPECT_EQ(d.KeyToTable("REMISE"), &d.tblRemise);
    EXPECT_EQ(d.KeyToTable("Personnalisation"), &d.tblPerso);
    EXPECT_EQ(d.KeyToTable("message"), &d.tblMessage);
    EXPECT_EQ(d.KeyToTable("Message_Type"), &d.tblMessageType);
    EXPECT_EQ(d.KeyToTable("MES_DOCS"), &d.tblMesDocs);
    EXPECT_EQ(d.KeyToTable("mes_docs_type"), &d.tblMesDocsType);
    EXPECT_EQ(d.KeyToTable("remises"), nullptr);
    EXPECT_EQ(d.KeyToTable(""), nullptr);
}

TEST_F(Driver, CategoryIsIntegratedFromThePathsTheRetrievalGives) {
    // The download folder holds older files under the same names: they must not be read.
    store.WriteHeadOffice("message.xml",
                          HeadOffice("Messages", "<Lignes>" + OneMessage("ANCIEN") + "</Lignes>"));
    const auto fetched = store.Dir().Path() / "ailleurs";
    std::filesystem::create_directories(fetched);
    WriteFile(fetched / "m.xml",
              Utf8ToCp1252(HeadOffice("Messages", "<Lignes>" + OneMessage("N1") + "</Lignes>")));
    WriteFile(fetched / "t.xml", Utf8ToCp1252(HeadOffice("Messages", "<Lignes></Lignes>")));
    EXPECT_TRUE(store.driver->Integrer(
        Categorie::Message, {(fetched / "m.xml").string(), (fetched / "t.xml").string()}));
    EXPECT_TRUE(store.state.Erreurs.Empty()) << store.Texts()[0];
    EXPECT_EQ(store.One("Message.DB", "SELECT Titre FROM Message WHERE Code='N1'"), "Siège N1");
    EXPECT_EQ(store.One("Message.DB", "SELECT COUNT(*) FROM Message WHERE Code='ANCIEN'"), "0");
}

}  // namespace
}  // namespace quorvane::testing

namespace quorvane::testing {
namespace {

TEST_F(Driver, AFileGivenUpStillTellsItsLinesAndItsUnlistedRefusals) {
    // Every message type up to 1001 is refused, the next one rolls the whole file back.
    ExecSql(OpenSqlite(store.AdminDir() + "/MessageType.DB").get(),
            "CREATE TRIGGER refus BEFORE INSERT ON MessageType BEGIN "
            "SELECT CASE WHEN NEW.Code <= 1001 THEN RAISE(ABORT, 'refus') "
            "ELSE RAISE(ROLLBACK, 'fin') END; END;");
    std::vector<std::string> lines;
    for (int code = 1; code <= 1002; ++code) {
        lines.push_back(Ligne({{"Code", std::to_string(code)}, {"Libelle", "T"}}));
    }
    store.WriteHeadOffice("message_type.xml", HeadOffice("Messages", Envelope(lines)));
    // The message file gives up when its table is opened: another program holds it.
    store.WriteHeadOffice("message.xml",
                          HeadOffice("Messages", Envelope({OneMessage("N1"), OneMessage("N2")},
                                                          "<Configuration ViderExterne=\"1\"/>")));
    const SqliteHandle holder = OpenSqlite(store.AdminDir() + "/Message.DB");
    ExecSql(holder.get(), "BEGIN EXCLUSIVE");
    Session().SetBusyTimeout(std::chrono::milliseconds(50));
    EXPECT_FALSE(store.driver->IntegrerMessage());
    const FileCounts& messages = store.state.Comptes[2];
    const FileCounts& types = store.state.Comptes[3];
    EXPECT_EQ(messages.Lignes, 2);
    EXPECT_EQ(types.Lignes, 1002);
    EXPECT_EQ(types.Refuses, 1001);
    const auto texts = store.Texts();
    const std::string unlisted =
        "[Fonction XmlToTable()] 1 autre enregistrement refusé du fichier " +
        Path("message_type.xml") + " n'est pas listé.";
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], unlisted);
    EXPECT_NE(texts.back().find("L'intégration du fichier " + Path("message_type.xml") +
                                " est abandonnée"),
              std::string::npos)
        << texts.back();
}

}  // namespace
}  // namespace quorvane::testing
