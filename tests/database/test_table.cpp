#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "database/DbError.h"
#include "database/Session.h"
#include "database/Table.h"
#include "support/SqliteDirect.h"
#include "support/TempDir.h"

namespace quorvane::testing {
namespace {

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EDBEngineError& e) {
        return e.what();
    }
    return "<no error>";
}

class TableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Session().Reset();
        Session().AddStandardAlias("OmbrelinAdministration", dir.Path().string(), "");
    }
    void TearDown() override { Session().Reset(); }
    std::filesystem::path File(const std::string& name) const { return dir.Path() / name; }

    // Inserts one record from (field, text) pairs through the layer.
    static void Add(TTable& table, const std::vector<std::pair<std::string, std::string>>& values) {
        table.Insert();
        for (const auto& [field, text] : values) {
            table.FieldByName(field).SetAsString(text);
        }
        table.Post();
    }

    TempDir dir;
};

TEST_F(TableTest, ExistsOpensAndNamesItsDirectoryWithoutCreatingFiles) {
    TTable table("OmbrelinAdministration", "REMISES.DB");
    EXPECT_EQ(table.DatabaseDirectory(), dir.Path().string());
    EXPECT_FALSE(table.Exists());
    EXPECT_EQ(ErrorOf([&] { table.Open(); }),
              "La table REMISES.DB n'existe pas dans " + dir.Path().string());
    EXPECT_FALSE(std::filesystem::exists(File("REMISES.DB")));
    CreateTableFromData(File("REMISES.DB"), "REMISES.sql");
    EXPECT_TRUE(table.Exists());
    EXPECT_FALSE(TTable("OmbrelinAdministration", "remises.db").Exists());
    table.Open();
    EXPECT_TRUE(table.Active());
    EXPECT_TRUE(table.Eof());
    table.Close();
    EXPECT_FALSE(table.Active());
    EXPECT_EQ(ErrorOf([] { TTable("Inconnu", "REMISES.DB").Exists(); }),
              "L'alias Inconnu est inconnu");
}

TEST_F(TableTest, AFileThatIsNoTableOrHasNoSuchTableIsRefusedAtOpen) {
    {
        std::ofstream out(File("REMISES.DB"));
        out << "Fournisseur;Type\nA;2\n";
    }
    TTable table("OmbrelinAdministration", "REMISES.DB");
    EXPECT_EQ(ErrorOf([&] { table.Open(); }),
              "Le fichier de la table REMISES.DB est endommagé ou n'est pas une table SQLite");
    EXPECT_FALSE(table.Active());
    CreateTableFromData(File("Perso.DB"), "REMISES.sql");
    TTable perso("OmbrelinAdministration", "Perso.DB");
    EXPECT_EQ(ErrorOf([&] { perso.Open(TOpenMode::ReadOnly); }),
              "La table Perso n'existe pas dans le fichier Perso.DB");
}

