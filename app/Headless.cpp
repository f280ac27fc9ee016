#include "app/Headless.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/IniFile.h"
#include "config/settings/Settings.h"
#include "database/Fonctionsbde.h"
#include "sync/RunLock.h"
#include "sync/SynchronizationRun.h"
#include "sync/retrieval/ConnectionTest.h"

namespace quorvane {
namespace {

int Print(const std::string& text, int code) {
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? code : 1;
}

// As the run's start-up reads ombbde.ini, with its refusals on standard error.
bool PrepareDatabaseEnvironment(const ProgramPaths& paths) {
    return PrepareBdeEnvironment(
        paths, [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
}

}  // namespace

int DryRun(const ProgramPaths& paths) {
    // Taken as a run takes it: a dry run and a run never see each other's half-done work.
    const RunLock lock = RunLock::Take(paths.RepertoireProgramme);
    if (lock.HeldByAnotherRun()) {
        std::fprintf(stderr, "%s\n", kSynchronisationEnCours);
        return kExitRunInProgress;
    }
    if (!PrepareDatabaseEnvironment(paths)) {
        return 1;
    }
    RunOptions options;
    options.DryRun = true;
    SynchronizationRun run(paths, std::move(options));
    run.Run();
    const RunSummary summary = run.Summary();
    return Print(DryRunText(summary), summary.Entrees.empty() ? 0 : 1);
}

int CheckConnection(const ProgramPaths& paths) {
    const auto account = settings::ReadFtpAccount(paths.CheminIni, settings::kFtpSection);
    if (!account) {
        return Print(
            "Erreur le fichier " + paths.CheminIni + " est introuvable ou est inaccessible.\n", 1);
    }
    const FtpSecuritySettings security = FtpSecuritySettings::Of(account);
    FtpClient client;
    const ConnectionTestResult result = TesterConnexionFtp(
        client, {account->Host, account->Login, account->Mdp, account->Port, security});
    return Print(result.Message + "\n" + (result.Route.empty() ? "" : result.Route + "\n"),
                 result.Etablie ? 0 : 1);
}

}  // namespace quorvane
