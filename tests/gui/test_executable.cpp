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

// With asJournal, the program's standard error (out.txt) is announced as the journal stream,
// as systemd announces the stream it hands a service.
ProgramRun RunProgramIn(const TempDir& dir, const std::string& arguments = "",
                        bool asJournal = false) {
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
                                "-u QT_QPA_PLATFORM " + journal + " PATH='" + dir.Folder() +
                                "bin':\"$PATH\" " + "timeout 120 ./QuorvaneClient " + arguments +
                                " >> out.txt 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(Executable, RunWithoutSettingsReportsOpensAndEndsByItself) {
    TempDir dir;
    const ProgramRun run = RunProgramIn(dir, "", true);
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

}  // namespace
}  // namespace quorvane::testing
