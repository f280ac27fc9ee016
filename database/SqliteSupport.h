#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "database/FieldConversion.h"

// Thin RAII and error helpers over the SQLite C API, shared by the table layer.
namespace quorvane {

struct SqliteCloser {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct SqliteFinalizer {
    void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStmt = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

// Every identifier the layer writes into SQL goes through here.
std::string QuoteIdentifier(std::string_view name);

// The French text for the last error of `db`, naming the table file `tableName`.
std::string DescribeSqliteError(sqlite3* db, int rc, const std::string& tableName);
// True for the codes that say the table's file cannot be written or read any more, as opposed
// to a refusal of one record.
bool IsStorageFailure(int rc);
// Raises EDBStorageError for a storage failure, EDBEngineError otherwise.
[[noreturn]] void ThrowSqliteError(sqlite3* db, int rc, const std::string& tableName);

SqliteStmt Prepare(sqlite3* db, const std::string& sql, const std::string& tableName);
void Execute(sqlite3* db, const char* sql, const std::string& tableName);

void BindValue(sqlite3_stmt* stmt, int index, const TStoredValue& value);
// Same, without SQLite's copy of a text or blob: `value` must stay as it is until the statement
// has been stepped and reset. The statement is left pointing at it; whoever uses the statement
// next binds every parameter again before stepping.
void BindValueInPlace(sqlite3_stmt* stmt, int index, const TStoredValue& value);
TStoredValue ColumnValue(sqlite3_stmt* stmt, int index);

}  // namespace quorvane
