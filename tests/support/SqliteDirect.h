#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// A direct SQLite connection beside the table layer, to build table files as the store
// application would and to look at what the table layer really stored.
namespace quorvane::testing {

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

// Opens (creating) a table file; waits up to two seconds for another writer's lock.
SqliteHandle OpenSqlite(const std::filesystem::path& file);
// Runs every statement of `sql`; throws with SQLite's message when one is refused.
void ExecSql(sqlite3* db, const std::string& sql);

// Every row of a query, each value as text ("NULL" for a NULL), joined by "|", in the query's
// order.
std::vector<std::string> Rows(sqlite3* db, const std::string& sql);
std::vector<std::string> Rows(const std::filesystem::path& file, const std::string& sql);
// The first row of a query, "<no row>" when there is none.
std::string One(sqlite3* db, const std::string& sql);
std::string One(const std::filesystem::path& file, const std::string& sql);

// Creates `file` from a schema and rows kept under tests/data/database/<dataFile>.
void CreateTableFromData(const std::filesystem::path& file, const std::string& dataFile);

}  // namespace quorvane::testing
