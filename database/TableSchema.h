#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <string>
#include <vector>

#include "database/DeclaredType.h"

namespace quorvane {

struct TColumnInfo {
    std::string Name;
    TColumnType Type;
};

// What the layer knows of one table inside its file, and the SQL it speaks to it. Records are
// always selected as every column followed by the order key columns that are not among them (the
// rowid), so a row's key can be read from the row.
class TTableSchema {
  public:
    // Raises EDBEngineError when the file holds no table of that name.
    static TTableSchema Load(sqlite3* db, const std::string& sqlName, const std::string& fileName);

    const std::vector<TColumnInfo>& Columns() const { return columns_; }
    // Positions, in the selected row, of the order key's parts.
    const std::vector<std::size_t>& KeyPositions() const { return keyPositions_; }
    std::size_t SelectedCount() const { return selected_.size(); }
    bool HasPrimaryKey() const { return hasPrimaryKey_; }
    // The primary key's parts, without the rowid that breaks ties; empty without a primary key.
    std::size_t PrimaryKeyParts() const { return primaryKeyParts_; }

    // SELECT of every selected column, optionally filtered, in table order.
    std::string SelectSql(const std::string& where, const std::string& limit) const;
    // Lexicographic "key > current" (or "<") over the key, in table order; ?1..?n are the key's
    // parts, and a NULL part (given by `nullMask`) is not bound. NULL sorts first, as in ORDER BY.
    // From `firstPart` on only: the caller knows the parts before it equal the current record's.
    std::string KeyAfterSql(const std::vector<bool>& nullMask, std::size_t firstPart = 0) const;
    std::string KeyBeforeSql(const std::vector<bool>& nullMask, std::size_t parts) const;
    // "key = ?1 AND ..." that picks one record by its full key.
    std::string KeyEqualsSql(const std::vector<bool>& nullMask) const;
    std::string InsertSql(const std::vector<bool>& assigned) const;
    std::string CountSql(const std::string& where) const;
    const std::string& QuotedTable() const { return quotedTable_; }
    // The rowid (or the INTEGER PRIMARY KEY standing for it); empty for a table WITHOUT ROWID.
    const std::string& RowidExpression() const { return rowidExpression_; }

  private:
    std::string quotedTable_;
    std::vector<TColumnInfo> columns_;
    std::vector<std::string> selected_;  // SQL expressions
    std::vector<std::size_t> keyPositions_;
    std::string orderBy_;
    std::string rowidExpression_;
    bool hasPrimaryKey_ = false;
    std::size_t primaryKeyParts_ = 0;
};

}  // namespace quorvane
