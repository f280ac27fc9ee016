// The integration of head-office files measured against the limit of the same work done directly,
// in the same run: the file streamed through libxml2's reader (network off, every attribute of
// every line read, no tree kept) and the same rows deleted and loaded through SQLite's C API in
// one transaction, a savepoint per record. Personalisation and messages write each line as it is
// read; purchase conditions keep the lines' values, since they are written grouped by supplier.
//   purchase conditions: 1,000 suppliers, 100,000 lines, 100,000 records, 5,000 known suppliers;
//   personalisation: 100,000 lines against 100,000 records (a third general records of the
//   file's keys), and the same against the table declared as a store may declare it; messages: a
//   purge of 50,000 head-office records, then 100,000 insertions.
// The files and tables come from generate_headoffice.py, run once into a temporary folder; every
// iteration works on fresh copies of the tables. Ratios and the peak memory are printed at the end.

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#include <malloc.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "database/Session.h"
#include "sync/integration/IntegrationDriver.h"

namespace {

namespace fs = std::filesystem;

struct Folders {
    fs::path generated;  // what the generator wrote, never touched by a run
    fs::path work;       // the program folder of the runs: Auto/, Administration/, Maj/
};

const Folders& Bench() {
    static const Folders folders = [] {
        const fs::path root =
            fs::temp_directory_path() / ("quorvane-bench-integ-" + std::to_string(::getpid()));
        Folders f{root / "generated", root / "work"};
        const char* scale = std::getenv("QUORVANE_BENCH_SCALE");
        const std::string command = "python3 '" + std::string(QUORVANE_BENCH_DIR) +
                                    "/generate_headoffice.py' '" + f.generated.string() + "' " +
                                    (scale != nullptr ? scale : "1");
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("the generator failed: " + command);
        }
        for (const char* sub : {"Auto", "Administration", "Maj"}) {
            fs::create_directories(f.work / sub);
        }
        const auto options = fs::copy_options::recursive | fs::copy_options::overwrite_existing;
        fs::copy(f.generated / "Auto", f.work / "Auto", options);
        fs::copy(f.generated / "Maj", f.work / "Maj", options);
        quorvane::Session().AddStandardAlias("OmbrelinAdministration",
                                             (f.work / "Administration").string(), "");
        quorvane::Session().AddStandardAlias("OmbrelinMaj", (f.work / "Maj").string(), "");
        return f;
    }();
    return folders;
}

fs::path FreshTable(const std::string& file) {
    const fs::path target = Bench().work / "Administration" / file;
    fs::copy_file(Bench().generated / "Administration" / file, target,
                  fs::copy_options::overwrite_existing);
    return target;
}

// The same table as a store may declare it (Administration-declared/): see the generator.
void FreshDeclaredTable(const std::string& file) {
    fs::copy_file(Bench().generated / "Administration-declared" / file,
                  Bench().work / "Administration" / file, fs::copy_options::overwrite_existing);
}

// ---- the program's integration ---------------------------------------------------------------

template <typename Step>
void RunIntegration(benchmark::State& state, const std::string& table, Step step,
                    bool declared = false) {
    Bench();
    for (auto _ : state) {
        state.PauseTiming();
        if (declared) {
            FreshDeclaredTable(table);
        } else {
            FreshTable(table);
        }
        quorvane::RunState run;
        run.Paths = quorvane::ProgramPaths::ForFolder(Bench().work.string() + "/");
        quorvane::RunDisplay display;
        quorvane::IntegrationDriver driver(run, display);
        state.ResumeTiming();
        const bool ok = step(driver);
        if (!ok || !run.Erreurs.Empty()) {
            static std::string error;
            error = run.Erreurs.Empty() ? "integration failed" : run.Erreurs.Entries()[0].Texte;
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}

void BM_RemisesIntegration(benchmark::State& state) {
    RunIntegration(state, "REMISES.DB", [](auto& d) { return d.IntegrerRemiseAchat(); });
}
void BM_PersoIntegration(benchmark::State& state) {
    RunIntegration(state, "Perso.DB", [](auto& d) { return d.IntegrerPersonnalisation(); });
}
// Whole numbers in a TEXT column, texts in ALPHA columns: the locates go through the program's
// own lookup instead of the index, and should stay in the same order of time.
void BM_PersoDeclaredIntegration(benchmark::State& state) {
    RunIntegration(
        state, "Perso.DB", [](auto& d) { return d.IntegrerPersonnalisation(); }, true);
}
void BM_MessageIntegration(benchmark::State& state) {
    // message_type.xml is absent, so MessageType.DB is not needed: XmlToTable alone.
    RunIntegration(state, "Message.DB", [](auto& d) {
        return d.XmlToTable(d.tblMessage, Bench().work.string() + "/Auto/message.xml", 2,
                            "Messages");
    });
}
// The same with "Externe" declared as text.
void BM_MessageDeclaredIntegration(benchmark::State& state) {
    RunIntegration(
        state, "Message.DB",
        [](auto& d) {
            return d.XmlToTable(d.tblMessage, Bench().work.string() + "/Auto/message.xml", 2,
                                "Messages");
        },
        true);
}

// ---- the limit: libxml2's streaming reader and SQLite's C API ---------------------------------

struct ReaderFree {
    void operator()(xmlTextReader* r) const { xmlFreeTextReader(r); }
};
struct DbClose {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalize {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Reader = std::unique_ptr<xmlTextReader, ReaderFree>;
using Db = std::unique_ptr<sqlite3, DbClose>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

void Exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(db));
    }
}

Stmt Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(db));
    }
    return Stmt(raw);
}

