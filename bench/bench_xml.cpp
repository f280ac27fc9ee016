// Loading a large head-office file and reading every attribute of every "Ligne" through the
// wrapper. The file (100,000 lines, 10 attributes a line, Windows-1252) is generated once.
//
// Set QUORVANE_BENCH_NO_MXFAST to run without the allocator setting the program makes at
// start-up.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "xml/Tnativexml.h"

namespace {

constexpr int kLines = 100000;
const char* const kNames[] = {"Fournisseur", "Code",    "Libelle",  "PrixAchat", "Remise",
                              "DateDebut",   "DateFin", "Quantite", "Unite",     "Commentaire"};

std::string MakeFile() {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<RemisesAchat>\n"
        "  <Version Numero=\"1.0\"/>\n  <Lignes>\n";
    text.reserve(20u * 1024u * 1024u);
    for (int i = 0; i < kLines; ++i) {
        const std::string n = std::to_string(i);
        text += "<Ligne Fournisseur=\"F" + std::to_string(i % 500) + "\" Code=\"ART" + n +
                "\" Libelle=\"Cr\xE8me br\xFBl\xE9\x65 " + n + "\" PrixAchat=\"" +
                std::to_string(i % 1000) + ",25\" Remise=\"" + std::to_string(i % 40) +
                "\" DateDebut=\"01/01/2026\" DateFin=\"31/12/2026\" Quantite=\"" +
                std::to_string(1 + i % 12) +
                "\" Unite=\"pi\xE8\x63\x65\" Commentaire=\"Tarif \x80 n\xE9goci\xE9\"/>\n";
    }
    text += "  </Lignes>\n</RemisesAchat>\n";
    return text;
}

// Generated on first use, removed at exit.
class SampleFile {
  public:
    SampleFile() {
        if (std::getenv("QUORVANE_BENCH_NO_MXFAST") == nullptr) {
            // As the program does at start-up: freeing a large DOM otherwise leaves millions
            // of fast-bin blocks for the next large allocation to merge.
            mallopt(M_MXFAST, 0);
        }
    }
    ~SampleFile() {
        if (!path_.empty()) {
            std::error_code ec;
            std::filesystem::remove(path_, ec);
        }
    }
    SampleFile(const SampleFile&) = delete;
    SampleFile& operator=(const SampleFile&) = delete;

    const std::string& Path() {
        if (path_.empty()) {
            const auto file = std::filesystem::temp_directory_path() /
                              ("quorvane-bench-xml-" + std::to_string(::getpid()) + ".xml");
            std::ofstream(file, std::ios::binary) << MakeFile();
            path_ = file.string();
        }
        return path_;
    }

  private:
    std::string path_;
};

SampleFile sample;

const std::string& SamplePath() {
    return sample.Path();
}

void SetFileCounters(benchmark::State& state) {
    state.counters["lines"] = kLines;
    state.counters["MB"] = static_cast<double>(std::filesystem::file_size(SamplePath())) / 1e6;
}

void BM_Load(benchmark::State& state) {
    for (auto _ : state) {
        quorvane::TNativeXmlOMB xml("RemisesAchat");
        xml.LoadFromFile(SamplePath());
        benchmark::DoNotOptimize(xml.Root().IsValid());
    }
    SetFileCounters(state);
}

// What the integration does: every attribute of every line, in order.
void BM_LoadAndVisitAllAttributes(benchmark::State& state) {
    for (auto _ : state) {
        quorvane::TNativeXmlOMB xml("RemisesAchat");
        xml.LoadFromFile(SamplePath());
        auto lignes = xml.Root().FindChild("Lignes");
        quorvane::TXMLNodeListOMB lines;
        lignes->ChildrenByName("Ligne", lines);
        std::size_t bytes = 0;
        for (int i = 0; i < lines.Count(); ++i) {
            lines.Item(i)->ForEachAttribute([&](std::string_view name, std::string_view value) {
                bytes += name.size() + value.size();
            });
        }
        benchmark::DoNotOptimize(bytes);
        if (lines.Count() != kLines) {
            state.SkipWithError("wrong line count");
        }
    }
    SetFileCounters(state);
}

// The same values fetched one by one by name, as a category step reads its own attributes.
void BM_LoadAndReadEveryAttributeByName(benchmark::State& state) {
    for (auto _ : state) {
        quorvane::TNativeXmlOMB xml("RemisesAchat");
        xml.LoadFromFile(SamplePath());
        auto lignes = xml.Root().FindChild("Lignes");
        quorvane::TXMLNodeListOMB lines;
        lignes->ChildrenByName("Ligne", lines);
        std::size_t bytes = 0;
        for (int i = 0; i < lines.Count(); ++i) {
            for (const char* name : kNames) {
                bytes += lines.Item(i)->ReadAttribute(name, "").size();
            }
        }
        benchmark::DoNotOptimize(bytes);
    }
    SetFileCounters(state);
}

BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadAndVisitAllAttributes)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadAndReadEveryAttributeByName)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
