#include <gtest/gtest.h>

#include "support/StoreFixture.h"

namespace quorvane::testing {
namespace {

const std::string kAll =
    "SELECT Fournisseur, Type, Client, Famille, Libelle FROM REMISES "
    "ORDER BY Fournisseur, Type, Client, Famille";

class Conditions : public ::testing::Test {
  protected:
    void SetUp() override {
        store.CreateTable("REMISES.DB", TestData("integration/REMISES.sql"));
        store.CreateSuppliers(
            "CREATE TABLE FOURNIS (Code VARCHAR(10) PRIMARY KEY, Nom VARCHAR(60));"
            "INSERT INTO FOURNIS VALUES ('A', 'Alpha'), ('B', 'Bêta'), ('C', 'Gamma'), "
            "('ab', 'minuscules'), ('AB', 'majuscules');");
    }
    void Rows(const std::string& values) {
        auto db = OpenSqlite(store.AdminDir() + "/REMISES.DB");
        ExecSql(
            db.get(),
            "INSERT INTO REMISES (Fournisseur, Type, Client, Famille, Libelle) VALUES " + values);
    }
    bool Integrate(const std::string& body) {
        store.WriteHeadOffice("remise_achat.xml", HeadOffice("RemisesAchat", body));
        return store.driver->IntegrerRemiseAchat();
    }
    static std::string Line(const std::string& supplier, const std::string& famille,
                            const std::string& libelle, const std::string& type = "2",
                            const std::string& client = "") {
        Attributes attributes = {
            {"Fournisseur", supplier}, {"Type", type}, {"Famille", famille}, {"Libelle", libelle}};
        if (!client.empty()) {
            attributes.emplace_back("Client", client);
        }
        return Ligne(attributes);
    }
    std::vector<std::string> All() const { return store.Rows("REMISES.DB", kAll); }

    StoreFixture store;
};

TEST_F(Conditions, FileSuppliersLoseTheirNetworkConditionsOthersKeepEverything) {
    Rows(
        "('A', 2, '', 'MONT', 'ancien A'), ('A', 2, '', 'SOL', 'ancien A sol'), "
        "('A', 1, '', 'MONT', 'magasin'), ('A', 2, 'C1', 'MONT', 'client'), "
        "('B', 2, '', 'LENT', 'ancien B'), ('B', 3, '', 'LENT', 'promo'), "
        "('C', 2, '', 'VERR', 'ancien C')");
    EXPECT_TRUE(Integrate(Envelope({Line("B", "LENT", "nouveau B"), Line("A", "MONT", "nouveau A"),
                                    Line("A", "ETUI", "nouveau A étui")})));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(), (std::vector<std::string>{"A|1||MONT|magasin", "A|2||ETUI|nouveau A étui",
                                               "A|2||MONT|nouveau A", "A|2|C1|MONT|client",
                                               "B|2||LENT|nouveau B", "B|3||LENT|promo",
                                               "C|2||VERR|ancien C"}));
    EXPECT_FALSE(store.driver->tblRemise.Active());
}

TEST_F(Conditions, UnknownSupplierOnlyLosesItsNetworkConditions) {
    Rows(
        "('Z', 2, '', 'MONT', 'ancien Z'), ('Z', 2, 'C1', 'MONT', 'client Z'), "
        "('Z', 1, '', 'MONT', 'magasin Z')");
    EXPECT_TRUE(Integrate(Envelope({Line("Z", "MONT", "nouveau Z")})));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(), (std::vector<std::string>{"Z|1||MONT|magasin Z", "Z|2|C1|MONT|client Z"}));
}

TEST_F(Conditions, CodesDifferingByCaseCountOnceUnderTheFirstSpelling) {
    Rows("('ab', 2, '', 'F', 'ancien ab'), ('AB', 2, '', 'F', 'ancien AB')");
    EXPECT_TRUE(Integrate(Envelope({Line("ab", "G", "nouveau ab"), Line("AB", "H", "nouveau AB"),
                                    Line("ab", "I", "nouveau ab 2")})));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(), (std::vector<std::string>{"AB|2||F|ancien AB", "ab|2||G|nouveau ab",
                                               "ab|2||I|nouveau ab 2"}));
}

