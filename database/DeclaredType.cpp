#include "database/DeclaredType.h"

#include <charconv>
#include <cmath>
#include <system_error>
#include <utility>

#include "base/TextConversion.h"
#include "database/DbError.h"

namespace quorvane {

namespace {

// SQLite prints and converts a REAL with this many significant digits; more are not kept.
constexpr std::size_t kExactDigits = 15;

std::string FirstWordUpper(std::string_view declared) {
    std::size_t begin = 0;
    while (begin < declared.size() && declared[begin] == ' ') {
        ++begin;
    }
    std::size_t end = begin;
    while (end < declared.size()) {
        const char c = declared[end];
        const bool word =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!word) {
            break;
        }
        ++end;
    }
    return AsciiUpper(declared.substr(begin, end - begin));
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// SQLite's blanks: space, tab, line feed, vertical tab, form feed, carriage return.
bool IsSqliteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The number SQLite reads from a text it takes for a number: sign, digits, mark and exponent.
std::string_view NumberPart(std::string_view text) {
    while (!text.empty() && IsSqliteSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSqliteSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool HasIntegerSyntax(std::string_view number) {
    return number.find_first_of(".eE") == number.npos;
}

// Within the range where SQLite turns an integral REAL into an INTEGER.
bool IsIntegralInRange(double value) {
    return std::isfinite(value) && value == std::trunc(value) && value > -9.2233720368547758e18 &&
           value < 9.2233720368547758e18;
}

std::optional<double> ReadDouble(std::string_view number) {
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1);
    }
    double value = 0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ptr != number.data() + number.size() ||
        (ec != std::errc() && ec != std::errc::result_out_of_range)) {
        return std::nullopt;
    }
    return value;
}

// Digits from the first non-zero one to the last non-zero one, the decimal mark left out; an
// exponent does not count.
std::size_t SignificantDigits(std::string_view number) {
    const std::size_t exponent = number.find_first_of("eE");
    if (exponent != number.npos) {
        number = number.substr(0, exponent);
    }
    std::string digits;
    for (const char c : number) {
        if (IsDigit(c)) {
            digits += c;
        }
    }
    const std::size_t first = digits.find_first_not_of('0');
    if (first == digits.npos) {
        return 0;
    }
    const std::size_t last = digits.find_last_not_of('0');
    return last - first + 1;
}

std::string ShortestText(double value) {
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, ptr) : std::string();
}

[[noreturn]] void NotKept(const TColumnType& column, std::string_view given,
                          const std::string& fieldName, const std::string& why) {
    const std::string type =
        column.Declared.empty() ? "la table" : "son type déclaré " + column.Declared;
    throw EDBEngineError("La valeur '" + std::string(given) + "' du champ " + fieldName +
                         " ne peut pas être gardée telle quelle : " + type + " " + why);
}

}  // namespace

TFieldKind FieldKindFromDeclaredType(std::string_view declaredType) {
    const std::string word = FirstWordUpper(declaredType);
    if (word == "SMALLINT" || word == "SHORT") {
        return {TFieldType::Integer, 16};
    }
    if (word == "LONG") {
        return {TFieldType::Integer, 32};
    }
    // SQLite's INTEGER holds 64 bits: article codes of 13 digits are whole numbers too.
    if (word == "INTEGER" || word == "INT" || word == "BIGINT" || word == "AUTOINC") {
        return {TFieldType::Integer, 64};
    }
    if (word == "REAL" || word == "FLOAT" || word == "DOUBLE" || word == "NUMBER") {
        return {TFieldType::Float, 64};
    }
    if (word == "MONEY" || word == "CURRENCY") {
        return {TFieldType::Money, 64};
    }
    if (word == "BCD" || word == "DECIMAL" || word == "NUMERIC") {
        return {TFieldType::Bcd, 64};
    }
    if (word == "BOOLEAN" || word == "LOGICAL") {
        return {TFieldType::Boolean, 64};
    }
    if (word == "DATE") {
        return {TFieldType::Date, 64};
    }
    if (word == "TIME") {
        return {TFieldType::Time, 64};
    }
    if (word == "TIMESTAMP" || word == "DATETIME") {
        return {TFieldType::DateTime, 64};
    }
    if (word == "MEMO") {
        return {TFieldType::Memo, 64};
    }
    if (word == "BLOB" || word == "BYTES" || word == "GRAPHIC" || word == "BINARY") {
        return {TFieldType::Binary, 64};
    }
    return {TFieldType::Text, 64};
}

TAffinity AffinityFromDeclaredType(std::string_view declaredType) {
    const std::string upper = AsciiUpper(declaredType);
    const auto has = [&](const char* part) { return upper.find(part) != std::string::npos; };
    if (has("INT")) {
        return TAffinity::Integer;
    }
    if (has("CHAR") || has("CLOB") || has("TEXT")) {
        return TAffinity::Text;
    }
    if (has("BLOB") || upper.find_first_not_of(' ') == std::string::npos) {
        return TAffinity::Blob;
    }
    if (has("REAL") || has("FLOA") || has("DOUB")) {
        return TAffinity::Real;
    }
    return TAffinity::Numeric;
}

