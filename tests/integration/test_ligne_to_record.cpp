#include <gtest/gtest.h>

#include "support/StoreFixture.h"
#include "sync/integration/LigneToRecord.h"

namespace quorvane::testing {
namespace {

TEST(TextToCurrency, ReadsEitherDecimalMarkAndDropsBlanks) {
    struct Case {
        std::string text;
        std::int64_t value;
    };
    for (const Case& c : std::vector<Case>{{"1234,56", 12345600},
                                           {"1234.56", 12345600},
                                           {" 1 234,56 ", 12345600},
                                           {"\t1234,56\t", 12345600},
                                           {"\r\n 12,5\n", 125000},
                                           {"-3,5", -35000},
                                           {"+7", 70000},
                                           {"1,5e2", 1500000},
                                           {"2,71828", 27183},
                                           {"-2,71828", -27183},
                                           // Exactly halfway: to the even neighbour.
                                           {"0,03125", 312},
                                           {"0,09375", 938},
                                           {"0.00025", 2},
                                           {"-0,03125", -312},
                                           {"0", 0}}) {
        SCOPED_TRACE(c.text);
        std::int64_t value = -1;
        EXPECT_TRUE(TextToCurrency(c.text, value));
        EXPECT_EQ(value, c.value);
    }
}

TEST(TextToCurrency, EmptyIsZeroAndNonNumbersAreRefused) {
    std::int64_t value = -1;
    EXPECT_TRUE(TextToCurrency("", value));
    EXPECT_EQ(value, 0);
    value = -1;
    EXPECT_TRUE(TextToCurrency(" \t ", value));
    EXPECT_EQ(value, 0);
    for (const char* text : {"1.234,56", "1,234.56", "douze", "12,5,0", "1e", "-", ",", "12 €",
                             "0x10", "1e400", "nan", "inf"}) {
        SCOPED_TRACE(text);
        value = -1;
        EXPECT_FALSE(TextToCurrency(text, value));
        EXPECT_EQ(value, 0);
    }
}

// The line mapping through the real insertion step of the messages, on a table with every kind
// of field the head office fills.
class Mapping : public ::testing::Test {
  protected:
    void SetUp() override {
        store.CreateTable("Message.DB",
                          "CREATE TABLE Message (Code VARCHAR(10) PRIMARY KEY, Externe SMALLINT, "
                          "Taux MONEY, Coef FLOAT, Libelle VARCHAR(40) DEFAULT 'défaut', "
                          "Qte INTEGER, Jour DATE, Actif LOGICAL);");
    }
    bool Integrate(const std::vector<std::string>& lines) {
        store.WriteHeadOffice("message.xml", HeadOffice("Messages", Envelope(lines)));
        return store.driver->XmlToTable(store.driver->tblMessage, store.AutoDir() + "message.xml",
                                        2, "Messages");
    }
    std::string Row(const std::string& code) {
        return store.One(
            "Message.DB",
            "SELECT Taux, Coef, Libelle, Qte, Jour, Actif FROM Message WHERE Code='" + code + "'");
    }
    StoreFixture store;
};

TEST_F(Mapping, AmountsAreConvertedAndOtherTextsGoAsTheyAre) {
    ASSERT_TRUE(Integrate({
        Ligne({{"Code", "A"},
               {"Taux", "1234,56"},
               {"Coef", "1234.56"},
               {"Libelle", "Été"},
               {"Qte", " 12"},
               {"Jour", "31/12/2026"},
               {"Actif", "oui"}}),
        Ligne({{"Code", "B"}, {"Taux", " 1 234,56 "}, {"Coef", "\t1234,56\t"}}),
        Ligne({{"Code", "C"}, {"Taux", "-3,5"}, {"Coef", "2,71828"}}),
        Ligne({{"Code", "D"}, {"Taux", ""}, {"Coef", "  "}, {"Libelle", ""}, {"Qte", ""}}),
    }));
    EXPECT_TRUE(store.state.Erreurs.Empty()) << store.Texts().front();
    EXPECT_EQ(Row("A"), "1234.56|1234.56|Été|12|2026-12-31|1");
    EXPECT_EQ(Row("B"), "1234.56|1234.56|défaut|NULL|NULL|NULL");
    EXPECT_EQ(Row("C"), "-3.5|2.7183|défaut|NULL|NULL|NULL");
    // Empty amounts store 0 (a MONEY column keeps a whole value as an integer), an empty text stays
    // an empty text, an empty number is NULL.
    EXPECT_EQ(Row("D"), "0|0.0||NULL|NULL|NULL");
}

TEST_F(Mapping, AttributeNamesMustMatchFieldNamesExactly) {
    ASSERT_TRUE(Integrate({
        Ligne({{"Code", "A"}, {"taux", "5"}, {"LIBELLE", "ignoré"}, {"Inconnu", "x"}}),
        // No attribute matches a field except the key: the record is the table's new record.
        Ligne({{"Code", "B"}}),
    }));
    EXPECT_TRUE(store.state.Erreurs.Empty());
    EXPECT_EQ(Row("A"), "NULL|NULL|défaut|NULL|NULL|NULL");
    EXPECT_EQ(Row("B"), "NULL|NULL|défaut|NULL|NULL|NULL");
}

TEST_F(Mapping, AnAmountThatIsNotANumberRefusesTheLineAndTheFileGoesOn) {
    ASSERT_TRUE(Integrate({
        Ligne({{"Code", "A"}, {"Taux", "1"}}),
        Ligne({{"Code", "B"}, {"Taux", "1.234,56"}}),
        Ligne({{"Code", "C"}, {"Coef", "beaucoup"}}),
        Ligne({{"Code", "D"}, {"Qte", "douze"}}),
        Ligne({{"Code", "E"}, {"Jour", "31/02/2026"}}),
        Ligne({{"Code", "F"}, {"Taux", "2"}}),
    }));
    const std::string prefix =
        "[Fonction MessageInsertRecords()] Erreur à l'insertion de l'enregistrement 2 : ";
    EXPECT_EQ(store.Texts(),
              (std::vector<std::string>{
                  prefix + "La valeur '1.234,56' n'est pas un montant valide pour le champ Taux",
                  prefix + "La valeur 'beaucoup' n'est pas un montant valide pour le champ Coef",
                  prefix + "La valeur 'douze' n'est pas un entier valide pour le champ Qte",
                  prefix + "La valeur '31/02/2026' n'est pas une date valide pour le champ Jour"}));
    store.ExpectOnlyCode1();
    EXPECT_EQ(store.Rows("Message.DB", "SELECT Code, Taux FROM Message ORDER BY Code"),
              (std::vector<std::string>{"A|1", "F|2"}));
}

}  // namespace
}  // namespace quorvane::testing
