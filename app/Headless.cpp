#include "app/Headless.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <variant>

#include "base/IniFile.h"
#include "config/settings/ServiceCredential.h"
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

// The lock, the database environment and the run, as the synchronization window takes them;
// the summary of the run, or the exit code of a start refused before it.
std::variant<RunSummary, int> LockedRun(const ProgramPaths& paths, RunOptions options) {
    // Taken as a run takes it: a dry run and a run never see each other's half-done work.
    const RunLock lock = RunLock::TakeFile(paths.CheminVerrou);
    if (lock.Refused()) {
        std::fprintf(stderr, "%s\n", kSynchronisationEnCours);
        return kExitRunInProgress;
    }
    if (!PrepareDatabaseEnvironment(paths)) {
        return 1;
    }
    SynchronizationRun run(paths, std::move(options));
    run.Run();
    return run.Summary();
}

}  // namespace

int DryRun(const ProgramPaths& paths) {
    RunOptions options;
    options.DryRun = true;
    const auto result = LockedRun(paths, std::move(options));
    if (const int* refused = std::get_if<int>(&result)) {
        return *refused;
    }
    const RunSummary& summary = std::get<RunSummary>(result);
    return Print(DryRunText(summary), summary.Entrees.empty() ? 0 : 1);
}

int Unattended(const ProgramPaths& paths, std::function<void(const RunSummary& summary)> atEnd) {
    RunOptions options;
    // Nobody watches: the report stays in the program folder, named by the journal's closing
    // line, and the exit code tells the service manager how the run went.
    options.OpenReport = nullptr;
    options.AtEnd = std::move(atEnd);
    const auto result = LockedRun(paths, std::move(options));
    if (const int* refused = std::get_if<int>(&result)) {
        return *refused;
    }
    return std::get<RunSummary>(result).Entrees.empty() ? 0 : 1;
}

int CheckConnection(const ProgramPaths& paths) {
    const auto account = settings::ReadFtpAccountForRun(paths.CheminIni, settings::kFtpSection);
    if (!account) {
        return Print(
            "Erreur le fichier " + paths.CheminIni + " est introuvable ou est inaccessible.\n", 1);
    }
    const FtpSecuritySettings security = FtpSecuritySettings::Of(account);
    FtpClient client;
    const auto stored = settings::ReadMainSettings(paths.CheminIni);
    const std::string cle = stored ? stored->ClePublique : std::string();
    ConnectionTestResult manifeste{true, {}, {}};
    std::string files;
    bool complete = true;
    const ConnectionTestResult result = TesterConnexionFtp(
        client, {account->Host, account->Login, account->Mdp, account->Port, security},
        [&](const ConnectionTestResult& connection) {
            if (!connection.Etablie) {
                return;
            }
            files = FichiersDuServeur(client, complete);
            if (!cle.empty()) {
                manifeste = TesterManifeste(client, paths, cle);
            }
        });
    const std::string verdict = manifeste.Message.empty() ? "" : manifeste.Message + "\n";
    const std::string route = result.Route.empty() ? "" : result.Route + "\n";
    return Print(result.Message + "\n" + route + files + verdict,
                 result.Etablie && complete && manifeste.Etablie ? 0 : 1);
}

}  // namespace quorvane
