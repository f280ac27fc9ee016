#include "database/TableSchema.h"

#include <algorithm>
#include <utility>

#include "base/TextConversion.h"
#include "database/DbError.h"
#include "database/SqliteSupport.h"

namespace quorvane {

namespace {

std::string Param(std::size_t i) {
    return "?" + std::to_string(i + 1);
}

// Whether the table was created STRICT. SQLite before 3.37 has no such tables and no such
// pragma column: a failure to ask means no.
bool IsStrictTable(sqlite3* db, const std::string& sqlName) {
    sqlite3_stmt* raw = nullptr;
    const char* sql = "SELECT strict FROM pragma_table_list(?1) WHERE schema = 'main'";
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return false;
    }
    sqlite3_bind_text(raw, 1, sqlName.c_str(), static_cast<int>(sqlName.size()), SQLITE_TRANSIENT);
    const bool strict = sqlite3_step(raw) == SQLITE_ROW && sqlite3_column_int(raw, 0) != 0;
    sqlite3_finalize(raw);
    return strict;
}

}  // namespace

TTableSchema TTableSchema::Load(sqlite3* db, const std::string& sqlName,
                                const std::string& fileName) {
    TTableSchema schema;
    schema.quotedTable_ = QuoteIdentifier(sqlName);
    const SqliteStmt info = Prepare(db, "PRAGMA table_info(" + schema.quotedTable_ + ")", fileName);
    const bool strict = IsStrictTable(db, sqlName);
    std::vector<std::pair<int, std::size_t>> primaryKey;  // (position in key, column)
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
        TColumnInfo column;
        column.Name = std::get<std::string>(ColumnValue(info.get(), 1));
        const auto type = ColumnValue(info.get(), 2);
        column.Type = ColumnTypeFromDeclared(StoredValueToText(type), strict);
        const int pk = sqlite3_column_int(info.get(), 5);
        if (pk > 0) {
            primaryKey.emplace_back(pk, schema.columns_.size());
        }
        schema.columns_.push_back(std::move(column));
    }
    if (rc != SQLITE_DONE) {
        ThrowSqliteError(db, rc, fileName);
    }
    if (schema.columns_.empty()) {
        throw EDBEngineError("La table " + sqlName + " n'existe pas dans le fichier " + fileName);
    }
    std::sort(primaryKey.begin(), primaryKey.end());

    for (const auto& column : schema.columns_) {
        schema.selected_.push_back(QuoteIdentifier(column.Name));
    }
    // A table WITHOUT ROWID has no rowid to select; a rowid table answers to the first of the
    // rowid's names that no column has taken.
    std::string rowidName;
    for (const char* candidate : {"rowid", "_rowid_", "oid"}) {
        const bool taken = std::any_of(
            schema.columns_.begin(), schema.columns_.end(),
            [&](const TColumnInfo& c) { return EqualsIgnoreAsciiCase(c.Name, candidate); });
        if (!taken) {
            rowidName = candidate;
            break;
        }
    }
    bool hasRowid = false;
    if (!rowidName.empty()) {
        sqlite3_stmt* probe = nullptr;
        const std::string sql = "SELECT " + rowidName + " FROM " + schema.quotedTable_;
        hasRowid = sqlite3_prepare_v2(db, sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
        sqlite3_finalize(probe);
    }

    schema.hasPrimaryKey_ = !primaryKey.empty();
    schema.primaryKeyParts_ = primaryKey.size();
    for (const auto& [position, column] : primaryKey) {
        schema.keyPositions_.push_back(column);
    }
    bool rowidAlias = primaryKey.size() == 1 && hasRowid &&
                      AsciiUpper(schema.columns_[primaryKey[0].second].Type.Declared) == "INTEGER";
    if (rowidAlias) {
        // "INTEGER PRIMARY KEY DESC" is no name for the rowid: SQLite keeps such a key in an
        // index of its own, which a true rowid never needs.
        const SqliteStmt indexes =
            Prepare(db, "PRAGMA index_list(" + schema.quotedTable_ + ")", fileName);
        while ((rc = sqlite3_step(indexes.get())) == SQLITE_ROW) {
            if (StoredValueToText(ColumnValue(indexes.get(), 3)) == "pk") {
                rowidAlias = false;
            }
        }
        if (rc != SQLITE_DONE) {
            ThrowSqliteError(db, rc, fileName);
        }
    }
    // Outside an INTEGER PRIMARY KEY a rowid table's key may hold NULLs, which SQLite lets repeat;
    // the rowid after the key keeps the order total.
    if (rowidAlias) {
        schema.rowidExpression_ = schema.selected_[primaryKey[0].second];
    } else if (hasRowid) {
        schema.rowidExpression_ = rowidName;
        schema.selected_.push_back(rowidName);
        schema.keyPositions_.push_back(schema.selected_.size() - 1);
    }
    if (schema.keyPositions_.empty()) {
        throw EDBEngineError("La table " + sqlName + " du fichier " + fileName +
                             " n'a ni clé primaire ni rowid");
    }
    for (std::size_t i = 0; i < schema.keyPositions_.size(); ++i) {
        schema.orderBy_ += (i == 0 ? "" : ", ") + schema.selected_[schema.keyPositions_[i]];
    }
    return schema;
}

