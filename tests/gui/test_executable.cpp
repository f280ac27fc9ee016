#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace quorvane::testing {
namespace {

// Starts a copy of the real program in its own folder (it finds its settings next to itself),
// without a display and with a stand-in xdg-open that records what it is asked to open.
struct ProgramRun {
    int exitCode = -1;
    double seconds = 0;
};

// A display announced to the program while it still draws offscreen: what a desktop session
// looks like to it, without a server.
const std::string kAnnouncedDisplay = "DISPLAY=:quorvane-essai QT_QPA_PLATFORM=offscreen";

// With asJournal, the program's standard error (out.txt) is announced as the journal stream,
// as systemd announces the stream it hands a service. `display` is put into the environment,
// which has none otherwise.
ProgramRun RunProgramIn(const TempDir& dir, const std::string& arguments = "",
                        bool asJournal = false, const std::string& display = "") {
    const auto program = dir.Path() / "QuorvaneClient";
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient", program,
                               std::filesystem::copy_options::overwrite_existing);
    WriteViewerStandIn(dir.Path() / "bin", dir.Path() / "opened.txt");
    WriteFile(dir.Path() / "out.txt", "");
    std::string journal = "-u JOURNAL_STREAM";
    if (asJournal) {
        struct stat status {};
        EXPECT_EQ(::stat((dir.Folder() + "out.txt").c_str(), &status), 0);
        journal =
            "JOURNAL_STREAM=" + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    }
    const std::string command = "cd '" + dir.Folder() + "' && env -u DISPLAY -u WAYLAND_DISPLAY " +
                                "-u QT_QPA_PLATFORM " + journal + " " + display + " PATH='" +
                                dir.Folder() + "bin':\"$PATH\" " + "timeout 120 ./QuorvaneClient " +
                                arguments + " >> out.txt 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(Executable, RunWithoutSettingsReportsOpensAndEndsByItself) {
    TempDir dir;
    const ProgramRun run = RunProgramIn(dir, "", true, kAnnouncedDisplay);
    EXPECT_EQ(run.exitCode, 0);
    // One second before the run, thirty of countdown.
    EXPECT_GE(run.seconds, 30.0);
    EXPECT_LT(run.seconds, 60.0);
    const std::string report = ReadFile(dir.Path() / "QuorvaneClientAutoLog.html");
    EXPECT_NE(report.find("Il y a eu 1 erreurs"), std::string::npos);
    EXPECT_NE(report.find("[Fonction FormCreate()] Erreur le fichier " + dir.Folder() +
                          "QuorvaneClient.ini est introuvable ou est inaccessible."),
              std::string::npos);
    // xdg-open is detached; give it a moment to write.
    for (int i = 0; i < 50 && !std::filesystem::exists(dir.Path() / "opened.txt"); ++i) {
        ::usleep(100000);
    }
    EXPECT_EQ(ReadFile(dir.Path() / "opened.txt"), dir.Folder() + "QuorvaneClientAutoLog.html\n");

    // The journal: start, the entry, the end, each with its priority; Qt's own warnings, if
    // any, come without one and are not counted.
    const std::string journal = ReadFile(dir.Path() / "out.txt");
    const std::string entry = "<3>Erreur (code 0) : [Fonction FormCreate()] Erreur le fichier " +
                              dir.Folder() +
                              "QuorvaneClient.ini est introuvable ou est inaccessible.\n";
    const std::string lines =
        "<6>Début de la synchronisation : QuorvaneClient " QUORVANE_VERSION
        ", aucun mode de récupération, catégories : aucune\n" +
        entry + "<5>Fin de la synchronisation : aucune catégorie ; 1 erreur, rapport " +
        dir.Folder() + "QuorvaneClientAutoLog.html\n";
    EXPECT_NE(journal.find(lines), std::string::npos) << journal;
    // Qt's own messages, when there are any, carry a priority too.
    std::istringstream each(journal);
    for (std::string line; std::getline(each, line);) {
        EXPECT_TRUE(line.size() > 3 && line[0] == '<' && line[2] == '>') << line;
    }

