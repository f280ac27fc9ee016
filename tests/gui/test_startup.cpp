#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>

#include "app/Startup.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace quorvane::testing {
namespace {

TEST(Startup, OnlyTheSingleWordConfigInAnyCaseOpensTheConfiguration) {
    const auto mode = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "QuorvaneClient");
        return ReadCommandLine(arguments);
    };
    EXPECT_EQ(mode({"CONFIG"}), StartMode::Configuration);
    EXPECT_EQ(mode({"config"}), StartMode::Configuration);
    EXPECT_EQ(mode({"CoNfIg"}), StartMode::Configuration);
    EXPECT_EQ(mode({}), StartMode::Synchronization);
    EXPECT_EQ(mode({"CONFIG", "x"}), StartMode::Synchronization);
    EXPECT_EQ(mode({"/CONFIG"}), StartMode::Synchronization);
    EXPECT_EQ(mode({"-config"}), StartMode::Synchronization);
    EXPECT_EQ(mode({"CONFIGURATION"}), StartMode::Synchronization);
    // The options count alone and exactly, as the word does.
    EXPECT_EQ(mode({"--help"}), StartMode::Help);
    EXPECT_EQ(mode({"--version"}), StartMode::Version);
    EXPECT_EQ(mode({"--help", "x"}), StartMode::Synchronization);
    EXPECT_EQ(mode({"--HELP"}), StartMode::Synchronization);
    EXPECT_EQ(mode({"-h"}), StartMode::Synchronization);
}

// Qt's own options count as arguments: with one after it, CONFIG opens the synchronization
// window, whose run writes its report (no settings file) a second after the start.
TEST(Startup, QtOptionsAfterConfigMakeItASynchronization) {
    TempDir dir;
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient",
                               dir.Path() / "QuorvaneClient");
    const std::string command =
        "cd '" + dir.Folder() +
        "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 4 "
        "./QuorvaneClient CONFIG -reverse > out.txt 2>&1";
    // timeout ends the run: its status is timeout's; only a shell that never started counts.
    const int status = std::system(command.c_str());
    EXPECT_NE(status, -1);
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "QuorvaneClientAutoLog.html"));
}

// A refused directory in ombbde.ini: one warning, then the program ends at once with exit code
// 0, before any window (so no run, no report, no countdown).
TEST(Startup, RefusedDatabaseDirectoryWarnsOnceAndEndsWithoutAWindow) {
    TempDir dir;
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient",
                               dir.Path() / "QuorvaneClient");
    WriteFile(dir.Path() / "QuorvaneClient.ini", "[Setup]\r\nDir=" + dir.Folder() + "store\r\n");
    WriteFile(dir.Path() / "store" / "ombbde.ini",
              "[Alias]\r\nOmbrelin=" + dir.Folder() + "absent\r\n");
    const std::string command =
        "cd '" + dir.Folder() +
        "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 60 "
        "./QuorvaneClient > out.txt 2> err.txt";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    const std::string err = ReadFile(dir.Path() / "err.txt");
    const std::string warning =
        "Avertissement : Répertoire Ombrelin non valide : " + dir.Folder() + "absent\n";
    EXPECT_NE(err.find(warning), std::string::npos) << err;
    EXPECT_EQ(err.find("Avertissement", err.find(warning) + 1), std::string::npos)
        << "one warning only";
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "QuorvaneClientAutoLog.html"));
}

}  // namespace
}  // namespace quorvane::testing