Db Open(const fs::path& file) {
    sqlite3* raw = nullptr;
    if (sqlite3_open(file.c_str(), &raw) != SQLITE_OK) {
        sqlite3_close(raw);
        throw std::runtime_error("cannot open " + file.string());
    }
    Db db(raw);
    Exec(db.get(), "PRAGMA cache_size = -65536");
    return db;
}

void Step(sqlite3* db, sqlite3_stmt* stmt) {
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        throw std::runtime_error(sqlite3_errmsg(db));
    }
}

const char* Text(const xmlChar* text) {
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// Reads the file as a stream and calls use(names, values) for every "Ligne" of "Lignes" with
// its attribute values in document order (UTF-8); names are those of the first line.
template <typename Use>
void StreamLines(const fs::path& file, Use use) {
    const Reader reader(xmlReaderForFile(file.c_str(), nullptr, XML_PARSE_NONET));
    if (!reader) {
        throw std::runtime_error("cannot open " + file.string());
    }
    xmlTextReader* r = reader.get();
    std::vector<std::string> names;
    std::vector<std::string> row;
    int rc = 0;
    while ((rc = xmlTextReaderRead(r)) == 1) {
        if (xmlTextReaderNodeType(r) != XML_READER_TYPE_ELEMENT || xmlTextReaderDepth(r) != 2 ||
            std::strcmp(Text(xmlTextReaderConstName(r)), "Ligne") != 0) {
            continue;
        }
        const bool first = names.empty();
        row.clear();
        for (int more = xmlTextReaderMoveToFirstAttribute(r); more == 1;
             more = xmlTextReaderMoveToNextAttribute(r)) {
            if (first) {
                names.emplace_back(Text(xmlTextReaderConstName(r)));
            }
            row.emplace_back(Text(xmlTextReaderConstValue(r)));
        }
        xmlTextReaderMoveToElement(r);
        use(names, row);
    }
    if (rc != 0) {
        throw std::runtime_error("cannot parse " + file.string());
    }
}

// Binds a line's values converted as the store's fields want them: amounts with either decimal
// mark and blanks removed, whole numbers, dd/mm/yyyy dates, logical words.
class Inserter {
  public:
    Inserter(sqlite3* db, const std::string& table, const std::vector<std::string>& names)
        : db_(db) {
        std::map<std::string, std::string> types;
        const Stmt info = Prepare(db, "PRAGMA table_info(" + table + ")");
        while (sqlite3_step(info.get()) == SQLITE_ROW) {
            types[reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1))] =
                reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 2));
        }
        std::string sql = "INSERT INTO " + table + " (";
        std::string params;
        for (std::size_t i = 0; i < names.size(); ++i) {
            sql += (i > 0 ? ", " : "") + names[i];
            params += (i > 0 ? ", ?" : "?");
            const std::string type = types[names[i]];
            kinds_.push_back(type.rfind("MONEY", 0) == 0 || type.rfind("FLOAT", 0) == 0    ? 'm'
                             : type.rfind("INT", 0) == 0 || type.rfind("SMALLINT", 0) == 0 ? 'i'
                             : type.rfind("DATE", 0) == 0                                  ? 'd'
                             : type.rfind("LOGICAL", 0) == 0                               ? 'l'
                                                                                           : 't');
        }
        insert_ = Prepare(db, sql + ") VALUES (" + params + ")");
        savepoint_ = Prepare(db, "SAVEPOINT r");
        release_ = Prepare(db, "RELEASE r");
    }

    void Insert(const std::vector<std::string>& row) {
        Step(db_, savepoint_.get());
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int p = static_cast<int>(i) + 1;
            const std::string& v = row[i];
            switch (kinds_[i]) {
                case 'm': {
                    std::string s;
                    for (const char c : v) {
                        if (c != ' ') {
                            s += c == ',' ? '.' : c;
                        }
                    }
                    sqlite3_bind_double(insert_.get(), p, std::strtod(s.c_str(), nullptr));
                    break;
                }
                case 'i':
                    sqlite3_bind_int64(insert_.get(), p, std::strtoll(v.c_str(), nullptr, 10));
                    break;
                case 'd':
                    if (v.size() == 10 && v[2] == '/') {
                        const std::string iso =
                            v.substr(6, 4) + "-" + v.substr(3, 2) + "-" + v.substr(0, 2);
                        sqlite3_bind_text(insert_.get(), p, iso.c_str(), -1, SQLITE_TRANSIENT);
                    } else {
                        sqlite3_bind_text(insert_.get(), p, v.c_str(), -1, SQLITE_TRANSIENT);
                    }
                    break;
                case 'l':
                    sqlite3_bind_int64(insert_.get(), p, v == "1" || v == "oui" ? 1 : 0);
                    break;
                default:
                    sqlite3_bind_text(insert_.get(), p, v.c_str(), -1, SQLITE_STATIC);
            }
        }
        Step(db_, insert_.get());
        Step(db_, release_.get());
    }

    void DeleteRowid(sqlite3_stmt* del, sqlite3_int64 rowid) {
        Step(db_, savepoint_.get());
        sqlite3_bind_int64(del, 1, rowid);
        Step(db_, del);
        Step(db_, release_.get());
    }

  private:
    sqlite3* db_;
    std::vector<char> kinds_;
    Stmt insert_, savepoint_, release_;
};

