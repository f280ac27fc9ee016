#include <gtest/gtest.h>

#include "log/TFichierLog.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "sync/report/RunReport.h"

namespace quorvane::testing {
namespace {

std::tm Moment(int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

const std::string kSep(75, '-');

TEST(RunReport, OneEntryByteForByte) {
    TempDir dir;
    const std::string path = dir.Folder() + "QuorvaneClientAutoLog.html";
    ListeErreurs erreurs;
    erreurs.Ajouter("[Fonction FormCreate()] Impossible de supprimer le fichier log précédent /x",
                    0);
    EcrireRapport(path, erreurs, [] { return Moment(9, 5, 7); });
    EXPECT_EQ(ReadFile(path),
              kSep +
                  "\r\n<div class=\"messages\">\r\n"
                  "<div class=\"message\">Il y a eu 1 erreurs au cour de la synchronisation de la "
                  "Quorvane client.</div>\r\n"
                  "<div class=\"message\" code=\"0\" heure=\"2026-01-05 09:05:07\">[Fonction "
                  "FormCreate()] Impossible de supprimer le fichier log pr\xe9\x63\xe9\x64\x65nt "
                  "/x</div>\r\n</div>\r\n" +
                  kSep + "\r\n");
}

TEST(RunReport, SeveralEntriesStampedWhenWrittenAndReplacingOldContent) {
    TempDir dir;
    const std::string path = dir.Folder() + "r.html";
    WriteFile(path, std::string(10000, 'x'));
    ListeErreurs erreurs;
    erreurs.Ajouter("premier", 0);
    erreurs.Ajouter("téléchargement", 1);
    int calls = 0;
    EcrireRapport(path, erreurs, [&] { return Moment(23, 59, 50 + calls++); });
    const std::string report = ReadFile(path);
    EXPECT_EQ(report.find('x'), std::string::npos);
    EXPECT_NE(report.find("Il y a eu 2 erreurs"), std::string::npos);
    EXPECT_NE(report.find("<div class=\"message\" code=\"0\" heure=\"2026-01-05 23:59:50\">premier"
                          "</div>\r\n<div class=\"message\" code=\"1\" heure=\"2026-01-05 "
                          "23:59:51\">t\xe9l\xe9\x63hargement</div>\r\n"),
              std::string::npos);
    // Seven lines for two entries, no byte-order mark.
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 7);
    EXPECT_EQ(report.rfind(kSep, 0), 0u);
}

TEST(RunReport, MarkupFromOutsideIsEscaped) {
    const std::string line = LigneRapport("<script>alert(\"x\")</script> & co", 1, Moment(1, 2, 3));
    EXPECT_EQ(line,
              "<div class=\"message\" code=\"1\" heure=\"2026-01-05 01:02:03\">&lt;script&gt;"
              "alert(&quot;x&quot;)&lt;/script&gt; &amp; co</div>");
}

TEST(FichierLog, AppendsToTheExistingFileOnly) {
    TempDir dir;
    const TFichierLog log(dir.Folder() + "a.txt");
    EXPECT_THROW(log.AjouterLigne("x"), FileWriteError);  // not created yet
    log.Creer();
    log.AjouterLigne("un");
    log.AjouterLigne("deux");
    EXPECT_EQ(ReadFile(dir.Path() / "a.txt"), "un\r\ndeux\r\n");
    log.Creer();
    EXPECT_EQ(ReadFile(dir.Path() / "a.txt"), "");
    const TFichierLog blocked(dir.Folder() + "missing/a.txt");
    EXPECT_THROW(blocked.Creer(), FileWriteError);
}

}  // namespace
}  // namespace quorvane::testing
