// The steps over tables declared as a store application may declare them: text fields of NUMERIC
// affinity (ALPHA, MEMO, STRING) and whole numbers in TEXT columns. The records found, replaced
// and purged are those the fields' readings give; what the tables cannot keep is refused, line by
// line, with an entry.
#include <gtest/gtest.h>

#include "support/StoreFixture.h"

namespace quorvane::testing {
namespace {

std::string Refused(const std::string& value, const std::string& field, const std::string& type) {
    return "La valeur '" + value + "' du champ " + field +
           " ne peut pas être gardée telle quelle : son type déclaré " + type +
           " la changerait en nombre";
}

TEST(DeclaredTypes, PurchaseConditionsMatchSuppliersAsTextAndTypeAsAWholeNumber) {
    StoreFixture store;
    store.CreateTable(
        "REMISES.DB",
        "CREATE TABLE REMISES (Fournisseur ALPHA(10) NOT NULL, Type TEXT NOT NULL, "
        "Client ALPHA(10) NOT NULL DEFAULT '', Famille STRING NOT NULL DEFAULT '', "
        "Libelle MEMO);"
        "CREATE INDEX RemisesParFournisseur ON REMISES (Fournisseur, Type);"
        // 42 is what the ALPHA column made of a code '42' written by someone else.
        "INSERT INTO REMISES VALUES ('ALP', '2', '', 'MONT', 'ancien'), "
        "('ALP', '02', '', 'SOL', 'ancien type 02'), ('ALP', ' 2', '', 'VERR', "
        "'ancien type blanc'), ('ALP', '1', '', 'MONT', 'magasin'), "
        "('ALP', '2', 'C1', 'MONT', 'client'), ('ALP', '2x', '', 'ETUI', 'illisible'), "
        "('BOR', '2', '', 'LENT', 'autre'), ('42', '2', '', 'MONT', 'code 42');");
    store.CreateSuppliers(
        "CREATE TABLE FOURNIS (Code ALPHA(10), Nom MEMO);"
        "INSERT INTO FOURNIS VALUES ('ALP', 'Alpina'), ('42', 'Quarante-deux'), ('BOR', "
        "'Boréal');");
    store.WriteHeadOffice(
        "remise_achat.xml",
        HeadOffice("RemisesAchat", Envelope({Ligne({{"Fournisseur", "ALP"},
                                                    {"Type", "2"},
                                                    {"Famille", "MONT"},
                                                    {"Libelle", "réseau €"}}),
                                             Ligne({{"Fournisseur", "42"},
                                                    {"Type", "2"},
                                                    {"Famille", "MONT"},
                                                    {"Libelle", "réseau 42"}}),
                                             Ligne({{"Fournisseur", "ALP"},
                                                    {"Type", "2"},
                                                    {"Famille", "0033"},
                                                    {"Libelle", "famille numérotée"}})})));
    EXPECT_TRUE(store.driver->IntegrerRemiseAchat());

    // The supplier 42 is known and its old condition goes, but its new one cannot be kept as text.
    const std::string prefix =
        "[Fonction RAInsertRecords()] Erreur à l'insertion de l'enregistrement ";
    EXPECT_EQ(store.Texts(),
              (std::vector<std::string>{prefix + "8 : " + Refused("42", "Fournisseur", "ALPHA(10)"),
                                        prefix + "6 : " + Refused("0033", "Famille", "STRING")}));
    store.ExpectOnlyCode1();
    EXPECT_EQ(store.Rows("REMISES.DB",
                         "SELECT typeof(Fournisseur), Fournisseur, Type, Client, Famille, Libelle "
                         "FROM REMISES ORDER BY rowid"),
              (std::vector<std::string>{"text|ALP|1||MONT|magasin", "text|ALP|2|C1|MONT|client",
                                        "text|ALP|2x||ETUI|illisible", "text|BOR|2||LENT|autre",
                                        "text|ALP|2||MONT|réseau €"}));
}

TEST(DeclaredTypes, PersonalisationFindsGeneralRecordsByTheGroupAsAWholeNumber) {
    StoreFixture store;
    store.CreateTable(
        "Perso.DB",
        "CREATE TABLE Perso (Groupe TEXT NOT NULL, Famille ALPHA(10) NOT NULL DEFAULT '', "
        "Modele ALPHA(20) NOT NULL DEFAULT '', Fournisseur ALPHA(10) NOT NULL DEFAULT '', "
        "Produit ALPHA(20) NOT NULL DEFAULT '', Libelle MEMO);"
        "CREATE INDEX PersoParModele ON Perso (Groupe, Famille, Modele);"
        "INSERT INTO Perso VALUES ('05', 'MONT', 'AURORE', '', '', 'groupe 05'), "
        "('5', 'MONT', 'AURORE', '', '', 'second général'), "
        "('5', 'MONT', 'AURORE', 'ALP', '', 'fournisseur'), "
        "(' 6', 'SOL', 'ETE', '', '', 'groupe blanc 6'), "
        "('7x', 'SOL', 'ETE', '', '', 'illisible'), "
        "('8', 'LENT', 33, '', '', 'modèle 33');");
    store.WriteHeadOffice(
        "personnalisation.xml",
        HeadOffice(
            "Personnalisations",
            Envelope({
                Ligne({{"Groupe", "5"},
                       {"Famille", "MONT"},
                       {"Modele", "AURORE"},
                       {"Libelle", "réseau 5"}}),
                Ligne({{"Groupe", "6"},
                       {"Famille", "SOL"},
                       {"Modele", "ETE"},
                       {"Libelle", "réseau 6"}}),
                // Finds the record the line before it wrote: "6" reads as 6 like "06".
                Ligne({{"Groupe", "06"},
                       {"Famille", "SOL"},
                       {"Modele", "ETE"},
                       {"Libelle", "réseau 06"}}),
                // The 33 stored reads as "33": it is replaced, but "33" cannot be kept as text.
                Ligne({{"Groupe", "8"},
                       {"Famille", "LENT"},
                       {"Modele", "33"},
                       {"Libelle", "réseau 33"}}),
            })));
    EXPECT_TRUE(store.driver->IntegrerPersonnalisation());
    const std::string prefix =
        "[Fonction PersoUpdateRecords()] Erreur à l'insertion de l'enregistrement ";
    EXPECT_EQ(store.Texts(),
              std::vector<std::string>{prefix + "6 : " + Refused("33", "Modele", "ALPHA(20)")});
    store.ExpectOnlyCode1();
    EXPECT_EQ(store.Rows("Perso.DB",
                         "SELECT typeof(Groupe), Groupe, Famille, Modele, Fournisseur, Libelle "
                         "FROM Perso ORDER BY rowid"),
              (std::vector<std::string>{
                  "text|5|MONT|AURORE||second général", "text|5|MONT|AURORE|ALP|fournisseur",
                  "text|7x|SOL|ETE||illisible", "text|5|MONT|AURORE||réseau 5",
                  "text|06|SOL|ETE||réseau 06"}));
}

TEST(DeclaredTypes, MessagesArePurgedByExterneAsAWholeNumberAndKeepTheirTexts) {
    StoreFixture store;
    store.CreateTable("MessageType.DB", DemoSchema("MessageType"));
    store.CreateTable("Message.DB",
                      "CREATE TABLE Message (Code ALPHA(20) PRIMARY KEY, Externe TEXT, "
                      "Titre ALPHA(80), Texte MEMO, DateDebut DATETIME);"
                      "INSERT INTO Message (Code, Externe, Titre) VALUES ('HO-1', '5', 'siège'), "
                      "('HO-2', '05', 'siège 05'), ('HO-3', ' 5', 'siège blanc'), "
                      "('MAG-1', '0', 'magasin'), ('MAG-2', '50', 'magasin 50'), "
                      "('MAG-3', '5x', 'illisible'), ('MAG-4', NULL, 'sans externe');");
    store.WriteHeadOffice(
        "message.xml",
        HeadOffice("Messages",
                   Envelope({Ligne({{"Code", "HO-N1"},
                                    {"Externe", "5"},
                                    {"Titre", "Offre € 1"},
                                    {"Texte", "Bonjour"},
                                    {"DateDebut", "01/12/2026"}}),
                             Ligne({{"Code", "0042"}, {"Externe", "5"}, {"Titre", "numéro"}}),
                             Ligne({{"Code", "HO-N2"},
                                    {"Externe", "5"},
                                    {"Titre", "puissance"},
                                    {"Texte", "1e5"}}),
                             Ligne({{"Code", "HO-N3"},
                                    {"Externe", "05"},
                                    {"Titre", "Tarifs"},
                                    {"DateDebut", "2026-12-02 08:30"}})},
                            "<Configuration ViderExterne=\"1\"/>")));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    const std::string prefix =
        "[Fonction MessageInsertRecords()] Erreur à l'insertion de l'enregistrement ";
    EXPECT_EQ(store.Texts(),
              (std::vector<std::string>{prefix + "1 : " + Refused("0042", "Code", "ALPHA(20)"),
                                        prefix + "2 : " + Refused("1e5", "Texte", "MEMO")}));
    store.ExpectOnlyCode1();
    EXPECT_EQ(store.Rows("Message.DB",
                         "SELECT Code, typeof(Externe), Externe, Titre, Texte, DateDebut FROM "
                         "Message ORDER BY Code"),
              (std::vector<std::string>{
                  "HO-N1|text|5|Offre € 1|Bonjour|2026-12-01 00:00:00",
                  "HO-N3|text|05|Tarifs|NULL|2026-12-02 08:30:00", "MAG-1|text|0|magasin|NULL|NULL",
                  "MAG-2|text|50|magasin 50|NULL|NULL", "MAG-3|text|5x|illisible|NULL|NULL",
                  "MAG-4|null|NULL|sans externe|NULL|NULL"}));

    // A second purge finds what the first run wrote, "05" included.
    store.WriteHeadOffice(
        "message.xml", HeadOffice("Messages", Envelope({}, "<Configuration ViderExterne=\"1\"/>")));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    EXPECT_EQ(store.Rows("Message.DB", "SELECT Code FROM Message ORDER BY Code"),
              (std::vector<std::string>{"MAG-1", "MAG-2", "MAG-3", "MAG-4"}));
}

TEST(DeclaredTypes, DocumentsArePurgedByExterneInANumericColumnWholeAmountsOnly) {
    StoreFixture store;
    store.CreateTable("MesDocsType.DB", DemoSchema("MesDocsType"));
    store.CreateTable("MesDocs.DB",
                      "CREATE TABLE MesDocs (Code CHAR(20) PRIMARY KEY, Externe MONEY, "
                      "Titre STRING);"
                      "INSERT INTO MesDocs VALUES ('D1', 5, 'cinq'), ('D2', 5.0, 'cinq réel'), "
                      "('D3', 4.6, 'presque cinq'), ('D4', '', 'vide'), ('D5', 'cinq', 'mot');");
    store.WriteHeadOffice(
        "mes_docs.xml",
        HeadOffice("Documents",
                   Envelope({Ligne({{"Code", "0007"}, {"Externe", "5"}, {"Titre", "Doc"}})},
                            "<Configuration ViderExterne=\"1\"/>")));
    EXPECT_TRUE(store.driver->IntegrerDocument());
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(
        store.Rows("MesDocs.DB",
                   "SELECT Code, typeof(Externe), Externe FROM MesDocs ORDER BY Code"),
        (std::vector<std::string>{"0007|integer|5", "D3|real|4.6", "D4|text|", "D5|text|cinq"}));
}

TEST(DeclaredTypes, WholeNumbersByTheirWidthAndStrictTablesKeepTexts) {
    StoreFixture store;
    store.CreateTable("MessageType.DB",
                      "CREATE TABLE MessageType (Code INTEGER PRIMARY KEY, Article INT, "
                      "Compteur BIGINT, Long LONG, Court SMALLINT, Libre ANY);");
    // STRICT: the ANY column keeps "007" as it is; a plain table's ANY column (Libre) would not.
    store.CreateTable("Message.DB",
                      "CREATE TABLE Message (Code TEXT PRIMARY KEY, Valeur ANY, Texte TEXT, "
                      "Nombre INTEGER) STRICT;");
    const auto line = [](const std::string& code, const std::string& field,
                         const std::string& value) {
        return Ligne({{"Code", code}, {field, value}});
    };
    store.WriteHeadOffice(
        "message_type.xml",
        HeadOffice(
            "Messages",
            Envelope({line("1", "Article", "3000000000"), line("2", "Compteur", "-3000000000"),
                      line("3", "Long", "3000000000"), line("4", "Long", "2147483647"),
                      line("5", "Court", "40000"), line("6", "Libre", "007")})));
    store.WriteHeadOffice("message.xml",
                          HeadOffice("Messages", Envelope({Ligne({{"Code", "0042"},
                                                                  {"Valeur", "007"},
                                                                  {"Texte", "1e5"},
                                                                  {"Nombre", "3000000000"}})})));
    EXPECT_TRUE(store.driver->IntegrerMessage());
    const auto texts = store.Texts();
    ASSERT_EQ(texts.size(), 3U) << ::testing::PrintToString(texts);
    EXPECT_NE(texts[0].find(": La valeur '3000000000' dépasse les limites du champ entier Long"),
              std::string::npos);
    EXPECT_NE(texts[1].find(": La valeur '40000' dépasse les limites du champ entier Court"),
              std::string::npos);
    EXPECT_NE(texts[2].find(Refused("007", "Libre", "ANY")), std::string::npos);
    EXPECT_EQ(
        store.Rows("MessageType.DB",
                   "SELECT Code, typeof(Article), Article, Compteur, Long FROM MessageType "
                   "ORDER BY Code"),
        (std::vector<std::string>{"1|integer|3000000000|NULL|NULL", "2|null|NULL|-3000000000|NULL",
                                  "4|null|NULL|NULL|2147483647"}));
    EXPECT_EQ(store.Rows("Message.DB",
                         "SELECT Code, typeof(Valeur), Valeur, typeof(Texte), Texte, Nombre "
                         "FROM Message"),
              std::vector<std::string>{"0042|text|007|text|1e5|3000000000"});
}

}  // namespace
}  // namespace quorvane::testing
