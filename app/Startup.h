#pragma once

#include <QStringList>

#include "config/base/ProgramPaths.h"

namespace quorvane {

// The title every window of the program carries in the task bar.
inline constexpr const char* kApplicationTitle = "Quorvane - Synchronisation Client";

// Exactly one argument whose upper-case form is "CONFIG" opens the configuration window;
// any other command line opens the synchronization window.
bool WantsConfiguration(const QStringList& arguments);

// Chooses Qt's offscreen platform when there is no display to show windows on, so that a
// scheduled run still synchronizes and ends by itself. Must run before QApplication exists.
void ChoosePlatformWhenHeadless();

// What every window is laid out for: the form font and the style.
void ApplyApplicationLook();

// The whole start-up after QApplication exists: database environment, style, title, the one
// main window and its loop, over the program folder given. Returns the process's exit code, 0
// on every path.
int RunProgram(const QStringList& arguments, const ProgramPaths& paths);

}  // namespace quorvane
