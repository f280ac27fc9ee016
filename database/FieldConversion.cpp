#include "database/FieldConversion.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <system_error>

#include "base/TextConversion.h"
#include "database/DateTimeText.h"
#include "database/DbError.h"

namespace quorvane {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

[[noreturn]] void Refuse(std::string_view text, const char* what, const std::string& field) {
    throw EDBEngineError("La valeur '" + std::string(text) + "' n'est pas " + what +
                         " pour le champ " + field);
}

// What a text read as, or the refusal of a text that reads as nothing of `what`.
template <typename T>
T ReadOrRefuse(std::optional<T> value, std::string_view text, const char* what,
               const std::string& field) {
    if (!value) {
        Refuse(text, what, field);
    }
    return std::move(*value);
}

bool IsSignAndDigits(std::string_view text) {
    const std::size_t start = text.find_first_not_of(' ');
    if (start == text.npos) {
        return false;
    }
    std::size_t i = start;
    if (text[i] == '+' || text[i] == '-') {
        ++i;
    }
    return i < text.size() && text.find_first_not_of("0123456789", i) == text.npos;
}

// A plain decimal number with one decimal mark written either way and an optional exponent;
// returns it normalised (full stop, no '+') so std::from_chars can read it.
std::optional<std::string> NormaliseNumber(std::string_view text, bool allowExponent) {
    text = TrimBlanks(text);
    std::string out;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            out += '-';
        }
        ++i;
    }
    std::size_t digits = 0;
    bool mark = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            out += c;
            ++digits;
        } else if ((c == '.' || c == ',') && !mark) {
            mark = true;
            out += '.';
        } else {
            break;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (i < text.size() && allowExponent && (text[i] == 'e' || text[i] == 'E')) {
        out += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            out += text[i];
            ++i;
        }
        std::size_t expDigits = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            out += text[i];
            ++expDigits;
        }
        if (expDigits == 0) {
            return std::nullopt;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return out;
}

std::optional<double> ParseFloat(std::string_view text) {
    const auto normalised = NormaliseNumber(text, true);
    if (!normalised) {
        return std::nullopt;
    }
    double value = 0;
    const char* first = normalised->data();
    const char* last = first + normalised->size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Money keeps four decimals, a value exactly halfway going to the even neighbour.
std::optional<double> RoundMoney(double value) {
    const double scaled = std::nearbyint(value * 10000.0);
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.0e18) {
        return std::nullopt;
    }
    return scaled / 10000.0;
}

std::optional<std::string> ParseBcd(std::string_view text) {
    auto normalised = NormaliseNumber(text, false);
    if (!normalised) {
        return std::nullopt;
    }
    std::string& s = *normalised;
    const std::size_t signLength = (!s.empty() && s[0] == '-') ? 1 : 0;
    if (s.size() > signLength && s[signLength] == '.') {
        s.insert(signLength, "0");
    }
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s;
}

std::optional<bool> ParseBoolean(std::string_view text) {
    const std::string word = AsciiUpper(TrimBlanks(text));
    if (word == "1" || word == "VRAI" || word == "OUI" || word == "TRUE" || word == "YES") {
        return true;
    }
    if (word == "0" || word == "FAUX" || word == "NON" || word == "FALSE" || word == "NO") {
        return false;
    }
    return std::nullopt;
}

bool FitsBits(std::int64_t value, int bits) {
    if (bits >= 64) {
        return true;
    }
    const std::int64_t limit = std::int64_t{1} << (bits - 1);
    return value >= -limit && value < limit;
}

[[noreturn]] void OutOfRange(std::string_view text, const std::string& field) {
    throw EDBEngineError("La valeur '" + std::string(text) +
                         "' dépasse les limites du champ entier " + field);
}

}  // namespace

