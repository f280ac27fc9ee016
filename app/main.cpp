#include <malloc.h>

#include <QApplication>

#include <clocale>

#include "app/StandardErrorPriorities.h"
#include "app/Startup.h"

// The version record, readable with `strings QuorvaneClient` on a store machine; the package
// carries the same number.
[[gnu::used]] static const char kVersionRecord[] = "QuorvaneClient " QUORVANE_VERSION;

int main(int argc, char* argv[]) {
    // Large head-office documents free millions of small blocks at once; without fast bins the
    // allocator does not pay for merging them on the next large allocation.
    mallopt(M_MXFAST, 0);
    quorvane::InstallQtMessagePriorities();
    quorvane::ChoosePlatformWhenHeadless();
    // Taken before Qt removes the options it knows (-platform, -style, ...): "CONFIG -style x"
    // is two arguments, and opens the synchronization window.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    QApplication application(argc, argv);
    std::setlocale(LC_ALL, "");
#ifdef QUORVANE_PROGRAM_FOLDER
    // The installed program keeps its files in a folder of its own, apart from itself.
    const auto paths = quorvane::ProgramPaths::ForFolder(QUORVANE_PROGRAM_FOLDER);
#else
    const auto paths = quorvane::ProgramPaths::OfRunningProgram();
#endif
    return quorvane::RunProgram(arguments, paths);
}
