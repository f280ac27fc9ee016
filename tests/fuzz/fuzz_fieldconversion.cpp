// The table layer's text conversions over arbitrary texts, for every field kind: a text is
// either refused with the layer's own error or stored, and the stored value's text converts
// back to the same stored value. The first byte picks the kind, the rest is the text.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "database/DbError.h"
#include "database/DeclaredType.h"
#include "database/FieldConversion.h"

namespace {

using quorvane::TFieldKind;
using quorvane::TFieldType;

constexpr TFieldKind kKinds[] = {
    {TFieldType::Text, 64},    {TFieldType::Integer, 16},  {TFieldType::Integer, 32},
    {TFieldType::Integer, 64}, {TFieldType::Float, 64},    {TFieldType::Money, 64},
    {TFieldType::Bcd, 64},     {TFieldType::Boolean, 64},  {TFieldType::Date, 64},
    {TFieldType::Time, 64},    {TFieldType::DateTime, 64}, {TFieldType::Memo, 64},
    {TFieldType::Binary, 64},
};

// Under every affinity the value is kept or refused with the layer's error naming the field; a
// text field refuses exactly the texts SQLite would take for numbers.
void CheckKept(const TFieldKind& kind, std::string_view text,
               const quorvane::TStoredValue& stored) {
    using quorvane::TAffinity;
    for (const TAffinity affinity : {TAffinity::Text, TAffinity::Numeric, TAffinity::Integer,
                                     TAffinity::Real, TAffinity::Blob}) {
        quorvane::TColumnType column{"TYPE", kind, affinity};
        bool kept = true;
        try {
            quorvane::RequireKeptExactly(column, stored, text, "CHAMP");
        } catch (const quorvane::EDBEngineError& e) {
            kept = false;
            if (text.find('\0') == std::string_view::npos &&
                std::strstr(e.what(), "CHAMP") == nullptr) {
                __builtin_trap();
            }
        }
        const bool textLooksNumeric = affinity != TAffinity::Text && affinity != TAffinity::Blob &&
                                      quorvane::SqliteReadsAsNumber(text);
        if (kind.Type == TFieldType::Text && kept == textLooksNumeric) {
            __builtin_trap();
        }
    }
}

void CheckText(const TFieldKind& kind, std::string_view text) {
    quorvane::TStoredValue stored;
    try {
        stored = quorvane::ConvertTextForField(kind, text, "CHAMP");
    } catch (const quorvane::EDBEngineError& e) {
        // The message names the field (what() ends at a NUL byte the text may hold).
        if (text.find('\0') == std::string_view::npos &&
            std::strstr(e.what(), "CHAMP") == nullptr) {
            __builtin_trap();
        }
        return;
    }
    if (text.empty() && kind.Type != TFieldType::Text && kind.Type != TFieldType::Memo &&
        !std::holds_alternative<std::monostate>(stored)) {
        __builtin_trap();
    }
    CheckKept(kind, text, stored);
    if (std::holds_alternative<std::monostate>(stored)) {
        return;
    }
    const std::string back = quorvane::StoredValueToText(stored);
    quorvane::TStoredValue again;
    try {
        again = quorvane::ConvertTextForField(kind, back, "CHAMP");
    } catch (const quorvane::EDBEngineError&) {
        __builtin_trap();  // a stored value's own text is always accepted
    }
    if (!(again == stored)) {
        __builtin_trap();
    }
    if (kind.Type == TFieldType::Integer &&
        quorvane::ParseWholeNumber(text) != std::get<std::int64_t>(stored)) {
        __builtin_trap();
    }
}

void CheckMoney(const TFieldKind& kind, std::int64_t tenThousandths) {
    try {
        const auto stored = quorvane::ConvertMoneyForField(kind, tenThousandths, "CHAMP");
        (void)quorvane::StoredValueToText(stored);
    } catch (const quorvane::EDBEngineError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const TFieldKind& kind = kKinds[data[0] % std::size(kKinds)];
    CheckText(kind, text);
    (void)quorvane::ColumnTypeFromDeclared(std::string(text));
    if (text.size() >= sizeof(std::int64_t)) {
        std::int64_t money = 0;
        std::memcpy(&money, text.data(), sizeof money);
        CheckMoney(kind, money);
    }
    return 0;
}
