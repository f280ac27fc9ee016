#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/SqliteDirect.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "sync/RunDisplay.h"
#include "sync/RunState.h"
#include "sync/integration/IntegrationDriver.h"

// A store in a temporary folder: a program folder (settings file, download folder, report) with
// the store's folders inside it under the two aliases the integration opens, on real SQLite table
// files, and the driver of one run over them. Head-office files are built here as text.
namespace quorvane::testing {

// The schemas of the demo store (demo/tables/<name>.sql), rows included.
std::string DemoSchema(const std::string& name);

// One head-office line: attributes given as UTF-8 name/value pairs, in order.
using Attributes = std::vector<std::pair<std::string, std::string>>;
std::string Ligne(const Attributes& attributes);

// A head-office file in UTF-8 (the declaration names windows-1252); `body` goes under the root.
std::string HeadOffice(const std::string& root, const std::string& body);
// `body` of a usual file: the version, an optional configuration, then "Lignes" with the lines.
// A run's entries' texts, in order; with a code, every entry is expected to carry it.
std::vector<std::string> EntryTexts(const RunState& state, std::optional<int> code = {});

std::string Envelope(const std::vector<std::string>& lines, const std::string& configuration = "");

class StoreFixture {
  public:
    // What the store holds at the start: no table, or the demo store's tables (as the store
    // application would have created them, made by demo/make-store.sh).
    enum class Tables { None, Demo };

    explicit StoreFixture(Tables tables = Tables::None);
    ~StoreFixture();
    StoreFixture(const StoreFixture&) = delete;
    StoreFixture& operator=(const StoreFixture&) = delete;

    const TempDir& Dir() const { return dir_; }
    const ProgramPaths& Paths() const { return state.Paths; }
    std::string StoreDir() const { return dir_.Folder() + "ombrelin"; }
    std::string AdminDir() const { return StoreDir() + "/Administration"; }
    std::string MajDir() const { return StoreDir() + "/Maj"; }
    std::string AutoDir() const { return state.Paths.RepertoireAuto; }

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
    std::vector<std::string> Texts() const { return EntryTexts(state); }
    void ExpectOnlyCode1() const;

    RunState state;
    RunDisplay display;
    std::unique_ptr<IntegrationDriver> driver;

  private:
    TempDir dir_;
};

}  // namespace quorvane::testing
