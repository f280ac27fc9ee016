// The fields of an open table and the conditions of a locate.
#include <cmath>
#include <cstdint>
#include <utility>

#include "database/DbError.h"
#include "database/DeclaredType.h"
#include "database/Table.h"

namespace quorvane {

namespace {

const TStoredValue& NullValue() {
    static const TStoredValue null;
    return null;
}

}  // namespace

// ---- TField -------------------------------------------------------------------------------

const TStoredValue& TField::Value() const {
    if (table_->inserting_) {
        return table_->newValues_[index_];
    }
    table_->Materialize();
    return table_->current_ ? table_->current_->values[index_] : NullValue();
}

bool TField::IsNull() const {
    return std::holds_alternative<std::monostate>(Value());
}

std::string TField::AsString() const {
    return StoredValueToText(Value());
}

std::int64_t TField::AsLargeInt() const {
    const TStoredValue& v = Value();
    if (const auto whole = StoredValueToWholeNumber(v)) {
        return *whole;
    }
    throw EDBEngineError("La valeur '" + StoredValueToText(v) +
                         "' n'est pas un entier valide pour le champ " + FieldName());
}

std::int32_t TField::AsInteger() const {
    const std::int64_t value = AsLargeInt();
    if (value < INT32_MIN || value > INT32_MAX) {
        throw EDBEngineError("La valeur '" + std::to_string(value) +
                             "' dépasse les limites d'un entier pour le champ " + FieldName());
    }
    return static_cast<std::int32_t>(value);
}

void TField::SetAsString(std::string_view text) {
    if (!table_->inserting_) {
        throw EDBEngineError("La table " + table_->fileName_ + " n'est pas en mode insertion");
    }
    TStoredValue value = ConvertTextForField(column_->Type.Kind, text, FieldName());
    RequireKeptExactly(column_->Type, value, text, FieldName());
    table_->newValues_[index_] = std::move(value);
    table_->assigned_[index_] = true;
}

void TField::SetAsMoney(std::int64_t tenThousandths) {
    if (!table_->inserting_) {
        throw EDBEngineError("La table " + table_->fileName_ + " n'est pas en mode insertion");
    }
    TStoredValue value = ConvertMoneyForField(column_->Type.Kind, tenThousandths, FieldName());
    // An amount of fewer than 16 digits, its four decimals included, is kept as it is by any
    // floating-point column: only larger ones need the check (and their text for its message).
    constexpr std::int64_t kFifteenDigits = 1'000'000'000'000'000;
    const TFieldType type = column_->Type.Kind.Type;
    const bool surelyKept = (type == TFieldType::Float || type == TFieldType::Money) &&
                            tenThousandths > -kFifteenDigits && tenThousandths < kFifteenDigits;
    if (!surelyKept) {
        RequireKeptExactly(column_->Type, value, MoneyToDecimalText(tenThousandths), FieldName());
    }
    table_->newValues_[index_] = std::move(value);
    table_->assigned_[index_] = true;
}

void TField::Clear() {
    if (!table_->inserting_) {
        throw EDBEngineError("La table " + table_->fileName_ + " n'est pas en mode insertion");
    }
    table_->newValues_[index_] = std::monostate{};
    table_->assigned_[index_] = true;
}

FieldCondition FieldCondition::Equal(std::string field, std::string text) {
    FieldCondition c;
    c.Field = std::move(field);
    c.Test = Kind::EqualText;
    c.Text = std::move(text);
    return c;
}

FieldCondition FieldCondition::Equal(std::string field, std::int64_t number) {
    FieldCondition c;
    c.Field = std::move(field);
    c.Test = Kind::EqualInteger;
    c.Number = number;
    return c;
}

FieldCondition FieldCondition::Empty(std::string field) {
    FieldCondition c;
    c.Field = std::move(field);
    c.Test = Kind::Empty;
    return c;
}

}  // namespace quorvane
