#pragma once

#include "base/ProgramPaths.h"

namespace quorvane {

// The exit code of a dry run refused because a run holds the program folder's lock: apart from
// 1, which says that the run would have written entries.
inline constexpr int kExitRunInProgress = 2;

// --dry-run: a whole run with the saved settings, fetched into a private temporary folder and
// rolled back; its counts and entries on standard output. 0 without entries, 1 with.
int DryRun(const ProgramPaths& paths);

// --check-connection: the FTP settings window's connection test with the saved account; its
// message on standard output. 0 when the connection was established, 1 otherwise.
int CheckConnection(const ProgramPaths& paths);

}  // namespace quorvane