std::string TTableSchema::SelectSql(const std::string& where, const std::string& limit) const {
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < selected_.size(); ++i) {
        sql += (i == 0 ? "" : ", ") + selected_[i];
    }
    sql += " FROM " + quotedTable_;
    if (!where.empty()) {
        sql += " WHERE " + where;
    }
    sql += " ORDER BY " + orderBy_;
    if (!limit.empty()) {
        sql += " LIMIT " + limit;
    }
    return sql;
}

std::string TTableSchema::KeyAfterSql(const std::vector<bool>& nullMask,
                                      std::size_t firstPart) const {
    const std::size_t n = keyPositions_.size();
    const bool anyNull = std::find(nullMask.begin() + static_cast<std::ptrdiff_t>(firstPart),
                                   nullMask.end(), true) != nullMask.end();
    if (!anyNull) {
        // Row values let SQLite walk the key's index straight from the current record.
        if (n - firstPart == 1) {
            return selected_[keyPositions_[firstPart]] + " > " + Param(firstPart);
        }
        std::string left = "(";
        std::string right = "(";
        for (std::size_t i = firstPart; i < n; ++i) {
            left += (i == firstPart ? "" : ", ") + selected_[keyPositions_[i]];
            right += (i == firstPart ? "" : ", ") + Param(i);
        }
        return left + ") > " + right + ")";
    }
    std::string sql;
    for (std::size_t i = firstPart; i < n; ++i) {
        std::string term;
        for (std::size_t j = firstPart; j < i; ++j) {
            const std::string& e = selected_[keyPositions_[j]];
            term += (nullMask[j] ? e + " IS NULL" : e + " = " + Param(j)) + " AND ";
        }
        const std::string& e = selected_[keyPositions_[i]];
        term += nullMask[i] ? e + " IS NOT NULL" : e + " > " + Param(i);
        sql += (i == firstPart ? "(" : " OR (") + term + ")";
    }
    return "(" + sql + ")";
}

std::string TTableSchema::KeyBeforeSql(const std::vector<bool>& nullMask, std::size_t parts) const {
    std::string sql;
    for (std::size_t i = 0; i < parts; ++i) {
        if (nullMask[i]) {
            // Nothing sorts before NULL, so no record is before the key through this part.
            continue;
        }
        std::string term;
        for (std::size_t j = 0; j < i; ++j) {
            const std::string& e = selected_[keyPositions_[j]];
            term += (nullMask[j] ? e + " IS NULL" : e + " = " + Param(j)) + " AND ";
        }
        const std::string& e = selected_[keyPositions_[i]];
        term += "(" + e + " < " + Param(i) + " OR " + e + " IS NULL)";
        sql += (sql.empty() ? "(" : " OR (") + term + ")";
    }
    return sql.empty() ? "0" : "(" + sql + ")";
}

std::string TTableSchema::KeyEqualsSql(const std::vector<bool>& nullMask) const {
    std::string sql;
    for (std::size_t i = 0; i < keyPositions_.size(); ++i) {
        const std::string& e = selected_[keyPositions_[i]];
        sql += (i == 0 ? "" : " AND ") + (nullMask[i] ? e + " IS NULL" : e + " = " + Param(i));
    }
    return sql;
}

std::string TTableSchema::InsertSql(const std::vector<bool>& assigned) const {
    // OR ABORT overrides any ON CONFLICT clause of the table: a duplicate is refused, never
    // silently replaced, and a refusal never takes the open transaction down with it.
    std::string names;
    std::string values;
    std::size_t count = 0;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (!assigned[i]) {
            continue;
        }
        names += (count == 0 ? "" : ", ") + QuoteIdentifier(columns_[i].Name);
        values += (count == 0 ? "" : ", ") + Param(i);
        ++count;
    }
    if (count == 0) {
        return "INSERT OR ABORT INTO " + quotedTable_ + " DEFAULT VALUES";
    }
    return "INSERT OR ABORT INTO " + quotedTable_ + " (" + names + ") VALUES (" + values + ")";
}

std::string TTableSchema::CountSql(const std::string& where) const {
    return "SELECT count(*) FROM " + quotedTable_ + (where.empty() ? "" : " WHERE " + where);
}

}  // namespace quorvane