TEST_F(TableTest, FieldsCarryTheirKindsAndAreFoundByExactName) {
    CreateTableFromData(File("AllKinds.DB"), "AllKinds.sql");
    TTable table("OmbrelinAdministration", "AllKinds.DB");
    table.Open();
    const std::vector<TFieldType> expected = {
        TFieldType::Integer,  TFieldType::Text,    TFieldType::Integer, TFieldType::Integer,
        TFieldType::Integer,  TFieldType::Integer, TFieldType::Float,   TFieldType::Money,
        TFieldType::Bcd,      TFieldType::Boolean, TFieldType::Date,    TFieldType::Time,
        TFieldType::DateTime, TFieldType::Memo,    TFieldType::Binary,  TFieldType::Text};
    ASSERT_EQ(table.FieldCount(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(table.Fields(i).DataType(), expected[i]) << table.Fields(i).FieldName();
    }
    EXPECT_EQ(table.Fields(1).FieldName(), "Nom");
    EXPECT_EQ(ErrorOf([&] { table.FieldByName("nom"); }),
              "Le champ nom n'existe pas dans la table AllKinds.DB");
}

TEST_F(TableTest, AssignedValuesAreStoredInTheirKinds) {
    CreateTableFromData(File("AllKinds.DB"), "AllKinds.sql");
    {
        TTable table("OmbrelinAdministration", "AllKinds.DB");
        table.Open();
        Add(table, {{"Id", "1"},
                    {"Nom", "Hélène"},
                    {"Court", "-7"},
                    {"Grand", "9000000000"},
                    {"Reel", "1,5"},
                    {"Quantite", "12,250"},
                    {"Actif", "Oui"},
                    {"Jour", "05/11/2024"},
                    {"Heure", "8:30"},
                    {"Moment", "2024-11-05 08:30:15"},
                    {"Note", ""},
                    {"Divers", "x"}});
        table.Insert();
        table.FieldByName("Id").SetAsString("2");
        table.FieldByName("Prix").SetAsMoney(12345600);
        table.FieldByName("Reel").SetAsMoney(-35000);
        table.FieldByName("Jour").SetAsString("");
        table.Post();
        EXPECT_EQ(table.FieldByName("Prix").AsString(), "1234.56");
        table.Close();
    }
    const SqliteHandle db = OpenSqlite(File("AllKinds.DB"));
    EXPECT_EQ(Rows(db.get(),
                   "SELECT Nom, Court, typeof(Court), Grand, Reel, Quantite, typeof(Quantite), "
                   "Actif, Jour, Heure, Moment, Note, typeof(Note), typeof(Prix) FROM AllKinds "
                   "ORDER BY Id"),
              (std::vector<std::string>{
                  "Hélène|-7|integer|9000000000|1.5|12.25|real|1|2024-11-05|08:30:00|"
                  "2024-11-05 08:30:15||text|null",
                  "NULL|NULL|null|NULL|-3.5|NULL|null|NULL|NULL|NULL|NULL|NULL|null|real"}));
    EXPECT_EQ(One(db.get(), "SELECT Prix FROM AllKinds WHERE Id = 2"), "1234.56");
}

TEST_F(TableTest, ARefusedConversionNamesValueAndFieldAndLeavesTheRecordUnstored) {
    CreateTableFromData(File("AllKinds.DB"), "AllKinds.sql");
    TTable table("OmbrelinAdministration", "AllKinds.DB");
    table.Open();
    table.Insert();
    EXPECT_EQ(ErrorOf([&] { table.FieldByName("Moyen").SetAsString("abc"); }),
              "La valeur 'abc' n'est pas un entier valide pour le champ Moyen");
    EXPECT_EQ(ErrorOf([&] { table.FieldByName("Jour").SetAsString("31/02/2020"); }),
              "La valeur '31/02/2020' n'est pas une date valide pour le champ Jour");
    table.Cancel();
    EXPECT_EQ(ErrorOf([&] { table.FieldByName("Nom").SetAsString("x"); }),
              "La table AllKinds.DB n'est pas en mode insertion");
    table.Close();
    const SqliteHandle db = OpenSqlite(File("AllKinds.DB"));
    EXPECT_EQ(One(db.get(), "SELECT count(*) FROM AllKinds"), "0");
}

TEST_F(TableTest, KeyViolationIsRefusedAloneAndTheRestOfTheSpanCommits) {
    CreateTableFromData(File("REMISES.DB"), "REMISES.sql");
    TTable table("OmbrelinAdministration", "REMISES.DB");
    table.Open();
    Add(table, {{"Fournisseur", "B"}, {"Type", "2"}});
    Add(table, {{"Fournisseur", "D"}, {"Type", "2"}});
    table.Insert();
    table.FieldByName("Fournisseur").SetAsString("B");
    table.FieldByName("Type").SetAsString("2");
    EXPECT_EQ(table.RecNo(), 1);  // where the new record would stand, before "D"
    EXPECT_EQ(ErrorOf([&] { table.Post(); }), "Violation de clé");
    EXPECT_TRUE(table.Inserting());
    EXPECT_EQ(table.RecNo(), 1);
    table.Cancel();
    table.Insert();
    table.FieldByName("Fournisseur").SetAsString("C");
    EXPECT_EQ(ErrorOf([&] { table.Post(); }), "Le champ Type doit avoir une valeur");
    Add(table, {{"Fournisseur", "A"}, {"Type", "2"}});
    EXPECT_EQ(table.RecNo(), 1);
    table.Close();
    const SqliteHandle db = OpenSqlite(File("REMISES.DB"));
    EXPECT_EQ(Rows(db.get(), "SELECT Fournisseur FROM REMISES ORDER BY rowid"),
              (std::vector<std::string>{"B", "D", "A"}));
}

TEST_F(TableTest, APostedRecordBecomesCurrentAsTheTableStoredIt) {
    CreateTableFromData(File("REMISES.DB"), "REMISES.sql");
    TTable table("OmbrelinAdministration", "REMISES.DB");
    table.Open();
    Add(table, {{"Fournisseur", "K"}, {"Type", "2"}, {"Famille", "a"}});
    Add(table, {{"Fournisseur", "C"}, {"Type", "02"}, {"Remise", "12,5"}});
    // The default the table declares, not the unassigned NULL, and the number as stored.
    EXPECT_FALSE(table.FieldByName("Client").IsNull());
    EXPECT_EQ(table.FieldByName("Client").AsString(), "");
    EXPECT_EQ(table.FieldByName("Type").AsString(), "2");
    EXPECT_EQ(table.FieldByName("Remise").AsString(), "12.5");
    EXPECT_EQ(table.RecNo(), 1);
    table.Insert();
    EXPECT_EQ(table.FieldByName("Fournisseur").AsString(), "");
    table.Cancel();
    EXPECT_EQ(table.FieldByName("Fournisseur").AsString(), "C");
    table.Next();
    EXPECT_EQ(table.FieldByName("Fournisseur").AsString(), "K");
    EXPECT_EQ(table.RecNo(), 2);
    table.Next();
    EXPECT_TRUE(table.Eof());
    table.Close();
}

TEST_F(TableTest, DeclaredReplaceOnConflictStillRefusesTheDuplicate) {
    {
        const SqliteHandle db = OpenSqlite(File("Codes.DB"));
        ExecSql(db.get(),
                "CREATE TABLE Codes (Code TEXT PRIMARY KEY ON CONFLICT REPLACE, Nom TEXT);"
                "INSERT INTO Codes VALUES ('A', 'premier');");
    }
    TTable table("OmbrelinAdministration", "Codes.DB");
    table.Open();
    table.Insert();
    table.FieldByName("Code").SetAsString("A");
    table.FieldByName("Nom").SetAsString("second");
    EXPECT_EQ(ErrorOf([&] { table.Post(); }), "Violation de clé");
    table.Close();
    const SqliteHandle db = OpenSqlite(File("Codes.DB"));
    EXPECT_EQ(One(db.get(), "SELECT Nom FROM Codes"), "premier");
}

TEST_F(TableTest, CheckAndTriggerRefusalsNameTheirCause) {
    CreateTableFromData(File("Message.DB"), "Message.sql");
    TTable table("OmbrelinAdministration", "Message.DB");
    table.Open();
    Add(table, {{"Externe", "5"}, {"Titre", "bienvenue"}});
    EXPECT_EQ(ErrorOf([&] {
                  Add(table, {{"Externe", "5"}, {"Titre", ""}});
              }),
              "Valeur refusée par une contrainte de validité de la table Message.DB : "
              "length(Titre) > 0");
    table.Cancel();
    EXPECT_EQ(ErrorOf([&] {
                  Add(table, {{"Externe", "5"}, {"Titre", "interdit"}});
              }),
              "Enregistrement refusé par la table Message.DB : titre réservé");
    table.Cancel();
    Add(table, {{"Externe", "1"}, {"Titre", "magasin"}});
    EXPECT_EQ(table.RecNo(), 2);
    table.Close();
    const SqliteHandle db = OpenSqlite(File("Message.DB"));
    EXPECT_EQ(Rows(db.get(), "SELECT Numero, Titre FROM Message ORDER BY Numero"),
              (std::vector<std::string>{"1|bienvenue", "2|magasin"}));
}

TEST_F(TableTest, ScanFollowsTableOrderAndRecordNumbers) {
    CreateTableFromData(File("REMISES.DB"), "REMISES.sql");
    CreateTableFromData(File("Perso.DB"), "Perso.sql");
    {
        const SqliteHandle db = OpenSqlite(File("REMISES.DB"));
        ExecSql(db.get(),
                "INSERT INTO REMISES (Fournisseur, Type) VALUES ('M', 2), ('C', 1), "
                "('C', 2), ('Z', 2), ('A', 9);");
        const SqliteHandle perso = OpenSqlite(File("Perso.DB"));
        ExecSql(perso.get(),
                "INSERT INTO Perso (Groupe, Modele) VALUES (3, 'z'), (1, 'a'), (2, 'm');");
    }
    for (const auto& [file, field, expected] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"REMISES.DB", "Fournisseur", "A,C,C,M,Z"}, {"Perso.DB", "Modele", "z,a,m"}}) {
        TTable table("OmbrelinAdministration", file, Session());
        table.Open(TOpenMode::ReadOnly);
        std::string seen;
        std::int64_t expectedRecNo = 1;
        for (table.First(); !table.Eof(); table.Next()) {
            seen += (seen.empty() ? "" : ",") + table.FieldByName(field).AsString();
            EXPECT_EQ(table.RecNo(), expectedRecNo++) << file;
        }
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(table.RecNo(), 0);
        table.Close();
    }
}

