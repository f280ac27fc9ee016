#include <malloc.h>
#include <unistd.h>

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/Startup.h"
#include "sync/RunOutcomeText.h"
#include "ui/RunNotification.h"
#include "ui/StandardErrorPriorities.h"
#include "ui/StyleManager.h"

// The version record, readable with `strings QuorvaneClient` on a store machine; the package
// carries the same number.
[[gnu::used]] static const char kVersionRecord[] = "QuorvaneClient " QUORVANE_VERSION;

namespace {

quorvane::ProgramPaths ProgramFolder() {
#ifdef QUORVANE_PROGRAM_FOLDER
    // The installed program keeps its files in a folder of its own, apart from itself, and its
    // run lock in a folder only root may write, out of the members' reach.
    auto paths = quorvane::ProgramPaths::ForFolder(QUORVANE_PROGRAM_FOLDER);
#ifdef QUORVANE_LOCK_FILE
    paths.CheminVerrou = QUORVANE_LOCK_FILE;
#endif
    return paths;
#else
    return quorvane::ProgramPaths::OfRunningProgram();
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    // Large head-office documents free millions of small blocks at once; without fast bins the
    // allocator does not pay for merging them on the next large allocation.
    mallopt(M_MXFAST, 0);
    // Taken before Qt removes the options it knows (-platform, -style, ...): "CONFIG -style x"
    // is two arguments, and opens the synchronization window.
    const std::vector<std::string> arguments(argv, argv + argc);
    const quorvane::StartMode mode = quorvane::ReadCommandLine(arguments);
    if (quorvane::AnsweredWithoutWindow(mode)) {
        // Answered before any display, settings or folder is looked at.
        const std::string text =
            mode == quorvane::StartMode::Help ? quorvane::UsageText() : quorvane::VersionText();
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
#ifdef QUORVANE_PROGRAM_FOLDER
    if (::geteuid() == 0) {
        // Files root made in the shared folder would be out of the store users' reach, and a
        // root run would follow whatever one of them put there.
        std::fputs(
            "QuorvaneClient ne s'exécute pas en tant que root : lancez-le sous un utilisateur du "
            "groupe quorvane (par exemple avec l'unité quorvane-client@<utilisateur>).\n",
            stderr);
        return 1;
    }
#endif
    if (quorvane::RunsHeadless(mode)) {
        std::setlocale(LC_ALL, "");
        const auto headlessPaths = ProgramFolder();
        switch (mode) {
            case quorvane::StartMode::DryRun:
                return quorvane::DryRun(headlessPaths);
            case quorvane::StartMode::Unattended:
                // The one place where what a scheduled run ends with may also be told to
                // whoever sits at the store's desktop.
                return quorvane::Unattended(headlessPaths, [](const quorvane::RunSummary& summary) {
                    if (!summary.Entrees.empty()) {
                        quorvane::NotifyRunOutcome(
                            QString::fromStdString(quorvane::ResumeFinDeRun(summary)),
                            QString::fromStdString(summary.Rapport.value_or(std::string())));
                    }
                });
            default:
                return quorvane::CheckConnection(headlessPaths);
        }
    }
    quorvane::InstallQtMessagePriorities();
    quorvane::ChoosePlatformWhenHeadless();
    quorvane::StyleManager::IgnoreDesktopLook();
    QApplication application(argc, argv);
    std::setlocale(LC_ALL, "");
    const auto paths = ProgramFolder();
    return quorvane::RunProgram(mode, paths);
}
