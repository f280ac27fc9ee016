// A whole synchronization run over FTP: the demo store's six head-office files fetched from a
// pyftpdlib server on 127.0.0.1 (one login, a size query and an ASCII download per file) and
// integrated into the demo tables. The files are small, so the time is the session's: what the
// client waits for between commands shows here first.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/FtpServers.h"
#include "support/StoreFixture.h"
#include "sync/SynchronizationRun.h"

namespace {

using quorvane::RunOptions;
using quorvane::SynchronizationRun;
using quorvane::testing::FtpTestServer;
using quorvane::testing::ReadFile;
using quorvane::testing::StoreFixture;
using quorvane::testing::WriteFile;

void WholeFtpRun(benchmark::State& state) {
    StoreFixture store{StoreFixture::Tables::Demo};
    FtpTestServer server;
    for (const char* name : {"remise_achat.xml", "personnalisation.xml", "message.xml",
                             "message_type.xml", "mes_docs.xml", "mes_docs_type.xml"}) {
        server.PutFile(name,
                       ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/" + name));
    }
    WriteFile(store.Paths().CheminIni,
              "[Quorvane]\nRemise_Achat=1\nPersonnalisation=1\nMessage=1\nDocument=1\n"
              "TypeEnvoi=FTP\n[Quorvane_FTP]\nLogin=" +
                  server.User() + "\nMdp=" + server.Password() +
                  "\nHost=127.0.0.1\nPort=" + std::to_string(server.Port()) + "\n");
    for (auto _ : state) {
        RunOptions options;
        options.OpenReport = [](const std::string&) {};
        SynchronizationRun run(store.Paths(), std::move(options));
        run.Run();
        if (run.State().Erreurs.Count() != 0) {
            state.SkipWithError(run.State().Erreurs.Entries().front().Texte.c_str());
            break;
        }
    }
}
// One run per repetition: a wait of the client shows in the maximum, not only in the mean.
BENCHMARK(WholeFtpRun)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(30)
    ->ReportAggregatesOnly(true)
    ->ComputeStatistics("max", [](const std::vector<double>& v) {
        return *std::max_element(v.begin(), v.end());
    });

}  // namespace

BENCHMARK_MAIN();
