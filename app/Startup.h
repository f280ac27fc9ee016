#pragma once

#include "app/CommandLine.h"
#include "base/ProgramPaths.h"

namespace quorvane {

// The title every window of the program carries in the task bar.
inline constexpr const char* kApplicationTitle = "Quorvane - Synchronisation Client";

// Chooses Qt's offscreen platform when there is no display to show windows on, so that a
// scheduled run still synchronizes and ends by itself. Must run before QApplication exists.
void ChoosePlatformWhenHeadless();

// What every window is laid out for: the form font and the style.
void ApplyApplicationLook();

// The whole start-up after QApplication exists: database environment, style, title, the one
// main window and its loop, over the program folder given, for the window mode the command line
// chose. Returns the process's exit code, 0
// on every path.
int RunProgram(StartMode mode, const ProgramPaths& paths);

}  // namespace quorvane
