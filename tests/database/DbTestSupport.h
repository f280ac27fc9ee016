#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// Store trees of real SQLite table files in a temporary folder, and a direct SQLite connection to
// look at what the table layer really stored.
namespace quorvane::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

  private:
    std::filesystem::path path_;
};

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

// Opens (creating) a table file directly.
Db OpenDirect(const std::filesystem::path& file);
void Exec(sqlite3* db, const std::string& sql);
// Every row of a query, each value as text ("NULL" for a NULL), joined by "|".
std::vector<std::string> Rows(sqlite3* db, const std::string& sql);
std::string One(sqlite3* db, const std::string& sql);

// Creates `file` from the schema kept under tests/data/database/<schemaFile>.
void CreateTable(const std::filesystem::path& file, const std::string& schemaFile);
std::string ReadDataFile(const std::string& name);

}  // namespace quorvane::testing
