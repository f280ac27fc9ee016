#pragma once

#include <string>
#include <vector>

namespace quorvane {

// What one start of the program does, read once from its command line.
enum class StartMode {
    Synchronization,  // no argument, or any command line not listed below
    Configuration,    // the single word CONFIG, in any letter case
    Help,             // --help alone: the usage on standard output
    Version,          // --version alone: the version on standard output
    DryRun,           // --dry-run alone: a run that changes nothing, told on standard output
    CheckConnection,  // --check-connection alone: the FTP connection test of the saved account
    Unattended,       // --unattended alone: the run without a window, told by its exit code
};

// arguments[0] is the program itself and is not looked at. The options are matched exactly
// and only alone: "--help x" is two arguments, and so a synchronization, as "CONFIG x" is.
StartMode ReadCommandLine(const std::vector<std::string>& arguments);

// Whether the mode is answered on standard output without a window, a run or a file written.
bool AnsweredWithoutWindow(StartMode mode);

// Whether the mode works without a window and answers on standard output, after looking at the
// program folder and its settings.
bool RunsHeadless(StartMode mode);

// The short French usage printed by --help.
std::string UsageText();

// "QuorvaneClient 1.0.0.0", as --version prints it.
std::string VersionText();

}  // namespace quorvane