TEST_F(TableTest, DeletingDuringAScanVisitsEveryRecordOnce) {
    {
        const SqliteHandle db = OpenSqlite(File("Nombres.DB"));
        ExecSql(db.get(),
                "CREATE TABLE Nombres (N INTEGER PRIMARY KEY, Pair LOGICAL);"
                "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
                "WHERE n < 1500) INSERT INTO Nombres SELECT n, n % 2 = 0 FROM s;");
    }
    TTable table("OmbrelinAdministration", "Nombres.DB");
    table.Open();
    std::int64_t expected = 1;
    int deleted = 0;
    table.First();
    while (!table.Eof()) {
        ASSERT_EQ(table.FieldByName("N").AsLargeInt(), expected++);
        if (table.FieldByName("Pair").AsInteger() == 1) {
            table.Delete();
            ++deleted;
        } else {
            table.Next();
        }
    }
    EXPECT_EQ(expected, 1501);
    EXPECT_EQ(deleted, 750);
    table.Close();
    const SqliteHandle db = OpenSqlite(File("Nombres.DB"));
    EXPECT_EQ(One(db.get(), "SELECT count(*), sum(N % 2) FROM Nombres"), "750|750");
}

// After a Delete the following record is current, whatever is done next: looked at, moved
// from, searched past, or put aside by an insertion that is cancelled.
TEST_F(TableTest, TheRecordAfterADeletedOneIsCurrentWhateverComesNext) {
    {
        const SqliteHandle db = OpenSqlite(File("Nombres.DB"));
        ExecSql(db.get(),
                "CREATE TABLE Nombres (N INTEGER PRIMARY KEY, Nom TEXT);"
                "INSERT INTO Nombres VALUES (1, 'un'), (2, 'deux'), (3, 'trois'), "
                "(4, 'quatre'), (5, 'cinq'), (6, 'six');");
    }
    TTable table("OmbrelinAdministration", "Nombres.DB");
    table.Open();
    const auto number = [](std::int64_t n) {
        return std::vector<FieldCondition>{FieldCondition::Equal("N", n)};
    };
    ASSERT_TRUE(table.Locate(number(2)));
    table.Delete();
    table.Insert();
    table.FieldByName("N").SetAsString("10");
    table.Cancel();
    EXPECT_FALSE(table.Eof());
    EXPECT_EQ(table.FieldByName("Nom").AsString(), "trois");
    EXPECT_EQ(table.RecNo(), 2);

    table.Delete();  // 3
    EXPECT_FALSE(table.LocateNext(number(3)));
    EXPECT_EQ(table.FieldByName("N").AsInteger(), 4);
    table.Next();
    EXPECT_EQ(table.FieldByName("Nom").AsString(), "cinq");

    table.Delete();  // 5
    ASSERT_TRUE(table.LocateNext(number(6)));
    table.Delete();  // 6, the last one
    EXPECT_TRUE(table.Eof());
    EXPECT_EQ(table.RecNo(), 0);

    ASSERT_TRUE(table.Locate(number(4)));
    table.Delete();
    Add(table, {{"N", "10"}, {"Nom", "dix"}});
    EXPECT_EQ(table.FieldByName("Nom").AsString(), "dix");
    table.Next();
    EXPECT_TRUE(table.Eof());
    table.Close();
    const SqliteHandle db = OpenSqlite(File("Nombres.DB"));
    EXPECT_EQ(One(db.get(), "SELECT group_concat(N) FROM (SELECT N FROM Nombres ORDER BY N)"),
              "1,10");
}

