// The table layer against the same work done straight through SQLite's C API, in the same run:
// 100,000 inserts in one open-close span (a savepoint per record, as the integration writes
// them), and a scan of 100,000 records reading three fields. Ratios are printed at the end.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "database/Session.h"
#include "database/Table.h"

namespace {

namespace fs = std::filesystem;
constexpr int kRecords = 100000;

// The table inside a file bears the file's name without its extension.
std::string Schema(const std::string& table) {
    return "CREATE TABLE " + table +
           " (Fournisseur VARCHAR(10) NOT NULL, Type SMALLINT NOT NULL, "
           "Client VARCHAR(10) NOT NULL DEFAULT '', Famille VARCHAR(10) NOT NULL, Remise MONEY, "
           "Libelle VARCHAR(40), PRIMARY KEY (Fournisseur, Type, Client, Famille));"
           "CREATE INDEX " +
           table + "_Type ON " + table + " (Type);";
}

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

const fs::path& Folder() {
    static const fs::path folder = [] {
        fs::path p = fs::temp_directory_path() / ("quorvane-bench-" + std::to_string(::getpid()));
        fs::create_directories(p);
        quorvane::Session().AddStandardAlias("Bench", p.string(), "");
        return p;
    }();
    return folder;
}

Db OpenDb(const fs::path& file) {
    sqlite3* raw = nullptr;
    if (sqlite3_open(file.c_str(), &raw) != SQLITE_OK) {
        sqlite3_close(raw);
        throw std::runtime_error("cannot open " + file.string());
    }
    return Db(raw);
}

void Exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(db));
    }
}

Stmt PrepareStmt(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(db));
    }
    return Stmt(raw);
}

void FreshTable(const fs::path& file) {
    fs::remove(file);
    const Db db = OpenDb(file);
    Exec(db.get(), Schema(file.stem().string()).c_str());
}

std::string Supplier(int i) {
    return "F" + std::to_string(i % 997);
}
std::string Family(int i) {
    return "fam" + std::to_string(i);
}
std::string Label(int i) {
    return "Remise réseau " + std::to_string(i);
}

