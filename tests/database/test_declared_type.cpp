// Every declared spelling a store may use, every awkward value: what the layer writes reads back,
// through the layer and through the sqlite3 command, as the field kind gives it, or the write is
// refused, and then only where SQLite really would have changed the value.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "database/DbError.h"
#include "database/DeclaredType.h"
#include "database/Session.h"
#include "database/Table.h"
#include "support/SqliteDirect.h"
#include "support/TempDir.h"

namespace quorvane::testing {
namespace {

struct Spelling {
    const char* declared;
    TFieldType kind;
    TAffinity affinity;
};

const std::vector<Spelling> kSpellings = {
    {"TEXT", TFieldType::Text, TAffinity::Text},
    {"CHAR", TFieldType::Text, TAffinity::Text},
    {"CHAR(1)", TFieldType::Text, TAffinity::Text},
    {"VARCHAR", TFieldType::Text, TAffinity::Text},
    {"VARCHAR(30)", TFieldType::Text, TAffinity::Text},
    {"ALPHA", TFieldType::Text, TAffinity::Numeric},
    {"ALPHA(20)", TFieldType::Text, TAffinity::Numeric},
    {"alpha(20)", TFieldType::Text, TAffinity::Numeric},
    {"STRING", TFieldType::Text, TAffinity::Numeric},
    {"CLOB", TFieldType::Text, TAffinity::Text},
    {"", TFieldType::Text, TAffinity::Blob},
    {"INTEGER", TFieldType::Integer, TAffinity::Integer},
    {"INT", TFieldType::Integer, TAffinity::Integer},
    {"SMALLINT", TFieldType::Integer, TAffinity::Integer},
    {"SHORT", TFieldType::Integer, TAffinity::Numeric},
    {"LONG", TFieldType::Integer, TAffinity::Numeric},
    {"BIGINT", TFieldType::Integer, TAffinity::Integer},
    {"AUTOINC", TFieldType::Integer, TAffinity::Numeric},
    {"REAL", TFieldType::Float, TAffinity::Real},
    {"FLOAT", TFieldType::Float, TAffinity::Real},
    {"DOUBLE", TFieldType::Float, TAffinity::Real},
    {"DOUBLE PRECISION", TFieldType::Float, TAffinity::Real},
    {"NUMBER", TFieldType::Float, TAffinity::Numeric},
    {"MONEY", TFieldType::Money, TAffinity::Numeric},
    {"CURRENCY", TFieldType::Money, TAffinity::Numeric},
    {"BCD", TFieldType::Bcd, TAffinity::Numeric},
    {"DECIMAL", TFieldType::Bcd, TAffinity::Numeric},
    {"DECIMAL(24,4)", TFieldType::Bcd, TAffinity::Numeric},
    {"NUMERIC(10,2)", TFieldType::Bcd, TAffinity::Numeric},
    {"BOOLEAN", TFieldType::Boolean, TAffinity::Numeric},
    {"LOGICAL", TFieldType::Boolean, TAffinity::Numeric},
    {"DATE", TFieldType::Date, TAffinity::Numeric},
    {"TIME", TFieldType::Time, TAffinity::Numeric},
    {"TIMESTAMP", TFieldType::DateTime, TAffinity::Numeric},
    {"DATETIME", TFieldType::DateTime, TAffinity::Numeric},
    {"MEMO", TFieldType::Memo, TAffinity::Numeric},
    {"memo", TFieldType::Memo, TAffinity::Numeric},
    {"BLOB", TFieldType::Binary, TAffinity::Blob},
    {"BYTES", TFieldType::Binary, TAffinity::Numeric},
    {"GRAPHIC", TFieldType::Binary, TAffinity::Numeric},
    {"BINARY", TFieldType::Binary, TAffinity::Numeric},
};

const std::vector<std::string> kAwkward = {
    "007",
    "0033",
    "1e5",
    "  42 ",
    "\t7",
    "",
    " ",
    "-0",
    "+5",
    "1.",
    ".5",
    "1e",
    "0x10",
    "3,14",
    "0.1",
    "123456789012345",
    "1234567890123456",
    "12345678901234567",
    "1234567890123456789012",
    "12345678901234567,1234",
    "9223372036854775807",
    "é",
    "€",
    "Prix 12 €",
    "01/12/2026",
    "2026-12-01 10:30",
    "12:30",
    "vrai",
    "NaN",
};

const std::string& Awkward(int n) {
    return kAwkward[static_cast<std::size_t>(n)];
}

bool IsTextKind(TFieldType kind) {
    return kind == TFieldType::Text || kind == TFieldType::Memo || kind == TFieldType::Date ||
           kind == TFieldType::Time || kind == TFieldType::DateTime;
}

// A decimal number as (negative, significant digits, position of the decimal point after the
// first of them), so that "12.50", "1.25e+1" and "012.5" compare equal, and nothing else does.
using Decimal = std::tuple<bool, std::string, long>;

std::optional<Decimal> Canonical(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i++] == '-';
    }
    std::string digits;
    long point = -1;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits += text[i];
        } else if (text[i] == '.' && point < 0) {
            point = static_cast<long>(digits.size());
        } else {
            break;
        }
    }
    if (point < 0) {
        point = static_cast<long>(digits.size());
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        point += std::stol(text.substr(i + 1));
        i = text.size();
    }
    if (digits.empty() || i != text.size()) {
        return std::nullopt;
    }
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return Decimal{false, "", 0};
    }
    digits = digits.substr(first, digits.find_last_not_of('0') - first + 1);
    return Decimal{negative, digits, point - static_cast<long>(first)};
}

