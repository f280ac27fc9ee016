#pragma once

#include <string>
#include <string_view>

#include "database/FieldConversion.h"

// A column's declared type decides two things that must agree: the field kind the store world
// reads (which conversions a value goes through) and the affinity SQLite gives the column (which
// conversions SQLite itself applies when it stores a value). Both, and what they make of a value
// together, are decided here and nowhere else.
namespace quorvane {

enum class TAffinity { Text, Numeric, Integer, Real, Blob };

enum class TStorageClass { Null, Integer, Real, Text, Blob };

struct TColumnType {
    std::string Declared;
    TFieldKind Kind;
    TAffinity Affinity = TAffinity::Blob;
};

// The kind of a column from its declared type: its first word, case ignored.
TFieldKind FieldKindFromDeclaredType(std::string_view declaredType);
// SQLite's own rule: a substring search over the whole declared type, case ignored.
TAffinity AffinityFromDeclaredType(std::string_view declaredType);
// In a STRICT table (`strictTable`) a column declared ANY converts nothing.
TColumnType ColumnTypeFromDeclared(std::string declaredType, bool strictTable = false);

// Whether SQLite takes `text` for a number when a column of NUMERIC, INTEGER or REAL affinity
// stores it: blanks around, a sign, digits with one optional full stop, an optional exponent.
bool SqliteReadsAsNumber(std::string_view text);

// The storage class SQLite gives `value` (as the layer binds it) in a column of `affinity`.
TStorageClass StorageClassFor(TAffinity affinity, const TStoredValue& value);

// Raises EDBEngineError, naming the field, the value given (`given`) and the declared type, when
// the column would not keep `value` as the field's kind gives it: a text SQLite would turn into a
// number, or a number with more digits than SQLite keeps exactly (15 significant).
void RequireKeptExactly(const TColumnType& column, const TStoredValue& value,
                        std::string_view given, const std::string& fieldName);

}  // namespace quorvane