TEST_F(TableTest, KeysWithNullPartsKeepAWellDefinedOrder) {
    {
        const SqliteHandle db = OpenSqlite(File("Paires.DB"));
        ExecSql(db.get(),
                "CREATE TABLE Paires (A TEXT, B TEXT, Nom TEXT, PRIMARY KEY (A, B));"
                "INSERT INTO Paires VALUES ('x', NULL, '3'), (NULL, 'b', '2'), "
                "('x', 'a', '4'), (NULL, NULL, '1'), (NULL, NULL, '1bis'), "
                "('y', NULL, '5');");
    }
    TTable table("OmbrelinAdministration", "Paires.DB");
    table.Open();
    std::string seen;
    for (table.First(); !table.Eof(); table.Next()) {
        seen += table.FieldByName("Nom").AsString() + "@" + std::to_string(table.RecNo()) + " ";
    }
    EXPECT_EQ(seen, "1@1 1bis@2 2@3 3@4 4@5 5@6 ");
    ASSERT_TRUE(table.Locate({FieldCondition::Equal("Nom", "3")}));
    table.Delete();
    EXPECT_EQ(table.FieldByName("Nom").AsString(), "4");
    table.Close();
}

TEST_F(TableTest, LocateFindsTheFirstMatchInTableOrderAndLocateNextGoesOn) {
    CreateTableFromData(File("REMISES.DB"), "REMISES.sql");
    {
        const SqliteHandle db = OpenSqlite(File("REMISES.DB"));
        ExecSql(db.get(),
                "INSERT INTO REMISES (Fournisseur, Type, Client, Famille) VALUES "
                "('X', 2, '', 'f3'), ('X', 2, '', 'f1'), ('X', 1, '', 'f1'), "
                "('X', 2, 'CLI', 'f1'), ('x', 2, '', 'f1'), ('Y', 2, '', 'f1'), "
                "('X', 2, '', 'f2');");
    }
    TTable table("OmbrelinAdministration", "REMISES.DB");
    table.Open();
    const std::vector<FieldCondition> conditions = {FieldCondition::Equal("Fournisseur", "X"),
                                                    FieldCondition::Equal("Type", 2),
                                                    FieldCondition::Empty("Client")};
    std::string deleted;
    bool found = table.Locate(conditions);
    while (found) {
        deleted += table.FieldByName("Famille").AsString() + " ";
        table.Delete();
        found = table.LocateNext(conditions);
    }
    EXPECT_EQ(deleted, "f1 f2 f3 ");
    EXPECT_FALSE(table.Locate(conditions));
    ASSERT_TRUE(table.Locate({FieldCondition::Equal("Fournisseur", "X")}));
    EXPECT_EQ(table.FieldByName("Type").AsInteger(), 1);
    EXPECT_EQ(table.RecNo(), 1);
    ASSERT_TRUE(table.LocateNext({FieldCondition::Equal("Fournisseur", "X")}));
    EXPECT_EQ(table.FieldByName("Client").AsString(), "CLI");
    EXPECT_FALSE(table.LocateNext({FieldCondition::Equal("Fournisseur", "X")}));
    EXPECT_EQ(ErrorOf([&] { table.Locate({FieldCondition::Empty("Inconnu")}); }),
              "Le champ Inconnu n'existe pas dans la table REMISES.DB");
    table.Close();
    const SqliteHandle db = OpenSqlite(File("REMISES.DB"));
    EXPECT_EQ(One(db.get(), "SELECT count(*) FROM REMISES"), "4");
}

