#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>

#include "TestSupport.h"

using quorvane::testing::ReadFile;
using quorvane::testing::TempDir;
using quorvane::testing::WriteFile;
using quorvane::testing::WriteViewerStandIn;

namespace {

// Starts a copy of the real program in its own folder (it finds its settings next to itself),
// without a display and with a stand-in xdg-open that records what it is asked to open.
struct ProgramRun {
    int exitCode = -1;
    double seconds = 0;
};

ProgramRun RunProgramIn(const TempDir& dir, const std::string& arguments = "") {
    const auto program = dir.path() / "QuorvaneClient";
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient", program,
                               std::filesystem::copy_options::overwrite_existing);
    WriteViewerStandIn(dir.path() / "bin", dir.path() / "opened.txt");
    const std::string command = "cd '" + dir.folder() + "' && env -u DISPLAY -u WAYLAND_DISPLAY " +
                                "-u QT_QPA_PLATFORM PATH='" + dir.folder() + "bin':\"$PATH\" " +
                                "timeout 120 ./QuorvaneClient " + arguments + " > out.txt 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(Executable, RunWithoutSettingsReportsOpensAndEndsByItself) {
    TempDir dir;
    const ProgramRun run = RunProgramIn(dir);
    EXPECT_EQ(run.exitCode, 0);
    // One second before the run, thirty of countdown.
    EXPECT_GE(run.seconds, 30.0);
    EXPECT_LT(run.seconds, 60.0);
    const std::string report = ReadFile(dir.path() / "QuorvaneClientAutoLog.html");
    EXPECT_NE(report.find("Il y a eu 1 erreurs"), std::string::npos);
    EXPECT_NE(report.find("[Fonction FormCreate()] Erreur le fichier " + dir.folder() +
                          "QuorvaneClient.ini est introuvable ou est inaccessible."),
              std::string::npos);
    // xdg-open is detached; give it a moment to write.
    for (int i = 0; i < 50 && !std::filesystem::exists(dir.path() / "opened.txt"); ++i) {
        ::usleep(100000);
    }
    EXPECT_EQ(ReadFile(dir.path() / "opened.txt"), dir.folder() + "QuorvaneClientAutoLog.html\n");
}

}  // namespace