bool SameNumber(const std::string& a, const std::string& b) {
    const auto ca = Canonical(a);
    return ca && ca == Canonical(b);
}

bool Integral(const std::string& text) {
    const auto c = Canonical(text);
    return c && static_cast<long>(std::get<1>(*c).size()) <= std::get<2>(*c);
}

std::size_t SignificantDigits(const std::string& text) {
    const auto c = Canonical(text);
    return c ? std::get<1>(*c).size() : 0;
}

// The storage class a value of `kind` takes in a column of `affinity`, as SQLite's documentation
// gives it; `integral` tells whether the number has no fraction.
std::string ExpectedTypeof(TFieldType kind, TAffinity affinity, bool integral) {
    switch (kind) {
        case TFieldType::Integer:
        case TFieldType::Boolean:
            return affinity == TAffinity::Text   ? "text"
                   : affinity == TAffinity::Real ? "real"
                                                 : "integer";
        case TFieldType::Float:
        case TFieldType::Money:
            if (affinity == TAffinity::Text) {
                return "text";
            }
            return (affinity == TAffinity::Numeric || affinity == TAffinity::Integer) && integral
                       ? "integer"
                       : "real";
        case TFieldType::Bcd:
            if (affinity == TAffinity::Text || affinity == TAffinity::Blob) {
                return "text";
            }
            return affinity != TAffinity::Real && integral ? "integer" : "real";
        case TFieldType::Binary:
            return "blob";
        default:
            return "text";
    }
}

// The value as the kind gives it, as text: what the stored value must read as.
std::string KindText(const TStoredValue& converted) {
    return StoredValueToText(converted);
}