TEST_F(TableTest, LocateNextGoesOnFromAnyCurrentRecordWhetherItMatchesOrNot) {
    CreateTableFromData(File("REMISES.DB"), "REMISES.sql");
    {
        const SqliteHandle db = OpenSqlite(File("REMISES.DB"));
        ExecSql(db.get(),
                "INSERT INTO REMISES (Fournisseur, Type, Client, Famille) VALUES "
                "('A', 2, '', 'z'), ('B', 2, '', 'a'), ('B', 2, '', 'm'), ('B', 2, 'C', 'b'),"
                "('B', 3, '', 'a'), ('C', 2, '', 'a');");
    }
    TTable table("OmbrelinAdministration", "REMISES.DB");
    table.Open(TOpenMode::ReadOnly);
    const std::vector<FieldCondition> supplierB = {FieldCondition::Equal("Fournisseur", "B"),
                                                   FieldCondition::Equal("Type", 2),
                                                   FieldCondition::Empty("Client")};
    // From a record of another supplier, whose key sorts after B's 'a' family.
    table.First();
    ASSERT_EQ(table.FieldByName("Famille").AsString(), "z");
    ASSERT_TRUE(table.LocateNext(supplierB));
    EXPECT_EQ(table.FieldByName("Famille").AsString(), "a");
    // Nothing deleted: each match is passed once, in key order.
    ASSERT_TRUE(table.LocateNext(supplierB));
    EXPECT_EQ(table.FieldByName("Famille").AsString(), "m");
    EXPECT_FALSE(table.LocateNext(supplierB));
    table.Close();
}