std::vector<sqlite3_int64> Rowids(sqlite3_stmt* select) {
    std::vector<sqlite3_int64> ids;
    while (sqlite3_step(select) == SQLITE_ROW) {
        ids.push_back(sqlite3_column_int64(select, 0));
    }
    sqlite3_reset(select);
    return ids;
}

struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

void BM_RemisesSqlite(benchmark::State& state) {
    Bench();
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path file = FreshTable("REMISES.DB");
        state.ResumeTiming();
        std::vector<std::string> names;
        std::vector<std::vector<std::string>> values;
        StreamLines(Bench().work / "Auto" / "remise_achat.xml",
                    [&](const std::vector<std::string>& n, const std::vector<std::string>& row) {
                        names = n;
                        values.push_back(row);
                    });
        std::set<std::string, NoCase> suppliers;
        std::unordered_map<std::string, std::vector<std::size_t>> bySupplier;
        for (std::size_t i = 0; i < values.size(); ++i) {
            suppliers.insert(values[i][0]);
            bySupplier[values[i][0]].push_back(i);
        }
        const Db db = Open(file);
        const Db known = Open(Bench().work / "Maj" / "FOURNIS.db");
        Exec(db.get(), "BEGIN IMMEDIATE");
        Inserter inserter(db.get(), "REMISES", names);
        const Stmt select = Prepare(db.get(),
                                    "SELECT rowid FROM REMISES WHERE Fournisseur = ?1 AND "
                                    "Type = 2 AND Client = '' ORDER BY Fournisseur, Type, "
                                    "Client, Famille");
        const Stmt del = Prepare(db.get(), "DELETE FROM REMISES WHERE rowid = ?1");
        const Stmt exists = Prepare(known.get(), "SELECT 1 FROM FOURNIS WHERE Code = ?1");
        for (const std::string& code : suppliers) {
            sqlite3_bind_text(select.get(), 1, code.c_str(), -1, SQLITE_STATIC);
            for (const sqlite3_int64 rowid : Rowids(select.get())) {
                inserter.DeleteRowid(del.get(), rowid);
            }
            sqlite3_bind_text(exists.get(), 1, code.c_str(), -1, SQLITE_STATIC);
            const bool isKnown = sqlite3_step(exists.get()) == SQLITE_ROW;
            sqlite3_reset(exists.get());
            if (isKnown) {
                for (const std::size_t i : bySupplier[code]) {
                    inserter.Insert(values[i]);
                }
            }
        }
        Exec(db.get(), "COMMIT");
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}