TEST_F(Conditions, LineWithoutSupplierGoesInOnlyWithAnEmptyCodeListed) {
    const std::string noSupplier = Ligne({{"Type", "2"}, {"Famille", "X"}, {"Libelle", "sans"}});
    EXPECT_TRUE(Integrate(Envelope({noSupplier, Line("A", "MONT", "A")})));
    EXPECT_EQ(All(), std::vector<std::string>{"A|2||MONT|A"});

    // With an empty "Fournisseur" elsewhere in the file the empty code is listed; the store must
    // know it too.
    auto db = OpenSqlite(store.MajDir() + "/FOURNIS.db");
    ExecSql(db.get(), "INSERT INTO FOURNIS VALUES ('', 'vide')");
    Rows("('', 2, '', 'OLD', 'ancien vide')");
    EXPECT_TRUE(Integrate(Envelope({noSupplier, Line("", "Y", "vide")})));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(), (std::vector<std::string>{"|2||X|sans", "|2||Y|vide", "A|2||MONT|A"}));
}

TEST_F(Conditions, OwnConditionsOfTheFileComeBackEveryRunAndClashWithTheKey) {
    const std::string body =
        Envelope({Line("A", "MONT", "réseau"), Line("A", "MONT", "type 3", "3"),
                  Line("A", "MONT", "client", "2", "C9"), Line("B", "LENT", "réseau B")});
    EXPECT_TRUE(Integrate(body));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    // A second run replaces the network conditions; the others are refused by the key, each
    // with its record number, and the run goes on with B.
    EXPECT_TRUE(Integrate(body));
    const std::string prefix =
        "[Fonction RAInsertRecords()] Erreur à l'insertion de l'enregistrement ";
    EXPECT_EQ(store.Texts(), (std::vector<std::string>{prefix + "3 : Violation de clé",
                                                       prefix + "2 : Violation de clé"}));
    store.ExpectOnlyCode1();
    EXPECT_FALSE(store.state.EnErreur);
    EXPECT_EQ(All(), (std::vector<std::string>{"A|2||MONT|réseau", "A|2|C9|MONT|client",
                                               "A|3||MONT|type 3", "B|2||LENT|réseau B"}));
}

TEST_F(Conditions, RefusedDeletionIsReportedAndTheScanGoesOn) {
    Rows("('A', 2, '', 'F1', 'protégé'), ('A', 2, '', 'F2', 'ancien')");
    auto db = OpenSqlite(store.AdminDir() + "/REMISES.DB");
    ExecSql(db.get(),
            "CREATE TRIGGER garde BEFORE DELETE ON REMISES WHEN OLD.Famille = 'F1' "
            "BEGIN SELECT RAISE(ABORT, 'condition protégée'); END;");
    db.reset();
    EXPECT_TRUE(Integrate(Envelope({Line("A", "F3", "nouveau")})));
    EXPECT_EQ(store.Texts(),
              std::vector<std::string>{
                  "[Fonction RemisesDeleteRecord()] Erreur lors de la suppression de "
                  "l'enregistrement 1 : Enregistrement refusé par la table REMISES.DB : "
                  "condition protégée"});
    EXPECT_EQ(All(), (std::vector<std::string>{"A|2||F1|protégé", "A|2||F3|nouveau"}));
}

TEST_F(Conditions, FilesWithoutLinesChangeNothing) {
    Rows("('A', 2, '', 'MONT', 'ancien')");
    EXPECT_TRUE(Integrate(Envelope({})));
    EXPECT_TRUE(Integrate("<Version Numero=\"1.0\"/>"));
    EXPECT_TRUE(Integrate("<Version Numero=\"1.0\"/><Lignes><Autre Fournisseur=\"A\"/></Lignes>"));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(), std::vector<std::string>{"A|2||MONT|ancien"});
    EXPECT_EQ(store.display.Progress(Categorie::RemiseAchat).Position, 0);
}

TEST_F(Conditions, ProgressCountsTheLinesOfKnownSuppliers) {
    // Five lines: three of known suppliers, one of an unknown one, one without supplier.
    EXPECT_TRUE(Integrate(Envelope({Line("A", "1", "a"), Line("Z", "1", "z"), Line("B", "1", "b"),
                                    Ligne({{"Type", "2"}}), Line("A", "2", "a2")})));
    EXPECT_EQ(store.display.Progress(Categorie::RemiseAchat).Max, 5);
    EXPECT_EQ(store.display.Progress(Categorie::RemiseAchat).Position, 3);
    EXPECT_EQ(store.display.ProcessMessagesCount(), 3);
}

}  // namespace
}  // namespace quorvane::testing