TEST_F(TableTest, LocateTreatsNullAsEmptyTextAndAsZero) {
    CreateTableFromData(File("Perso.DB"), "Perso.sql");
    {
        const SqliteHandle db = OpenSqlite(File("Perso.DB"));
        ExecSql(db.get(),
                "INSERT INTO Perso (Groupe, Famille, Modele, Fournisseur, Produit, Libelle) "
                "VALUES (1, 'F', 'M', 'S', NULL, 'fournisseur'), "
                "(1, 'F', 'M', NULL, '', 'general'), (1, 'F', 'M', '', NULL, 'second'), "
                "(NULL, 'F', 'M', NULL, NULL, 'sans groupe');");
    }
    TTable table("OmbrelinAdministration", "Perso.DB");
    table.Open(TOpenMode::ReadOnly);
    auto general = [](std::int64_t groupe) {
        return std::vector<FieldCondition>{
            FieldCondition::Equal("Groupe", groupe), FieldCondition::Equal("Famille", "F"),
            FieldCondition::Equal("Modele", "M"), FieldCondition::Empty("Fournisseur"),
            FieldCondition::Equal("Produit", "")};
    };
    ASSERT_TRUE(table.Locate(general(1)));
    EXPECT_EQ(table.FieldByName("Libelle").AsString(), "general");
    EXPECT_EQ(table.RecNo(), 2);
    ASSERT_TRUE(table.LocateNext(general(1)));
    EXPECT_EQ(table.FieldByName("Libelle").AsString(), "second");
    ASSERT_TRUE(table.Locate(general(0)));
    EXPECT_EQ(table.FieldByName("Libelle").AsString(), "sans groupe");
    EXPECT_EQ(table.FieldByName("Groupe").AsInteger(), 0);
    EXPECT_EQ(table.FieldByName("Fournisseur").AsString(), "");
    EXPECT_EQ(ErrorOf([&] { table.Delete(); }), "La table Perso.DB est ouverte en lecture seule");
    table.Close();
}

