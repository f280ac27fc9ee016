#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "sync/SynchronizationRun.h"
#include "sync/report/RunJournal.h"
#include "sync/report/RunStatusFile.h"

using nlohmann::json;

namespace quorvane::testing {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// A run whose journal goes to a file of its own; optionally that file is announced as the
// journal stream, as systemd announces the stream it hands a service.
class RunStatusTest : public ::testing::Test {
  protected:
    TempDir dir;
    ProgramPaths paths = ProgramPaths::ForFolder(dir.Path().string());
    std::string journalPath = dir.Folder() + "journal.txt";

    ~RunStatusTest() override { ::unsetenv("JOURNAL_STREAM"); }

    void Settings(const std::string& text) { WriteFile(paths.CheminIni, text); }

    std::vector<std::string> Run(bool announceAsJournal) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> journal(
            std::fopen(journalPath.c_str(), "w"), std::fclose);
        if (announceAsJournal) {
            struct stat status {};
            EXPECT_EQ(::fstat(fileno(journal.get()), &status), 0);
            const std::string stream =
                std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
            ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
        }
        RunOptions options;
        options.OpenReport = [](const std::string&) {};
        options.Journal = journal.get();
        SynchronizationRun run(paths, std::move(options));
        run.Run();
        journal.reset();
        return Lines(ReadFile(journalPath));
    }

    json Status() const { return json::parse(ReadFile(paths.CheminStatut)); }
};

TEST_F(RunStatusTest, RunWithErrorsTellsTheJournalWithPrioritiesAndWritesItsStatus) {
    // Purchase conditions arrive but no table can be reached; messages never arrive.
    const std::string source = dir.Folder() + "source/";
    WriteFile(source + "remise_achat.xml", "<?xml version=\"1.0\"?><Racine/>");
    Settings("[Quorvane]\nRemise_Achat=1\nMessage=1\nTypeEnvoi=URI\n[Quorvane_URI]\nURI=" + source +
             "\n");
    std::filesystem::create_directories(paths.RepertoireAuto);

    const auto lines = Run(true);
    ASSERT_GE(lines.size(), 4u) << ReadFile(journalPath);
    EXPECT_EQ(lines.front(), "<6>Début de la synchronisation : QuorvaneClient " QUORVANE_VERSION
                             ", mode URI, catégories : Conditions d'achats, Messages");
    const json status = Status();
    const auto& entries = status["entries"];
    ASSERT_EQ(lines.size(), entries.size() + 2) << ReadFile(journalPath);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(lines[i + 1], "<3>Erreur (code " + std::to_string(entries[i]["code"].get<int>()) +
                                    ") : " + entries[i]["text"].get<std::string>());
    }
    EXPECT_EQ(lines.back(),
              "<5>Fin de la synchronisation : Conditions d'achats téléchargement oui, intégration "
              "non ; Messages téléchargement non, intégration non ; " +
                  std::to_string(entries.size()) + " erreurs, rapport " + paths.CheminRapport);

    EXPECT_EQ(status["version"], QUORVANE_VERSION);
    EXPECT_EQ(status["mode"], "URI");
    // A file that never reached its table is listed with nothing counted.
    // Which bytes the store received is told also for a file that failed, and nothing for a
    // file this run did not fetch.
    const auto unread = [](const char* file, const char* table, json size = nullptr,
                           json sha256 = nullptr) {
        return json{{"file", file}, {"table", table},  {"read", false}, {"lines", 0},
                    {"deleted", 0}, {"inserted", 0},   {"refused", 0},  {"refusedNotListed", 0},
                    {"size", size}, {"sha256", sha256}};
    };
    EXPECT_EQ(status["categories"]["Remise_Achat"],
              (json{{"enabled", true},
                    {"downloaded", true},
                    {"integrated", false},
                    {"files",
                     json::array({unread(
                         "remise_achat.xml", "REMISES.DB", 30,
                         "1d9652cb65d1072697b107654613d6b79bacc7042699cdb3e9dd43813603cb47")})}}));
    EXPECT_EQ(status["retries"], 0);
    EXPECT_EQ(status["categories"]["Message"],
              (json{{"enabled", true},
                    {"downloaded", false},
                    {"integrated", false},
                    {"files", json::array({unread("message.xml", "Message.DB"),
                                           unread("message_type.xml", "MessageType.DB")})}}));
    EXPECT_EQ(status["categories"]["Document"], (json{{"enabled", false},
                                                      {"downloaded", false},
                                                      {"integrated", false},
                                                      {"files", json::array()}}));
    EXPECT_EQ(status["entryCount"], entries.size());
    EXPECT_EQ(entries[0]["text"].get<std::string>().rfind("[Fonction IntegrerRemiseAchat] ", 0),
              0u);
    EXPECT_EQ(status["report"], paths.CheminRapport);
    EXPECT_TRUE(std::filesystem::exists(paths.CheminRapport));
    // Times as ISO 8601 with their offset, in order.
    const std::string start = status["start"];
    const std::string end = status["end"];
    EXPECT_EQ(start.size(), std::string("2026-12-08T06:30:01+01:00").size()) << start;
    EXPECT_EQ(start[10], 'T');
    EXPECT_LE(start.substr(0, 19), end.substr(0, 19));
    EXPECT_LE(start.substr(0, 19), entries[0]["time"].get<std::string>().substr(0, 19));
    // Nothing else beside the report and the status.
    for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(item.path().string().find(".partiel-"), std::string::npos) << item.path();
    }
}