TColumnType ColumnTypeFromDeclared(std::string declaredType, bool strictTable) {
    TColumnType type;
    type.Kind = FieldKindFromDeclaredType(declaredType);
    type.Affinity = AffinityFromDeclaredType(declaredType);
    // A STRICT table's ANY column stores every value as it is given, with no affinity at all.
    if (strictTable && AsciiUpper(declaredType) == "ANY") {
        type.Affinity = TAffinity::Blob;
    }
    type.Declared = std::move(declaredType);
    return type;
}

bool SqliteReadsAsNumber(std::string_view text) {
    const std::string_view number = NumberPart(text);
    std::size_t i = 0;
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    for (; i < number.size() && IsDigit(number[i]); ++i) {
        ++digits;
    }
    if (i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && IsDigit(number[i]); ++i) {
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        if (i < number.size() && (number[i] == '+' || number[i] == '-')) {
            ++i;
        }
        std::size_t exponentDigits = 0;
        for (; i < number.size() && IsDigit(number[i]); ++i) {
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    return i == number.size();
}

TStorageClass StorageClassFor(TAffinity affinity, const TStoredValue& value) {
    if (std::holds_alternative<std::monostate>(value)) {
        return TStorageClass::Null;
    }
    if (std::holds_alternative<TBlob>(value)) {
        return TStorageClass::Blob;
    }
    if (affinity == TAffinity::Blob) {
        return std::holds_alternative<std::string>(value) ? TStorageClass::Text
               : std::holds_alternative<double>(value)    ? TStorageClass::Real
                                                          : TStorageClass::Integer;
    }
    if (affinity == TAffinity::Text) {
        return TStorageClass::Text;
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (!SqliteReadsAsNumber(*text)) {
            return TStorageClass::Text;
        }
        if (affinity == TAffinity::Real) {
            return TStorageClass::Real;
        }
        const std::string_view number = NumberPart(*text);
        if (HasIntegerSyntax(number) && TryStrToInt64(number)) {
            return TStorageClass::Integer;
        }
        const auto parsed = ReadDouble(number);
        return parsed && IsIntegralInRange(*parsed) ? TStorageClass::Integer : TStorageClass::Real;
    }
    if (const auto* real = std::get_if<double>(&value)) {
        if (affinity == TAffinity::Real) {
            return TStorageClass::Real;
        }
        return IsIntegralInRange(*real) ? TStorageClass::Integer : TStorageClass::Real;
    }
    return affinity == TAffinity::Real ? TStorageClass::Real : TStorageClass::Integer;
}

void RequireKeptExactly(const TColumnType& column, const TStoredValue& value,
                        std::string_view given, const std::string& fieldName) {
    const auto tooManyDigits = [&] {
        NotKept(column, given, fieldName,
                "n'en garde que " + std::to_string(kExactDigits) + " chiffres significatifs");
    };
    switch (column.Kind.Type) {
        case TFieldType::Text:
        case TFieldType::Memo:
        case TFieldType::Date:
        case TFieldType::Time:
        case TFieldType::DateTime:
            if (std::holds_alternative<std::string>(value) &&
                StorageClassFor(column.Affinity, value) != TStorageClass::Text) {
                NotKept(column, given, fieldName, "la changerait en nombre");
            }
            return;
        case TFieldType::Integer:
        case TFieldType::Boolean:
            if (const auto* whole = std::get_if<std::int64_t>(&value)) {
                if (StorageClassFor(column.Affinity, value) == TStorageClass::Real &&
                    SignificantDigits(std::to_string(*whole)) > kExactDigits) {
                    tooManyDigits();
                }
            }
            return;
        case TFieldType::Float:
        case TFieldType::Money:
            // A REAL is printed, and turned into text, with 15 significant digits.
            if (const auto* real = std::get_if<double>(&value)) {
                if (SignificantDigits(ShortestText(*real)) > kExactDigits) {
                    tooManyDigits();
                }
            }
            return;
        case TFieldType::Bcd:
            if (const auto* decimal = std::get_if<std::string>(&value)) {
                const TStorageClass stored = StorageClassFor(column.Affinity, value);
                const bool keptAsInteger =
                    stored == TStorageClass::Integer && HasIntegerSyntax(*decimal);
                if (stored != TStorageClass::Text && !keptAsInteger &&
                    SignificantDigits(*decimal) > kExactDigits) {
                    tooManyDigits();
                }
            }
            return;
        case TFieldType::Binary:
            return;
    }
}

}  // namespace quorvane