void BM_InsertLayer(benchmark::State& state) {
    const fs::path file = Folder() / "Layer.DB";
    for (auto _ : state) {
        state.PauseTiming();
        FreshTable(file);
        state.ResumeTiming();
        quorvane::TTable table("Bench", "Layer.DB");
        table.Open();
        auto& fournisseur = table.FieldByName("Fournisseur");
        auto& type = table.FieldByName("Type");
        auto& famille = table.FieldByName("Famille");
        auto& remise = table.FieldByName("Remise");
        auto& libelle = table.FieldByName("Libelle");
        for (int i = 0; i < kRecords; ++i) {
            table.Insert();
            fournisseur.SetAsString(Supplier(i));
            type.SetAsString("2");
            famille.SetAsString(Family(i));
            remise.SetAsMoney(int64_t{125000} + i);
            libelle.SetAsString(Label(i));
            table.Post();
        }
        table.Close();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_InsertSqlite(benchmark::State& state) {
    const fs::path file = Folder() / "Direct.DB";
    for (auto _ : state) {
        state.PauseTiming();
        FreshTable(file);
        state.ResumeTiming();
        const Db db = OpenDb(file);
        Exec(db.get(), "PRAGMA cache_size = -65536");
        Exec(db.get(), "BEGIN IMMEDIATE");
        const Stmt insert = PrepareStmt(db.get(),
                                        "INSERT INTO Direct (Fournisseur, Type, Famille, "
                                        "Remise, Libelle) VALUES (?1, ?2, ?3, ?4, ?5)");
        const Stmt savepoint = PrepareStmt(db.get(), "SAVEPOINT r");
        const Stmt release = PrepareStmt(db.get(), "RELEASE r");
        for (int i = 0; i < kRecords; ++i) {
            const std::string supplier = Supplier(i);
            const std::string family = Family(i);
            const std::string label = Label(i);
            sqlite3_step(savepoint.get());
            sqlite3_reset(savepoint.get());
            sqlite3_bind_text(insert.get(), 1, supplier.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert.get(), 2, 2);
            sqlite3_bind_text(insert.get(), 3, family.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(insert.get(), 4, static_cast<double>(125000 + i) / 10000.0);
            sqlite3_bind_text(insert.get(), 5, label.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(insert.get()) != SQLITE_DONE) {
                throw std::runtime_error(sqlite3_errmsg(db.get()));
            }
            sqlite3_reset(insert.get());
            sqlite3_step(release.get());
            sqlite3_reset(release.get());
        }
        Exec(db.get(), "COMMIT");
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

const fs::path& ScanFile() {
    static const fs::path file = [] {
        const fs::path f = Folder() / "Scan.DB";
        FreshTable(f);
        const Db db = OpenDb(f);
        Exec(db.get(),
             "WITH RECURSIVE s(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM s WHERE n < 99999) "
             "INSERT INTO Scan (Fournisseur, Type, Famille, Remise, Libelle) "
             "SELECT 'F' || (n % 997), 2, 'fam' || n, 12.5 + n, 'Remise réseau ' || n FROM s;");
        return f;
    }();
    return file;
}

void BM_ScanLayer(benchmark::State& state) {
    ScanFile();
    for (auto _ : state) {
        quorvane::TTable table("Bench", "Scan.DB");
        table.Open(quorvane::TOpenMode::ReadOnly);
        auto& fournisseur = table.FieldByName("Fournisseur");
        auto& type = table.FieldByName("Type");
        auto& remise = table.FieldByName("Remise");
        std::size_t total = 0;
        for (table.First(); !table.Eof(); table.Next()) {
            total += fournisseur.AsString().size() + static_cast<std::size_t>(type.AsInteger()) +
                     remise.AsString().size();
        }
        benchmark::DoNotOptimize(total);
        table.Close();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_ScanSqlite(benchmark::State& state) {
    const fs::path& file = ScanFile();
    for (auto _ : state) {
        const Db db = OpenDb(file);
        Exec(db.get(), "PRAGMA cache_size = -65536");
        const Stmt scan = PrepareStmt(db.get(),
                                      "SELECT Fournisseur, Type, Remise FROM Scan ORDER BY "
                                      "Fournisseur, Type, Client, Famille, rowid");
        std::size_t total = 0;
        while (sqlite3_step(scan.get()) == SQLITE_ROW) {
            const std::string supplier =
                reinterpret_cast<const char*>(sqlite3_column_text(scan.get(), 0));
            const std::string remise =
                reinterpret_cast<const char*>(sqlite3_column_text(scan.get(), 2));
            total += supplier.size() + static_cast<std::size_t>(sqlite3_column_int(scan.get(), 1)) +
                     remise.size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK(BM_InsertLayer)->Unit(benchmark::kMillisecond)->Repetitions(5)->Iterations(1);
BENCHMARK(BM_InsertSqlite)->Unit(benchmark::kMillisecond)->Repetitions(5)->Iterations(1);
BENCHMARK(BM_ScanLayer)->Unit(benchmark::kMillisecond)->Repetitions(5)->Iterations(2);
BENCHMARK(BM_ScanSqlite)->Unit(benchmark::kMillisecond)->Repetitions(5)->Iterations(2);

// Keeps the medians as they are reported, to print the layer's cost as a ratio.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.aggregate_name == "median") {
                medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        for (const auto& [layer, direct] : {std::pair{"BM_InsertLayer", "BM_InsertSqlite"},
                                            std::pair{"BM_ScanLayer", "BM_ScanSqlite"}}) {
            const auto l = medians_.find(layer);
            const auto d = medians_.find(direct);
            if (l != medians_.end() && d != medians_.end() && d->second > 0) {
                std::printf("%s / %s (medians): %.2f\n", layer, direct, l->second / d->second);
            }
        }
    }

  private:
    std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    benchmark::Shutdown();
    return 0;
}
