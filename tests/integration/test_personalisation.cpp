#include <gtest/gtest.h>

#include "support/StoreFixture.h"

namespace quorvane::testing {
namespace {

const std::string kAll =
    "SELECT Groupe, Famille, Modele, Fournisseur, Produit, Libelle FROM Perso ORDER BY rowid";

class Perso : public ::testing::Test {
  protected:
    void SetUp() override {
        store.CreateTable(
            "Perso.DB",
            "CREATE TABLE Perso (Groupe INTEGER NOT NULL DEFAULT 0, Famille VARCHAR(10) NOT NULL "
            "DEFAULT '', Modele VARCHAR(20) NOT NULL DEFAULT '', Fournisseur VARCHAR(10) NOT NULL "
            "DEFAULT '', Produit VARCHAR(20) NOT NULL DEFAULT '', Libelle VARCHAR(60), "
            "PrixConseille MONEY);"
            "CREATE INDEX PersoParModele ON Perso (Groupe, Famille, Modele);");
    }
    void Rows(const std::string& values) {
        auto db = OpenSqlite(store.AdminDir() + "/Perso.DB");
        ExecSql(db.get(),
                "INSERT INTO Perso (Groupe, Famille, Modele, Fournisseur, Produit, Libelle) "
                "VALUES " +
                    values);
    }
    bool Integrate(const std::string& body) {
        store.WriteHeadOffice("personnalisation.xml", HeadOffice("Personnalisations", body));
        return store.driver->IntegrerPersonnalisation();
    }
    static std::string Line(const std::string& groupe, const std::string& modele,
                            const std::string& libelle) {
        return Ligne(
            {{"Groupe", groupe}, {"Famille", "MONT"}, {"Modele", modele}, {"Libelle", libelle}});
    }
    std::vector<std::string> All() const { return store.Rows("Perso.DB", kAll); }

