#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// How a text or a money value given to a field becomes the value stored in the table file.
// Kept apart from the table itself so the conversions can be exercised (and fuzzed) alone.
namespace quorvane {

enum class TFieldType {
    Text,
    Integer,
    Float,
    Money,
    Bcd,
    Boolean,
    Date,
    Time,
    DateTime,
    Memo,
    Binary,
};

// A whole-number column also carries the width its declared type gives it.
struct TFieldKind {
    TFieldType Type = TFieldType::Text;
    int IntegerBits = 64;  // 16, 32 or 64, meaningful for TFieldType::Integer only
};

// Bytes that go to a BLOB column as they are.
struct TBlob {
    std::string Bytes;
    bool operator==(const TBlob&) const = default;
};

// A value as SQLite stores it: NULL, INTEGER, REAL, TEXT or BLOB.
using TStoredValue = std::variant<std::monostate, std::int64_t, double, std::string, TBlob>;

// Converts a text given to the field `fieldName` of kind `kind`; an empty text stores NULL in
// every field that is not text or memo. Raises EDBEngineError with a French message naming the
// value and the field when the text does not fit the kind.
TStoredValue ConvertTextForField(const TFieldKind& kind, std::string_view text,
                                 const std::string& fieldName);

// Converts a money value (ten-thousandths) given to a field; raises EDBEngineError when the field
// cannot hold it (a logical, a date, a fraction for a whole number ...).
TStoredValue ConvertMoneyForField(const TFieldKind& kind, std::int64_t tenThousandths,
                                  const std::string& fieldName);

// A money value as a plain decimal text: "-1.2345", "12.5", "7".
std::string MoneyToDecimalText(std::int64_t tenThousandths);

// The store world's whole-number syntax (leading blanks, a sign, digits), over 64 bits.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text);

// The text a stored value reads as: NULL is empty, numbers in plain decimal form with a full stop.
std::string StoredValueToText(const TStoredValue& value);
// The whole number a stored value reads as: NULL and the empty text as 0, an integral number, a
// text of the whole-number syntax; nothing for any other value (a fraction is no whole number).
std::optional<std::int64_t> StoredValueToWholeNumber(const TStoredValue& value);

}  // namespace quorvane