std::string MoneyToDecimalText(std::int64_t tenThousandths) {
    const bool negative = tenThousandths < 0;
    // Work on the magnitude as unsigned so that the smallest value has one.
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(tenThousandths)
                                             : static_cast<std::uint64_t>(tenThousandths);
    std::string text = std::to_string(magnitude / 10000);
    std::string fraction = std::to_string(magnitude % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    if (!fraction.empty()) {
        text += "." + fraction;
    }
    return negative ? "-" + text : text;
}

std::optional<std::int64_t> ParseWholeNumber(std::string_view text) {
    return TryStrToInt64(text);
}

TStoredValue ConvertTextForField(const TFieldKind& kind, std::string_view text,
                                 const std::string& fieldName) {
    if (kind.Type == TFieldType::Text || kind.Type == TFieldType::Memo) {
        return std::string(text);
    }
    if (text.empty()) {
        return std::monostate{};
    }
    switch (kind.Type) {
        case TFieldType::Integer: {
            const auto value = TryStrToInt64(text);
            if (!value) {
                // A long run of digits is a number too big for the field, not a non-number.
                if (IsSignAndDigits(text)) {
                    OutOfRange(text, fieldName);
                }
                Refuse(text, "un entier valide", fieldName);
            }
            if (!FitsBits(*value, kind.IntegerBits)) {
                OutOfRange(text, fieldName);
            }
            return *value;
        }
        case TFieldType::Float:
            return ReadOrRefuse(ParseFloat(text), text, "un nombre valide", fieldName);
        case TFieldType::Money: {
            const auto value = ParseFloat(text);
            return ReadOrRefuse(value ? RoundMoney(*value) : std::nullopt, text,
                                "un montant valide", fieldName);
        }
        case TFieldType::Bcd:
            return ReadOrRefuse(ParseBcd(text), text, "un nombre décimal valide", fieldName);
        case TFieldType::Boolean: {
            const bool value =
                ReadOrRefuse(ParseBoolean(text), text, "une valeur logique valide", fieldName);
            return std::int64_t{value ? 1 : 0};
        }
        case TFieldType::Date:
            return ReadOrRefuse(ParseDate(text), text, "une date valide", fieldName);
        case TFieldType::Time:
            return ReadOrRefuse(ParseTime(text), text, "une heure valide", fieldName);
        case TFieldType::DateTime:
            return ReadOrRefuse(ParseDateTime(text), text, "une date et heure valide", fieldName);
        case TFieldType::Binary:
            return TBlob{std::string(text)};
        case TFieldType::Text:
        case TFieldType::Memo:
            break;
    }
    return std::string(text);
}

TStoredValue ConvertMoneyForField(const TFieldKind& kind, std::int64_t tenThousandths,
                                  const std::string& fieldName) {
    switch (kind.Type) {
        case TFieldType::Float:
        case TFieldType::Money: {
            // Below 2^53 both operands are exact, so the quotient is the nearest double; above,
            // the decimal text is read instead so the amount is not rounded twice.
            constexpr std::int64_t kExact = std::int64_t{1} << 53;
            if (tenThousandths > -kExact && tenThousandths < kExact) {
                return static_cast<double>(tenThousandths) / 10000.0;
            }
            const std::string text = MoneyToDecimalText(tenThousandths);
            double value = 0;
            std::from_chars(text.data(), text.data() + text.size(), value);
            return value;
        }
        case TFieldType::Integer: {
            const std::int64_t whole = tenThousandths / 10000;
            if (tenThousandths % 10000 != 0) {
                Refuse(MoneyToDecimalText(tenThousandths), "un entier valide", fieldName);
            }
            if (!FitsBits(whole, kind.IntegerBits)) {
                OutOfRange(MoneyToDecimalText(tenThousandths), fieldName);
            }
            return whole;
        }
        case TFieldType::Bcd:
        case TFieldType::Text:
        case TFieldType::Memo:
            return MoneyToDecimalText(tenThousandths);
        case TFieldType::Boolean:
        case TFieldType::Date:
        case TFieldType::Time:
        case TFieldType::DateTime:
        case TFieldType::Binary:
            break;
    }
    throw EDBEngineError("Un montant ne peut pas être affecté au champ " + fieldName);
}

std::string StoredValueToText(const TStoredValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        char buffer[64];
        const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        return ec == std::errc() ? std::string(buffer, ptr) : std::string();
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
        return *s;
    }
    if (const auto* b = std::get_if<TBlob>(&value)) {
        return b->Bytes;
    }
    return std::string();
}

std::optional<std::int64_t> StoredValueToWholeNumber(const TStoredValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return *i;
    }
    if (const auto* d = std::get_if<double>(&value)) {
        if (*d == std::trunc(*d) && *d >= -9.2233720368547758e18 && *d < 9.2233720368547758e18) {
            return static_cast<std::int64_t>(*d);
        }
        return std::nullopt;
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
        return s->empty() ? std::optional<std::int64_t>(0) : ParseWholeNumber(*s);
    }
    if (std::holds_alternative<std::monostate>(value)) {
        return 0;
    }
    return std::nullopt;
}

}  // namespace quorvane