// Whether what SQLite shows of a stored value (its typeof and the text the sqlite3 command prints,
// which for a REAL keeps 15 significant digits) is exactly the converted value.
bool ShowsExactly(TFieldType kind, TAffinity affinity, const TStoredValue& converted,
                  const std::string& type, const std::string& shown) {
    if (std::holds_alternative<std::monostate>(converted)) {
        return type == "null";
    }
    const std::string expected = KindText(converted);
    if (IsTextKind(kind) || kind == TFieldType::Binary) {
        return type == ExpectedTypeof(kind, affinity, false) && shown == expected;
    }
    const bool integral = Integral(expected);
    if (kind == TFieldType::Bcd && type == "text") {
        return shown == expected && ExpectedTypeof(kind, affinity, integral) == "text";
    }
    return type == ExpectedTypeof(kind, affinity, integral) && SameNumber(shown, expected);
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// Rows of "N|typeof|hex of the value as the sqlite3 command prints it", through the command.
std::map<int, std::pair<std::string, std::string>> ThroughTheCommand(
    const std::filesystem::path& file, const std::string& table) {
    const std::string command = "sqlite3 -batch -noheader '" + file.string() +
                                "' \"SELECT N || '|' || typeof(V) || '|' || hex(V) FROM " + table +
                                "\"";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::map<int, std::pair<std::string, std::string>> rows;
    char line[4096];
    while (pipe && fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        const auto first = text.find('|');
        const auto second = text.find('|', first + 1);
        rows[std::stoi(text.substr(0, first))] = {text.substr(first + 1, second - first - 1),
                                                  FromHex(text.substr(second + 1))};
    }
    return rows;
}

class DeclaredTypes : public ::testing::Test {
  protected:
    void SetUp() override {
        Session().Reset();
        Session().AddStandardAlias("OmbrelinAdministration", dir.Path().string(), "");
    }
    void TearDown() override { Session().Reset(); }
    TempDir dir;
};

TEST_F(DeclaredTypes, EachSpellingGivesItsKindAndSqlitesOwnAffinity) {
    const auto db = OpenSqlite(dir.Path() / "probe.db");
    for (const auto& s : kSpellings) {
        const TColumnType type = ColumnTypeFromDeclared(s.declared);
        EXPECT_EQ(type.Kind.Type, s.kind) << s.declared;
        EXPECT_EQ(type.Affinity, s.affinity) << s.declared;
        EXPECT_EQ(type.Declared, s.declared);
        // SQLite's own answer: a number-looking text and a number written to the column.
        ExecSql(db.get(), std::string("DROP TABLE IF EXISTS P; CREATE TABLE P (A ") + s.declared +
                              ", B " + s.declared + "); INSERT INTO P VALUES ('12', 12)");
        const std::string seen = One(db.get(), "SELECT typeof(A), typeof(B) FROM P");
        const std::map<TAffinity, std::string> expected = {
            {TAffinity::Text, "text|text"},          {TAffinity::Numeric, "integer|integer"},
            {TAffinity::Integer, "integer|integer"}, {TAffinity::Real, "real|real"},
            {TAffinity::Blob, "text|integer"},
        };
        EXPECT_EQ(seen, expected.at(s.affinity)) << s.declared;
    }
}

TEST_F(DeclaredTypes, EveryValueReadsBackAsItsKindGivesItOrIsRefusedWhereSqliteWouldChangeIt) {
    int table = 0;
    for (const auto& s : kSpellings) {
        const std::string name = "T" + std::to_string(table++);
        const auto file = dir.Path() / (name + ".DB");
        {
            const auto db = OpenSqlite(file);
            ExecSql(db.get(),
                    "CREATE TABLE " + name + " (N INTEGER PRIMARY KEY, V " + s.declared + ")");
        }
        const TColumnType type = ColumnTypeFromDeclared(s.declared);
        std::map<int, TStoredValue> written;
        std::map<int, TStoredValue> refusedAsChanged;
        TTable t("OmbrelinAdministration", name + ".DB");
        t.Open();
        for (std::size_t i = 0; i < kAwkward.size(); ++i) {
            const std::string& value = kAwkward[i];
            TStoredValue converted;
            try {
                converted = ConvertTextForField(type.Kind, value, "V");
            } catch (const EDBEngineError&) {
                continue;  // not a value of this kind at all: nothing to keep
            }
            t.Insert();
            t.FieldByName("N").SetAsString(std::to_string(i));
            try {
                t.FieldByName("V").SetAsString(value);
                t.Post();
                written[static_cast<int>(i)] = converted;
            } catch (const EDBEngineError& e) {
                t.Cancel();
                const std::string typePart =
                    type.Declared.empty() ? "la table" : "son type déclaré " + type.Declared;
                EXPECT_EQ(std::string(e.what()).rfind("La valeur '" + value +
                                                          "' du champ V ne "
                                                          "peut pas être gardée telle quelle : " +
                                                          typePart,
                                                      0),
                          0u)
                    << e.what();
                refusedAsChanged[static_cast<int>(i)] = converted;
            }
        }
        // Read back through the layer: the text of the value as its kind gives it.
        t.First();
        std::size_t read = 0;
        for (; !t.Eof(); t.Next(), ++read) {
            const int n = t.FieldByName("N").AsInteger();
            const std::string expected = StoredValueToText(written.at(n));
            const std::string back = t.FieldByName("V").AsString();
            if (IsTextKind(s.kind) || s.kind == TFieldType::Binary) {
                EXPECT_EQ(back, expected) << s.declared << " value " << Awkward(n);
            } else if (!expected.empty()) {
                EXPECT_TRUE(SameNumber(back, expected))
                    << s.declared << " value " << Awkward(n) << " read " << back;
            }
        }
        EXPECT_EQ(read, written.size());
        t.Close();

        // Through the sqlite3 command: the storage class and the text it prints.
        const auto shown = ThroughTheCommand(file, name);
        ASSERT_EQ(shown.size(), written.size()) << s.declared;
        for (const auto& [n, converted] : written) {
            const auto& [typeOf, text] = shown.at(n);
            EXPECT_TRUE(ShowsExactly(s.kind, s.affinity, converted, typeOf, text))
                << s.declared << " value '" << Awkward(n) << "' shows " << typeOf << " '" << text
                << "'";
        }

        // Each refusal was needed: a number beyond the 15 significant digits SQLite prints and
        // converts with, or a value that, written by SQLite itself, comes back changed.
        const auto db = OpenSqlite(file);
        for (const auto& [n, converted] : refusedAsChanged) {
            if (s.kind == TFieldType::Float || s.kind == TFieldType::Money) {
                EXPECT_GT(SignificantDigits(StoredValueToText(converted)), 15u) << Awkward(n);
                continue;
            }
            sqlite3_stmt* raw = nullptr;
            ASSERT_EQ(
                sqlite3_prepare_v2(db.get(), ("INSERT INTO " + name + " VALUES (?1, ?2)").c_str(),
                                   -1, &raw, nullptr),
                SQLITE_OK);
            std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, sqlite3_finalize);
            sqlite3_bind_int(raw, 1, 1000 + n);
            if (const auto* text = std::get_if<std::string>(&converted)) {
                sqlite3_bind_text(raw, 2, text->c_str(), -1, SQLITE_TRANSIENT);
            } else if (const auto* whole = std::get_if<std::int64_t>(&converted)) {
                sqlite3_bind_int64(raw, 2, *whole);
            } else if (const auto* real = std::get_if<double>(&converted)) {
                sqlite3_bind_double(raw, 2, *real);
            }
            ASSERT_EQ(sqlite3_step(raw), SQLITE_DONE);
        }
        const auto direct = ThroughTheCommand(file, name);
        for (const auto& [n, converted] : refusedAsChanged) {
            if (s.kind == TFieldType::Float || s.kind == TFieldType::Money) {
                continue;
            }
            const auto& [typeOf, text] = direct.at(1000 + n);
            EXPECT_FALSE(ShowsExactly(s.kind, s.affinity, converted, typeOf, text))
                << s.declared << " refused '" << Awkward(n) << "' that SQLite keeps as " << typeOf
                << " '" << text << "'";
        }
    }
}

