#include "database/DbTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace quorvane::testing {

TempDir::TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("quorvane-db-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

Db OpenDirect(const std::filesystem::path& file) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open(file.c_str(), &raw);
    Db db(raw);
    if (rc != SQLITE_OK) {
        throw std::runtime_error("cannot open " + file.string());
    }
    sqlite3_busy_timeout(raw, 2000);
    return db;
}

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error != nullptr ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(message + " in " + sql);
    }
}

std::vector<std::string> Rows(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string(sqlite3_errmsg(db)) + " in " + sql);
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

std::string One(sqlite3* db, const std::string& sql) {
    const auto rows = Rows(db, sql);
    return rows.empty() ? std::string("<none>") : rows.front();
}

std::string ReadDataFile(const std::string& name) {
    std::ifstream in(std::string(QUORVANE_TEST_DATA) + "/database/" + name);
    if (!in) {
        throw std::runtime_error("missing test data " + name);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void CreateTable(const std::filesystem::path& file, const std::string& schemaFile) {
    const Db db = OpenDirect(file);
    Exec(db.get(), ReadDataFile(schemaFile));
}

}  // namespace quorvane::testing
