#pragma once

#include <functional>

#include "base/ProgramPaths.h"
#include "sync/report/RunSummary.h"

namespace quorvane {

// The exit code of a dry run refused because a run holds the program folder's lock: apart from
// 1, which says that the run would have written entries.
inline constexpr int kExitRunInProgress = 2;

// --dry-run: a whole run with the saved settings, fetched into a private temporary folder and
// rolled back; its counts and entries on standard output. 0 without entries, 1 with.
int DryRun(const ProgramPaths& paths);

// --unattended: the run of the synchronization window with no window, no countdown and no
// report handed to the desktop, for the package's services. 0 without entries, 1 with (the
// report is written), kExitRunInProgress when another run holds the lock (nothing touched).
// atEnd, when given, is called with the run's summary once the run has told the system.
int Unattended(const ProgramPaths& paths,
               std::function<void(const RunSummary& summary)> atEnd = nullptr);

// --check-connection: the FTP settings window's connection test with the saved account; its
// message on standard output. 0 when the connection was established, 1 otherwise.
int CheckConnection(const ProgramPaths& paths);

}  // namespace quorvane