    StoreFixture store;
};

TEST_F(Perso, GeneralRecordIsReplacedRestrictedOnesStay) {
    Rows(
        "(1, 'MONT', 'AURORE', '', '', 'général'), (1, 'MONT', 'AURORE', 'ALP', '', 'fourn'), "
        "(1, 'MONT', 'AURORE', '', 'P1', 'produit'), (1, 'MONT', 'aurore', '', '', 'casse'), "
        "(2, 'MONT', 'AURORE', '', '', 'groupe 2')");
    EXPECT_TRUE(Integrate(Envelope({Line("1", "AURORE", "réseau"), Line("1", "BRISE", "neuf")})));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(),
              (std::vector<std::string>{"1|MONT|AURORE|ALP||fourn", "1|MONT|AURORE||P1|produit",
                                        "1|MONT|aurore|||casse", "2|MONT|AURORE|||groupe 2",
                                        "1|MONT|AURORE|||réseau", "1|MONT|BRISE|||neuf"}));
    EXPECT_FALSE(store.driver->tblPerso.Active());
}

TEST_F(Perso, OnlyTheFirstOfTwoGeneralRecordsIsReplaced) {
    Rows("(1, 'MONT', 'AURORE', '', '', 'premier'), (1, 'MONT', 'AURORE', '', '', 'second')");
    EXPECT_TRUE(Integrate(Envelope({Line("1", "AURORE", "réseau")})));
    EXPECT_EQ(All(),
              (std::vector<std::string>{"1|MONT|AURORE|||second", "1|MONT|AURORE|||réseau"}));
}

TEST_F(Perso, LineWithoutGroupeMatchesGroupMinusOneOnly) {
    Rows("(0, 'MONT', 'AURORE', '', '', 'groupe 0'), (-1, 'MONT', 'AURORE', '', '', 'moins un')");
    EXPECT_TRUE(Integrate(Envelope(
        {Ligne({{"Famille", "MONT"}, {"Modele", "AURORE"}, {"Libelle", "sans groupe"}})})));
    EXPECT_EQ(All(), (std::vector<std::string>{"0|MONT|AURORE|||groupe 0",
                                               "0|MONT|AURORE|||sans groupe"}));
}

TEST_F(Perso, LastLineOfAKeyWins) {
    Rows("(1, 'MONT', 'AURORE', '', '', 'ancien')");
    EXPECT_TRUE(
        Integrate(Envelope({Line("1", "AURORE", "premier"), Line(" 1", "AURORE", "dernier")})));
    EXPECT_EQ(All(), std::vector<std::string>{"1|MONT|AURORE|||dernier"});
}

TEST_F(Perso, GroupeThatIsNotAWholeNumberPassesTheLineOver) {
    Rows("(1, 'MONT', 'AURORE', '', '', 'ancien')");
    EXPECT_TRUE(Integrate(
        Envelope({Line("1,5", "AURORE", "virgule"), Line("", "AURORE", "vide"),
                  Line("1", "AURORE", "réseau"), Line("99999999999", "X", "trop grand")})));
    const std::string prefix = "[Fonction PersoUpdateRecords()] La ligne ";
    EXPECT_EQ(store.Texts(),
              (std::vector<std::string>{
                  prefix + "1 est ignorée : la valeur '1,5' de l'attribut Groupe n'est pas un "
                           "nombre entier.",
                  prefix + "2 est ignorée : la valeur '' de l'attribut Groupe n'est pas un "
                           "nombre entier.",
                  prefix + "4 est ignorée : la valeur '99999999999' de l'attribut Groupe n'est "
                           "pas un nombre entier."}));
    store.ExpectOnlyCode1();
    EXPECT_EQ(All(), std::vector<std::string>{"1|MONT|AURORE|||réseau"});
    // Every line counts on the bar, passed over or not.
    EXPECT_EQ(store.display.Progress(Categorie::Personnalisation).Max, 4);
    EXPECT_EQ(store.display.Progress(Categorie::Personnalisation).Position, 4);
}

TEST_F(Perso, RefusalsAreReportedWithTheirRecordNumber) {
    Rows("(1, 'MONT', 'A', '', '', 'protégé'), (1, 'MONT', 'B', '', '', 'ancien B')");
    auto db = OpenSqlite(store.AdminDir() + "/Perso.DB");
    ExecSql(db.get(),
            "CREATE TRIGGER garde BEFORE DELETE ON Perso WHEN OLD.Modele = 'A' "
            "BEGIN SELECT RAISE(ABORT, 'modèle protégé'); END;");
    db.reset();
    EXPECT_TRUE(Integrate(Envelope(
        {Line("1", "A", "nouveau A"),
         Ligne({{"Groupe", "1"}, {"Famille", "MONT"}, {"Modele", "B"}, {"PrixConseille", "x"}}),
         Line("1", "C", "nouveau C")})));
    EXPECT_EQ(store.Texts(),
              (std::vector<std::string>{
                  "[Fonction PersoUpdateRecords()] Erreur lors de la suppression de "
                  "l'enregistrement 1 : Enregistrement refusé par la table Perso.DB : modèle "
                  "protégé",
                  "[Fonction PersoUpdateRecords()] Erreur à l'insertion de l'enregistrement 3 : "
                  "La valeur 'x' n'est pas un montant valide pour le champ PrixConseille"}));
    // The refused deletion does not keep the line out; the refused insertion loses only its line
    // (the general record of B is gone, as the line's deletion came first).
    EXPECT_EQ(All(), (std::vector<std::string>{"1|MONT|A|||protégé", "1|MONT|A|||nouveau A",
                                               "1|MONT|C|||nouveau C"}));
}

TEST_F(Perso, FilesWithoutLines) {
    Rows("(1, 'MONT', 'AURORE', '', '', 'ancien')");
    EXPECT_TRUE(Integrate(Envelope({})));
    EXPECT_FALSE(Integrate("<Version Numero=\"1.0\"/>"));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(All(), std::vector<std::string>{"1|MONT|AURORE|||ancien"});
}

}  // namespace
}  // namespace quorvane::testing