    // The status file beside the report.
    const auto status = nlohmann::json::parse(ReadFile(dir.Path() / "QuorvaneClientStatus.json"));
    EXPECT_EQ(status["version"], QUORVANE_VERSION);
    EXPECT_TRUE(status["mode"].is_null());
    EXPECT_EQ(status["entryCount"], 1);
    EXPECT_EQ(status["entries"][0]["code"], 0);
    EXPECT_EQ(status["entries"][0]["text"],
              "[Fonction FormCreate()] Erreur le fichier " + dir.Folder() +
                  "QuorvaneClient.ini est introuvable ou est inaccessible.");
    EXPECT_EQ(status["report"], dir.Folder() + "QuorvaneClientAutoLog.html");
    for (const char* key : {"Remise_Achat", "Personnalisation", "Message", "Document"}) {
        EXPECT_EQ(status["categories"][key]["enabled"], false) << key;
    }
}

// Waits for the detached stand-in viewer, then says what it was asked to open.
std::string OpenedAfterRun(const TempDir& dir) {
    for (int i = 0; i < 50 && !std::filesystem::exists(dir.Path() / "opened.txt"); ++i) {
        ::usleep(100000);
    }
    return std::filesystem::exists(dir.Path() / "opened.txt") ? ReadFile(dir.Path() / "opened.txt")
                                                              : std::string();
}

TEST(Executable, HelpAndVersionAnswerAloneAndTouchNothing) {
    TempDir dir;
    EXPECT_EQ(RunProgramIn(dir, "--help").exitCode, 0);
    const std::string usage = ReadFile(dir.Path() / "out.txt");
    EXPECT_NE(usage.find("CONFIG"), std::string::npos) << usage;
    EXPECT_NE(usage.find("QuorvaneClient.ini"), std::string::npos) << usage;
    EXPECT_EQ(RunProgramIn(dir, "--version").exitCode, 0);
    EXPECT_EQ(ReadFile(dir.Path() / "out.txt"), "QuorvaneClient " QUORVANE_VERSION "\n");
    // Neither a run nor a window: no status, no report, no viewer.
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "QuorvaneClientStatus.json"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "QuorvaneClientAutoLog.html"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "opened.txt"));
}

// "--help x" is two arguments, so a synchronization; without a display its report stays where
// the journal's closing line says.
TEST(Executable, HelpWithAnotherArgumentSynchronizesAndHeadlessHandsNothingToTheDesktop) {
    TempDir dir;
    EXPECT_EQ(RunProgramIn(dir, "--help x").exitCode, 0);
    const std::string output = ReadFile(dir.Path() / "out.txt");
    EXPECT_NE(output.find("Début de la synchronisation"), std::string::npos) << output;
    EXPECT_NE(output.find("rapport " + dir.Folder() + "QuorvaneClientAutoLog.html"),
              std::string::npos)
        << output;
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "QuorvaneClientStatus.json"));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "QuorvaneClientAutoLog.html"));
    EXPECT_EQ(OpenedAfterRun(dir), "");
}

// A real X server: the window is drawn on it and the report handed to the desktop once.
TEST(Executable, UnderADisplayTheReportIsHandedToTheDesktopOnce) {
    if (std::system("command -v Xvfb > /dev/null") != 0) {
        GTEST_SKIP() << "Xvfb is not installed";
    }
    TempDir dir;
    // -displayfd: the server picks a free display and says which once it accepts clients.
    const std::string start = "Xvfb -displayfd 3 -nolisten tcp 3> '" + dir.Folder() +
                              "display.txt' > /dev/null 2>&1 & echo $! > '" + dir.Folder() +
                              "xvfb.pid'";
    ASSERT_EQ(std::system(start.c_str()), 0);
    std::string display;
    for (int i = 0; i < 300 && display.empty(); ++i) {
        ::usleep(100000);
        if (std::filesystem::exists(dir.Path() / "display.txt")) {
            std::istringstream(ReadFile(dir.Path() / "display.txt")) >> display;
        }
    }
    const ProgramRun run =
        display.empty() ? ProgramRun{} : RunProgramIn(dir, "", false, "DISPLAY=:" + display);
    const std::string stop = "kill $(cat '" + dir.Folder() + "xvfb.pid')";
    EXPECT_EQ(std::system(stop.c_str()), 0);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    EXPECT_EQ(run.exitCode, 0) << ReadFile(dir.Path() / "out.txt");
    EXPECT_EQ(OpenedAfterRun(dir), dir.Folder() + "QuorvaneClientAutoLog.html\n");
}

}  // namespace
}  // namespace quorvane::testing