// Matching follows what the fields read as, whatever the column stores: through a lookup kept
// up to date by the span's own writes, and the same through a plain pass where no lookup can be
// kept (a read-only table, a table without rowid).
TEST_F(TableTest, WholeNumbersInTextColumnsMatchAsTheyRead) {
    for (const char* shape : {"", " WITHOUT ROWID"}) {
        SCOPED_TRACE(shape);
        std::filesystem::remove(File("Message.DB"));
        {
            const SqliteHandle db = OpenSqlite(File("Message.DB"));
            ExecSql(db.get(), std::string("CREATE TABLE Message (Code TEXT PRIMARY KEY, "
                                          "Externe VARCHAR(3), Libre)") +
                                  shape +
                                  ";"
                                  "INSERT INTO Message VALUES ('a', '5', 7), ('b', '05', '7'), "
                                  "('c', ' 5', 7.0), ('d', '+5', '07'), ('e', '50', 'x'), "
                                  "('f', '5x', NULL), ('g', NULL, '');");
        }
        TTable table("OmbrelinAdministration", "Message.DB");
        table.Open(TOpenMode::ReadOnly);
        const auto codes = [&](const std::vector<FieldCondition>& conditions) {
            std::string found;
            for (bool more = table.Locate(conditions); more; more = table.LocateNext(conditions)) {
                found += table.FieldByName("Code").AsString();
            }
            return found;
        };
        EXPECT_EQ(codes({FieldCondition::Equal("Externe", std::int64_t{5})}), "abcd");
        EXPECT_EQ(codes({FieldCondition::Equal("Externe", std::int64_t{0})}), "g");
        // An untyped column holds what it was given: 7, 7.0 and '7' all read "7", '07' does not.
        EXPECT_EQ(codes({FieldCondition::Equal("Libre", "7")}), "abc");
        EXPECT_EQ(codes({FieldCondition::Equal("Libre", std::int64_t{7})}), "abcd");
        EXPECT_EQ(codes({FieldCondition::Equal("Libre", "")}), "fg");
        table.Close();

        table.Open();
        const std::vector<FieldCondition> external = {
            FieldCondition::Equal("Externe", std::int64_t{5})};
        ASSERT_TRUE(table.Locate(external));
        table.Delete();  // a
        Add(table, {{"Code", "h"}, {"Externe", "005"}});
        ASSERT_TRUE(table.Locate({FieldCondition::Equal("Externe", std::int64_t{5}),
                                  FieldCondition::Equal("Code", "h")}));
        // A refused record leaves nothing behind for later locates.
        EXPECT_EQ(ErrorOf([&] {
                      Add(table, {{"Code", "b"}, {"Externe", "5"}});
                  }),
                  "Violation de clé");
        table.Cancel();
        EXPECT_EQ(codes(external), "bcdh");
        EXPECT_EQ(codes({FieldCondition::Equal("Externe", std::int64_t{5}),
                         FieldCondition::Empty("Libre")}),
                  "h");
        EXPECT_EQ(codes({FieldCondition::Equal("Code", "c"),
                         FieldCondition::Equal("Externe", std::int64_t{5})}),
                  "c");
        EXPECT_EQ(codes({FieldCondition::Equal("Externe", std::int64_t{5}),
                         FieldCondition::Equal("Libre", "7")}),
                  "bc");
        table.Close();
    }
}

