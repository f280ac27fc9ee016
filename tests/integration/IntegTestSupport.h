#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "sync/RunDisplay.h"
#include "sync/RunState.h"
#include "sync/integration/IntegrationDriver.h"

// A store in a temporary folder: the two aliases of the integration on real SQLite table files,
// a download folder for the head-office files, and the driver of one run over them.
namespace quorvane::testing {

struct SqliteCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

// The schemas of the demo store (demo/tables/<name>.sql), rows included.
std::string DemoSchema(const std::string& name);
// A file of tests/data/integration/, as bytes.
std::string IntegrationData(const std::string& name);

// One head-office line: attributes given as UTF-8 name/value pairs, in order.
using Attributes = std::vector<std::pair<std::string, std::string>>;
std::string Ligne(const Attributes& attributes);

// A head-office file in UTF-8 (the declaration names windows-1252); `body` goes under the root.
std::string HeadOffice(const std::string& root, const std::string& body);
// `body` of a usual file: the version, an optional configuration, then "Lignes" with the lines.
std::string Envelope(const std::vector<std::string>& lines, const std::string& configuration = "");

class StoreFixture {
  public:
    StoreFixture();
    ~StoreFixture();
    StoreFixture(const StoreFixture&) = delete;
    StoreFixture& operator=(const StoreFixture&) = delete;

    std::string AdminDir() const { return (dir_.path() / "Administration").string(); }
    std::string MajDir() const { return (dir_.path() / "Maj").string(); }
    std::string AutoDir() const { return state.Paths.RepertoireAuto; }
    const TempDir& Dir() const { return dir_; }

    // Creates the table file from SQL (schema and rows) in the administration folder.
    void CreateTable(const std::string& fileName, const std::string& sql);
    void CreateSuppliers(const std::string& sql);
    // Writes the head-office file into the download folder, converted to Windows-1252.
    void WriteHeadOffice(const std::string& fileName, const std::string& utf8);

    // Every row of a query on a table of the administration folder, values joined by "|" (NULL
    // reads "NULL"), in the query's order.
    std::vector<std::string> Rows(const std::string& fileName, const std::string& sql) const;
    std::string One(const std::string& fileName, const std::string& sql) const;

    // The entries' texts, in order.
    std::vector<std::string> Texts() const;
    void ExpectOnlyCode1() const;

    RunState state;
    RunDisplay display;
    std::unique_ptr<IntegrationDriver> driver;

  private:
    TempDir dir_;
};

SqliteHandle OpenSqlite(const std::filesystem::path& file);
void ExecSql(sqlite3* db, const std::string& sql);

}  // namespace quorvane::testing