void BM_PersoSqlite(benchmark::State& state) {
    Bench();
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path file = FreshTable("Perso.DB");
        state.ResumeTiming();
        const Db db = Open(file);
        Exec(db.get(), "BEGIN IMMEDIATE");
        const Stmt select = Prepare(db.get(),
                                    "SELECT rowid FROM Perso WHERE Groupe = ?1 AND Famille = ?2 "
                                    "AND Modele = ?3 AND Fournisseur = '' AND Produit = '' "
                                    "ORDER BY rowid LIMIT 1");
        const Stmt del = Prepare(db.get(), "DELETE FROM Perso WHERE rowid = ?1");
        std::optional<Inserter> inserter;
        StreamLines(
            Bench().work / "Auto" / "personnalisation.xml",
            [&](const std::vector<std::string>& names, const std::vector<std::string>& row) {
                if (!inserter) {
                    inserter.emplace(db.get(), "Perso", names);
                }
                sqlite3_bind_int64(select.get(), 1, std::strtoll(row[0].c_str(), nullptr, 10));
                sqlite3_bind_text(select.get(), 2, row[1].c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_text(select.get(), 3, row[2].c_str(), -1, SQLITE_STATIC);
                for (const sqlite3_int64 rowid : Rowids(select.get())) {
                    inserter->DeleteRowid(del.get(), rowid);
                }
                inserter->Insert(row);
            });
        inserter.reset();
        Exec(db.get(), "COMMIT");
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}

void BM_MessageSqlite(benchmark::State& state) {
    Bench();
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path file = FreshTable("Message.DB");
        state.ResumeTiming();
        const Db db = Open(file);
        Exec(db.get(), "BEGIN IMMEDIATE");
        // The purge comes first, as the program makes it before it reads any line.
        {
            const Stmt select =
                Prepare(db.get(), "SELECT rowid FROM Message WHERE Externe = 5 ORDER BY Code");
            const Stmt del = Prepare(db.get(), "DELETE FROM Message WHERE rowid = ?1");
            const Stmt savepoint = Prepare(db.get(), "SAVEPOINT r");
            const Stmt release = Prepare(db.get(), "RELEASE r");
            for (const sqlite3_int64 rowid : Rowids(select.get())) {
                Step(db.get(), savepoint.get());
                sqlite3_bind_int64(del.get(), 1, rowid);
                Step(db.get(), del.get());
                Step(db.get(), release.get());
            }
        }
        std::optional<Inserter> inserter;
        StreamLines(
            Bench().work / "Auto" / "message.xml",
            [&](const std::vector<std::string>& names, const std::vector<std::string>& row) {
                if (!inserter) {
                    inserter.emplace(db.get(), "Message", names);
                }
                inserter->Insert(row);
            });
        inserter.reset();
        Exec(db.get(), "COMMIT");
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}

// Each program variant runs before its limit, so the peak printed after it is its own.
BENCHMARK(BM_RemisesIntegration)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(1);
BENCHMARK(BM_RemisesSqlite)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(1);
BENCHMARK(BM_PersoIntegration)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(1);
BENCHMARK(BM_PersoSqlite)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(1);
BENCHMARK(BM_PersoDeclaredIntegration)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->Iterations(1);
BENCHMARK(BM_MessageIntegration)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(1);
BENCHMARK(BM_MessageDeclaredIntegration)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->Iterations(1);
BENCHMARK(BM_MessageSqlite)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(1);

long PeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Keeps the medians and the process's peak memory after each benchmark (a peak only grows: run
// one benchmark alone with --benchmark_filter for its own), and prints them with the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.aggregate_name == "median") {
                medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
                cpuMedians_[run.run_name.function_name] = run.GetAdjustedCPUTime();
                peaks_[run.run_name.function_name] = PeakKb();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        for (const auto& [program, limit] :
             {std::pair{"BM_RemisesIntegration", "BM_RemisesSqlite"},
              std::pair{"BM_PersoIntegration", "BM_PersoSqlite"},
              std::pair{"BM_MessageIntegration", "BM_MessageSqlite"}}) {
            const auto p = medians_.find(program);
            const auto l = medians_.find(limit);
            if (p != medians_.end() && l != medians_.end() && l->second > 0) {
                // Real time counts the commit's flush, which a loaded machine makes noisy.
                std::printf("%s / %s (medians): %.2f real, %.2f CPU (target: within 1.3)\n",
                            program, limit, p->second / l->second,
                            cpuMedians_.at(program) / cpuMedians_.at(limit));
            }
        }
        for (const auto& [name, kb] : peaks_) {
            std::printf("peak memory of the process (ru_maxrss) after %s: %.1f MB\n", name.c_str(),
                        static_cast<double>(kb) / 1024.0);
        }
    }

  private:
    std::map<std::string, double> medians_;
    std::map<std::string, double> cpuMedians_;
    std::map<std::string, long> peaks_;
};

}  // namespace

int main(int argc, char** argv) {
    // As the program does at start-up: freeing a large DOM must not make the next allocation
    // pay for merging millions of small blocks.
    mallopt(M_MXFAST, 0);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::error_code ec;
    fs::remove_all(Bench().work.parent_path(), ec);
    benchmark::Shutdown();
    return 0;
}