// Records that the table's own triggers write, change or remove behind a Post or a Delete are
// matched as they then read, and a rowid they set free may be taken again by the next record.
TEST_F(TableTest, LocatesFollowWhatTriggersDoToOtherRecords) {
    {
        const SqliteHandle db = OpenSqlite(File("Perso.DB"));
        ExecSql(db.get(),
                "CREATE TABLE Perso (Groupe TEXT, Famille TEXT, Modele TEXT);"
                "INSERT INTO Perso VALUES ('5', 'A', 'a'), ('6', 'B', 'b'), ('7', 'C', 'c');"
                // The store keeps one record per family, and a family moved to group 9
                // takes its models along.
                "CREATE TRIGGER one_per_family AFTER INSERT ON Perso BEGIN "
                "  DELETE FROM Perso WHERE Famille = new.Famille AND rowid <> new.rowid; "
                "  UPDATE Perso SET Groupe = '09' WHERE Modele = new.Modele || '+'; END;");
    }
    TTable table("OmbrelinAdministration", "Perso.DB");
    table.Open();
    const auto group = [](std::int64_t g) {
        return std::vector<FieldCondition>{FieldCondition::Equal("Groupe", g)};
    };
    ASSERT_TRUE(table.Locate(group(7)));
    Add(table, {{"Groupe", "8"}, {"Famille", "C"}, {"Modele", "c+"}});  // rowid 4, removes 3
    EXPECT_FALSE(table.Locate(group(7)));
    ASSERT_TRUE(table.Locate(group(8)));
    table.Delete();  // rowid 4: the next record takes rowid 3 again
    EXPECT_EQ(ErrorOf([&] {
                  Add(table, {{"Groupe", "10"}, {"Famille", "D"}, {"Modele", "d"}});
              }),
              "<no error>");
    EXPECT_TRUE(table.Locate(group(10)));
    table.Close();

    // A trigger that moves another record out of its group into another.
    {
        const SqliteHandle db = OpenSqlite(File("Perso.DB"));
        ExecSql(db.get(), "UPDATE Perso SET Modele = 'x+' WHERE Modele = 'b';");
    }
    table.Open();
    EXPECT_FALSE(table.Locate(group(9)));
    Add(table, {{"Groupe", "12"}, {"Famille", "G"}, {"Modele", "x"}});  // 'x+' goes to '09'
    ASSERT_TRUE(table.Locate(group(9)));
    EXPECT_EQ(table.FieldByName("Modele").AsString(), "x+");
    EXPECT_FALSE(table.Locate(group(6)));
    table.Close();
}

// "INTEGER PRIMARY KEY DESC" is a key like any other, not a name for the rowid: the record just
// posted, and the records a locate goes through, are found by their real rowid.
TEST_F(TableTest, AnIntegerPrimaryKeyInDescendingOrderIsNoRowid) {
    {
        const SqliteHandle db = OpenSqlite(File("Message.DB"));
        ExecSql(db.get(),
                "CREATE TABLE Message (Id INTEGER PRIMARY KEY DESC, Externe TEXT);"
                "INSERT INTO Message VALUES (30, '5'), (20, '1');");
    }
    TTable table("OmbrelinAdministration", "Message.DB");
    table.Open();
    ASSERT_TRUE(table.Locate({FieldCondition::Equal("Externe", std::int64_t{5})}));
    EXPECT_EQ(table.FieldByName("Id").AsString(), "30");
    Add(table, {{"Id", "10"}, {"Externe", "05"}});
    EXPECT_EQ(table.FieldByName("Id").AsString(), "10");
    std::string found;
    const std::vector<FieldCondition> external = {
        FieldCondition::Equal("Externe", std::int64_t{5})};
    for (bool more = table.Locate(external); more; more = table.LocateNext(external)) {
        found += table.FieldByName("Id").AsString() + " ";
    }
    EXPECT_EQ(found, "10 30 ");
    table.Close();
}

// A blank is no empty text, even where the column's collation ignores trailing blanks.
TEST_F(TableTest, EmptyMeansEmptyWhateverTheColumnsCollation) {
    {
        const SqliteHandle db = OpenSqlite(File("REMISES.DB"));
        ExecSql(db.get(),
                "CREATE TABLE REMISES (Code TEXT PRIMARY KEY, Client VARCHAR(10) COLLATE "
                "RTRIM, Externe SMALLINT COLLATE RTRIM);"
                "INSERT INTO REMISES VALUES ('a', '  ', '  '), ('b', '', ''), "
                "('c', NULL, NULL), ('d', 'x', 0);");
    }
    TTable table("OmbrelinAdministration", "REMISES.DB");
    table.Open(TOpenMode::ReadOnly);
    const auto codes = [&](const std::vector<FieldCondition>& conditions) {
        std::string found;
        for (bool more = table.Locate(conditions); more; more = table.LocateNext(conditions)) {
            found += table.FieldByName("Code").AsString();
        }
        return found;
    };
    EXPECT_EQ(codes({FieldCondition::Empty("Client")}), "bc");
    EXPECT_EQ(codes({FieldCondition::Equal("Client", "")}), "bc");
    EXPECT_EQ(codes({FieldCondition::Equal("Externe", std::int64_t{0})}), "bcd");
    table.Close();
}

}  // namespace
}  // namespace quorvane::testing
