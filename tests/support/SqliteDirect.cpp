#include "support/SqliteDirect.h"

#include <stdexcept>

#include "support/TestFiles.h"

namespace quorvane::testing {

SqliteHandle OpenSqlite(const std::filesystem::path& file) {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK) {
        throw std::runtime_error("cannot open " + file.string());
    }
    sqlite3_busy_timeout(raw, 2000);
    return db;
}

void ExecSql(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error != nullptr ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error("SQL refused: " + message + " in " + sql);
    }
}

std::vector<std::string> Rows(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("bad query: ") + sqlite3_errmsg(db) + " in " + sql);
    }
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, sqlite3_finalize);
    std::vector<std::string> rows;
    while (sqlite3_step(raw) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(raw); ++i) {
            if (i > 0) {
                row += "|";
            }
            const auto* text = sqlite3_column_text(raw, i);
            row += text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> Rows(const std::filesystem::path& file, const std::string& sql) {
    const SqliteHandle db = OpenSqlite(file);
    return Rows(db.get(), sql);
}

std::string One(sqlite3* db, const std::string& sql) {
    const auto rows = Rows(db, sql);
    return rows.empty() ? std::string("<no row>") : rows.front();
}

std::string One(const std::filesystem::path& file, const std::string& sql) {
    const SqliteHandle db = OpenSqlite(file);
    return One(db.get(), sql);
}

void CreateTableFromData(const std::filesystem::path& file, const std::string& dataFile) {
    const SqliteHandle db = OpenSqlite(file);
    ExecSql(db.get(), TestData("database/" + dataFile));
}

}  // namespace quorvane::testing
