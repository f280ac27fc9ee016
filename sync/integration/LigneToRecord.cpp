#include "sync/integration/LigneToRecord.h"

#include <charconv>
#include <cmath>
#include <string>

#include "database/DbError.h"
#include "database/Table.h"
#include "xml/Tnativexml.h"

namespace quorvane {
namespace {

// Optional sign, digits with at most one decimal mark (at least one digit), optional exponent.
bool IsNumberSyntax(const std::string& s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        ++i, ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            ++i, ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            ++i;
        }
        std::size_t exponentDigits = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            ++i, ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    return i == s.size();
}

}  // namespace

bool TextToCurrency(std::string_view text, std::int64_t& value) {
    value = 0;
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) {
        --last;
    }
    if (first == last) {
        return true;
    }
    std::string s;
    s.reserve(last - first);
    for (std::size_t i = first; i < last; ++i) {
        if (text[i] != ' ') {
            s += text[i];
        }
    }
    // The program reads numbers with "." whatever the locale, so both marks become ".".
    if (const auto comma = s.find(','); comma != std::string::npos) {
        s[comma] = '.';
    }
    if (!IsNumberSyntax(s)) {
        return false;
    }
    const char* begin = s.data() + (s[0] == '+' ? 1 : 0);
    double number = 0;
    const auto [end, ec] = std::from_chars(begin, s.data() + s.size(), number);
    if (ec != std::errc() || end != s.data() + s.size()) {
        return false;
    }
    const double scaled = number * 10000.0;
    // 2^63: beyond it no money value can hold the amount.
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2233720368547758e18) {
        return false;
    }
    // The default rounding mode rounds a halfway value to the even neighbour.
    value = static_cast<std::int64_t>(std::nearbyint(scaled));
    return true;
}

TXMLAttributeName& LineFields::For(std::size_t index, const std::string& fieldName) {
    if (index >= names_.size()) {
        names_.reserve(index + 1);
        while (names_.size() <= index) {
            names_.emplace_back(std::string());
        }
    }
    if (names_[index].Name() != fieldName) {
        names_[index] = TXMLAttributeName(fieldName);
    }
    return names_[index];
}

void LigneToRecord(TTable& table, const TXMLNodeOMB& ligne) {
    LineFields names;
    LigneToRecord(table, ligne, names);
}

void LigneToRecord(TTable& table, const TXMLNodeOMB& ligne, LineFields& names) {
    for (std::size_t i = 0; i < table.FieldCount(); ++i) {
        TField& field = table.Fields(i);
        std::string_view text;
        if (!ligne.FindAttribute(names.For(i, field.FieldName()), text)) {
            continue;
        }
        const TFieldType type = field.DataType();
        if (type == TFieldType::Float || type == TFieldType::Money) {
            std::int64_t money = 0;
            if (!TextToCurrency(text, money)) {
                throw EDBEngineError("La valeur '" + std::string(text) +
                                     "' n'est pas un montant valide pour le champ " +
                                     field.FieldName());
            }
            field.SetAsMoney(money);
        } else {
            field.SetAsString(text);
        }
    }
}

}  // namespace quorvane
