#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database/DbError.h"
#include "database/DeclaredType.h"
#include "database/FieldConversion.h"

namespace quorvane::testing {
namespace {

TStoredValue Convert(TFieldKind kind, const std::string& text) {
    return ConvertTextForField(kind, text, "Champ");
}

std::string RefusalOf(TFieldKind kind, const std::string& text) {
    try {
        Convert(kind, text);
    } catch (const EDBEngineError& e) {
        return e.what();
    }
    return "<accepted>";
}

const TFieldKind kInt16{TFieldType::Integer, 16};
const TFieldKind kInt32{TFieldType::Integer, 32};
const TFieldKind kInt64{TFieldType::Integer, 64};
const TFieldKind kFloat{TFieldType::Float, 64};
const TFieldKind kMoney{TFieldType::Money, 64};
const TFieldKind kBcd{TFieldType::Bcd, 64};
const TFieldKind kBool{TFieldType::Boolean, 64};
const TFieldKind kDate{TFieldType::Date, 64};
const TFieldKind kTime{TFieldType::Time, 64};
const TFieldKind kDateTime{TFieldType::DateTime, 64};

TEST(FieldKind, ComesFromTheFirstWordOfTheDeclaredTypeWhateverTheCase) {
    struct Case {
        const char* declared;
        TFieldType type;
        int bits;
    };
    const std::vector<Case> cases = {
        {"VARCHAR(20)", TFieldType::Text, 64},
        {"alpha", TFieldType::Text, 64},
        {"", TFieldType::Text, 64},
        {"UNSIGNED BIG INT", TFieldType::Text, 64},
        {"smallint", TFieldType::Integer, 16},
        {"SHORT", TFieldType::Integer, 16},
        {"Integer", TFieldType::Integer, 64},
        {"LONG", TFieldType::Integer, 32},
        {"INT", TFieldType::Integer, 64},
        {"BIGINT", TFieldType::Integer, 64},
        {"AUTOINC", TFieldType::Integer, 64},
        {"double precision", TFieldType::Float, 64},
        {"NUMBER", TFieldType::Float, 64},
        {"REAL", TFieldType::Float, 64},
        {"Money", TFieldType::Money, 64},
        {"CURRENCY", TFieldType::Money, 64},
        {"NUMERIC(12,3)", TFieldType::Bcd, 64},
        {"BCD", TFieldType::Bcd, 64},
        {"logical", TFieldType::Boolean, 64},
        {"DATE", TFieldType::Date, 64},
        {"TIME", TFieldType::Time, 64},
        {"TIMESTAMP", TFieldType::DateTime, 64},
        {"DATETIME", TFieldType::DateTime, 64},
        {"MEMO", TFieldType::Memo, 64},
        {"GRAPHIC", TFieldType::Binary, 64},
        {"BLOB", TFieldType::Binary, 64},
        {"INTEGERS", TFieldType::Text, 64},
    };
    for (const auto& c : cases) {
        const TFieldKind kind = FieldKindFromDeclaredType(c.declared);
        EXPECT_EQ(kind.Type, c.type) << c.declared;
        if (c.type == TFieldType::Integer) {
            EXPECT_EQ(kind.IntegerBits, c.bits) << c.declared;
        }
    }
}

TEST(FieldConversion, WholeNumbersWithinTheColumnWidth) {
    EXPECT_EQ(Convert(kInt16, "-32768"), TStoredValue(std::int64_t{-32768}));
    EXPECT_EQ(Convert(kInt16, "  +32767"), TStoredValue(std::int64_t{32767}));
    EXPECT_EQ(Convert(kInt32, "2147483647"), TStoredValue(std::int64_t{2147483647}));
    EXPECT_EQ(Convert(kInt64, "-9223372036854775808"),
              TStoredValue(std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(RefusalOf(kInt16, "32768"),
              "La valeur '32768' dépasse les limites du champ entier Champ");
    EXPECT_EQ(RefusalOf(kInt32, "-2147483649"),
              "La valeur '-2147483649' dépasse les limites du champ entier Champ");
    EXPECT_EQ(RefusalOf(kInt64, "9223372036854775808"),
              "La valeur '9223372036854775808' dépasse les limites du champ entier Champ");
    for (const char* bad : {"abc", "12a", "1.5", "1,0", "+", "-", " ", "1 ", "0x10", "1e3"}) {
        EXPECT_EQ(RefusalOf(kInt32, bad), std::string("La valeur '") + bad +
                                              "' n'est pas un entier valide pour le champ Champ");
    }
}

TEST(FieldConversion, EmptyTextStoresNullExceptInTextAndMemo) {
    for (const auto& kind : {kInt32, kFloat, kMoney, kBcd, kBool, kDate, kTime, kDateTime,
                             TFieldKind{TFieldType::Binary, 64}}) {
        EXPECT_EQ(Convert(kind, ""), TStoredValue(std::monostate{}));
    }
    EXPECT_EQ(Convert({TFieldType::Text, 64}, ""), TStoredValue(std::string()));
    EXPECT_EQ(Convert({TFieldType::Memo, 64}, ""), TStoredValue(std::string()));
    EXPECT_EQ(Convert({TFieldType::Text, 64}, " a b "), TStoredValue(std::string(" a b ")));
    EXPECT_EQ(Convert({TFieldType::Binary, 64}, std::string("\0\1", 2)),
              TStoredValue(TBlob{std::string("\0\1", 2)}));
}

TEST(FieldConversion, NumbersTakeEitherDecimalMark) {
    EXPECT_EQ(Convert(kFloat, "12,5"), TStoredValue(12.5));
    EXPECT_EQ(Convert(kFloat, " -12.5 "), TStoredValue(-12.5));
    EXPECT_EQ(Convert(kFloat, "1e3"), TStoredValue(1000.0));
    EXPECT_EQ(Convert(kMoney, "2,71828"), TStoredValue(2.7183));
    EXPECT_EQ(Convert(kMoney, "-3,5"), TStoredValue(-3.5));
    EXPECT_EQ(Convert(kBcd, "+0012,500"), TStoredValue(std::string("0012.500")));
    EXPECT_EQ(Convert(kBcd, "-,5"), TStoredValue(std::string("-0.5")));
    EXPECT_EQ(Convert(kBcd, "7."), TStoredValue(std::string("7")));
    for (const char* bad : {"1.234,56", "1,234.56", "abc", ".", "1e", "inf", "nan", "1e999"}) {
        EXPECT_EQ(RefusalOf(kFloat, bad), std::string("La valeur '") + bad +
                                              "' n'est pas un nombre valide pour le champ Champ");
    }
    EXPECT_EQ(RefusalOf(kMoney, "douze"),
              "La valeur 'douze' n'est pas un montant valide pour le champ Champ");
    EXPECT_EQ(RefusalOf(kBcd, "1e3"),
              "La valeur '1e3' n'est pas un nombre décimal valide pour le champ Champ");
}

TEST(FieldConversion, LogicalWordsInAnyCase) {
    for (const char* yes : {"1", "vrai", "VRAI", "Oui", "true", "YES"}) {
        EXPECT_EQ(Convert(kBool, yes), TStoredValue(std::int64_t{1})) << yes;
    }
    for (const char* no : {"0", "Faux", "NON", "false", "no"}) {
        EXPECT_EQ(Convert(kBool, no), TStoredValue(std::int64_t{0})) << no;
    }
    EXPECT_EQ(RefusalOf(kBool, "peut-être"),
              "La valeur 'peut-être' n'est pas une valeur logique valide pour le champ Champ");
    EXPECT_EQ(RefusalOf(kBool, "2"),
              "La valeur '2' n'est pas une valeur logique valide pour le champ Champ");
}

TEST(FieldConversion, DatesAreValidatedInBothOrders) {
    EXPECT_EQ(Convert(kDate, "29/02/2020"), TStoredValue(std::string("2020-02-29")));
    EXPECT_EQ(Convert(kDate, "1/2/2021"), TStoredValue(std::string("2021-02-01")));
    EXPECT_EQ(Convert(kDate, "2000-02-29"), TStoredValue(std::string("2000-02-29")));
    for (const char* bad :
         {"31/02/2020", "29/02/2021", "29/02/1900", "2020-13-01", "00/01/2020", "2020-1-01",
          "01/01/20", "2020/01/01", "01-01-2020", "lundi", "01/01/2020 10:00"}) {
        EXPECT_EQ(RefusalOf(kDate, bad), std::string("La valeur '") + bad +
                                             "' n'est pas une date valide pour le champ Champ");
    }
}

TEST(FieldConversion, TimesAndDateTimes) {
    EXPECT_EQ(Convert(kTime, "9:05"), TStoredValue(std::string("09:05:00")));
    EXPECT_EQ(Convert(kTime, "23:59:59"), TStoredValue(std::string("23:59:59")));
    for (const char* bad : {"24:00", "12:60", "12:00:60", "12", "12:5", "midi"}) {
        EXPECT_EQ(RefusalOf(kTime, bad), std::string("La valeur '") + bad +
                                             "' n'est pas une heure valide pour le champ Champ");
    }
    EXPECT_EQ(Convert(kDateTime, "31/12/2024 23:15"),
              TStoredValue(std::string("2024-12-31 23:15:00")));
    EXPECT_EQ(Convert(kDateTime, "2024-12-31 08:00:01"),
              TStoredValue(std::string("2024-12-31 08:00:01")));
    // A date alone is its midnight, in either order; a broken date or time is still refused.
    EXPECT_EQ(Convert(kDateTime, "01/12/2026"), TStoredValue(std::string("2026-12-01 00:00:00")));
    EXPECT_EQ(Convert(kDateTime, " 2026-12-01 "), TStoredValue(std::string("2026-12-01 00:00:00")));
    for (const char* bad : {"31/12/202423:15", "31/04/2024 10:00", "31/04/2024", "10:00",
                            "01/12/2026 x", "01/12/2026 25:00", "2026-12-01T10:00"}) {
        EXPECT_EQ(RefusalOf(kDateTime, bad), std::string("La valeur '") + bad +
                                                 "' n'est pas une date et heure valide pour le "
                                                 "champ Champ");
    }
}

TEST(FieldConversion, MoneyValuesGoWhereTheyFit) {
    EXPECT_EQ(ConvertMoneyForField(kMoney, 12345600, "P"), TStoredValue(1234.56));
    EXPECT_EQ(ConvertMoneyForField(kFloat, -35000, "P"), TStoredValue(-3.5));
    EXPECT_EQ(ConvertMoneyForField(kInt32, 70000, "P"), TStoredValue(std::int64_t{7}));
    EXPECT_EQ(ConvertMoneyForField(kBcd, -12345, "P"), TStoredValue(std::string("-1.2345")));
    EXPECT_EQ(ConvertMoneyForField({TFieldType::Text, 64}, 10000, "P"),
              TStoredValue(std::string("1")));
    EXPECT_THROW(ConvertMoneyForField(kInt32, 15000, "P"), EDBEngineError);
    try {
        ConvertMoneyForField(kDate, 1, "Jour");
        FAIL();
    } catch (const EDBEngineError& e) {
        EXPECT_STREQ(e.what(), "Un montant ne peut pas être affecté au champ Jour");
    }
}

TEST(FieldConversion, StoredValuesReadAsText) {
    EXPECT_EQ(StoredValueToText(std::monostate{}), "");
    EXPECT_EQ(StoredValueToText(std::int64_t{-4}), "-4");
    EXPECT_EQ(StoredValueToText(1234.56), "1234.56");
    EXPECT_EQ(StoredValueToText(2.0), "2");
    EXPECT_EQ(StoredValueToText(std::string("é")), "é");
}

}  // namespace
}  // namespace quorvane::testing