TEST_F(RunStatusTest, RunWithoutErrorsStillWritesItsStatusAndStaysPlainOffTheJournal) {
    Settings("[Quorvane]\nTypeEnvoi=FTP\n");
    std::filesystem::create_directories(paths.RepertoireAuto);
    // A status left by an earlier run is replaced.
    WriteFile(paths.CheminStatut, "{\"entryCount\": 3}");
    // Announced stream, but the run's journal is another file: no prefixes.
    ::setenv("JOURNAL_STREAM", "1:1", 1);
    const auto lines = Run(false);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Début de la synchronisation : QuorvaneClient " QUORVANE_VERSION
                         ", mode FTP, catégories : aucune",
                         "Fin de la synchronisation : aucune catégorie ; aucune erreur"}));
    const json status = Status();
    EXPECT_EQ(status["entryCount"], 0);
    EXPECT_EQ(status["entries"], json::array());
    EXPECT_TRUE(status["report"].is_null());
    EXPECT_EQ(status["mode"], "FTP");
    EXPECT_FALSE(std::filesystem::exists(paths.CheminRapport));
}

TEST_F(RunStatusTest, StatusThatCannotBeReplacedIsToldToTheJournalBeforeTheClosingLine) {
    // No settings: mode null. The status path is taken by a folder the rename cannot replace.
    std::filesystem::create_directories(paths.CheminStatut + "/occupied");
    const auto lines = Run(true);
    ASSERT_EQ(lines.size(), 4u) << ReadFile(journalPath);
    EXPECT_EQ(lines[0], "<6>Début de la synchronisation : QuorvaneClient " QUORVANE_VERSION
                        ", aucun mode de récupération, catégories : aucune");
    EXPECT_EQ(lines[1].rfind("<3>Erreur (code 0) : [Fonction FormCreate()] Erreur le fichier ", 0),
              0u);
    EXPECT_EQ(lines[2].rfind("<3>Le fichier d'état n'a pas pu être écrit : Impossible de remplacer "
                             "le fichier " +
                                 paths.CheminStatut,
                             0),
              0u)
        << lines[2];
    EXPECT_EQ(lines[3], "<5>Fin de la synchronisation : aucune catégorie ; 1 erreur, rapport " +
                            paths.CheminRapport);
    EXPECT_TRUE(std::filesystem::is_directory(paths.CheminStatut));
    for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(item.path().string().find(".partiel-"), std::string::npos) << item.path();
    }
}

TEST(RunJournalTest, OneEntryIsOneLineWhateverItsText) {
    ErrorEntry entry{
        "[Fonction LancerTransfertFtp() section : Quorvane_FTP] 530 Login\r\nrefusé\t!", 0, 0};
    EXPECT_EQ(RunJournal::LigneEntree(entry),
              "Erreur (code 0) : [Fonction LancerTransfertFtp() section : Quorvane_FTP] 530 Login  "
              "refusé !");
}

TEST(RunJournalTest, OnlyTheAnnouncedStreamIsTheJournal) {
    TempDir dir;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen((dir.Folder() + "x").c_str(), "w"), std::fclose);
    struct stat status {};
    ASSERT_EQ(::fstat(fileno(file.get()), &status), 0);
    const std::string exact = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    for (const auto& [value, expected] : std::vector<std::pair<std::string, bool>>{
             {exact, true},
             {std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino + 1), false},
             {exact + "x", false},
             {":" + std::to_string(status.st_ino), false},
             {"", false}}) {
        ::setenv("JOURNAL_STREAM", value.c_str(), 1);
        EXPECT_EQ(RunJournal::IsJournalStream(fileno(file.get())), expected) << value;
    }
    ::unsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(RunJournal::IsJournalStream(fileno(file.get())));
}

TEST(RunStatusFileTest, TimesCarryTheirOffsetFromUtc) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved != nullptr ? saved : "";
    // 2026-12-08 05:30:01 UTC and 2026-07-01 12:00:00 UTC.
    const std::time_t winter = 1796707801;
    const std::time_t summer = 1782907200;
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    EXPECT_EQ(Iso8601Local(winter), "2026-12-08T06:30:01+01:00");
    EXPECT_EQ(Iso8601Local(summer), "2026-07-01T14:00:00+02:00");
    ::setenv("TZ", "<-0330>3:30", 1);
    ::tzset();
    EXPECT_EQ(Iso8601Local(winter), "2026-12-08T02:00:01-03:30");
    if (saved != nullptr) {
        ::setenv("TZ", previous.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

TEST(RunStatusFileTest, TextsThatAreNotUtf8DoNotLoseTheFile) {
    RunSummary summary;
    summary.Entrees.push_back({"fichier \xE9t\xE9.xml absent", 0, 0});
    const json status = json::parse(StatutJson(summary));
    EXPECT_EQ(status["entries"][0]["text"], "fichier \xEF\xBF\xBDt\xEF\xBF\xBD.xml absent");
}

}  // namespace
}  // namespace quorvane::testing