TEST_F(DeclaredTypes, TheStoresOwnExamples) {
    const auto file = dir.Path() / "Codes.DB";
    {
        const auto db = OpenSqlite(file);
        ExecSql(db.get(),
                "CREATE TABLE Codes (Code ALPHA(20), Note MEMO, Montant DECIMAL(24,4), Ref TEXT, "
                "Quand DATETIME)");
    }
    TTable t("OmbrelinAdministration", "Codes.DB");
    t.Open();
    const auto refusal = [&](const std::string& field, const std::string& value) {
        t.Insert();
        try {
            t.FieldByName(field).SetAsString(value);
        } catch (const EDBEngineError& e) {
            t.Cancel();
            return std::string(e.what());
        }
        t.Cancel();
        return std::string("<accepted>");
    };
    EXPECT_EQ(refusal("Code", "007"),
              "La valeur '007' du champ Code ne peut pas être gardée telle quelle : son type "
              "déclaré ALPHA(20) la changerait en nombre");
    EXPECT_EQ(refusal("Note", "1e5"),
              "La valeur '1e5' du champ Note ne peut pas être gardée telle quelle : son type "
              "déclaré MEMO la changerait en nombre");
    EXPECT_EQ(refusal("Montant", "12345678901234567,1234"),
              "La valeur '12345678901234567,1234' du champ Montant ne peut pas être gardée telle "
              "quelle : son type déclaré DECIMAL(24,4) n'en garde que 15 chiffres significatifs");
    EXPECT_EQ(refusal("Code", "A007"), "<accepted>");
    EXPECT_EQ(refusal("Ref", "007"), "<accepted>");
    EXPECT_EQ(refusal("Montant", "12345678901,1234"), "<accepted>");

    t.Insert();
    t.FieldByName("Code").SetAsString("A-0033");
    t.FieldByName("Ref").SetAsString("0033");
    t.FieldByName("Quand").SetAsString("01/12/2026");
    t.Post();
    t.Insert();
    t.FieldByName("Quand").SetAsString("2026-12-02");
    t.Post();
    t.Close();
    const auto db = OpenSqlite(file);
    EXPECT_EQ(Rows(db.get(),
                   "SELECT typeof(Code), Code, typeof(Ref), Ref, Quand FROM "
                   "Codes ORDER BY rowid"),
              (std::vector<std::string>{"text|A-0033|text|0033|2026-12-01 00:00:00",
                                        "null|NULL|null|NULL|2026-12-02 00:00:00"}));
}

}  // namespace
}  // namespace quorvane::testing
