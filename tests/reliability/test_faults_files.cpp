// Whole runs where the file system does not cooperate: a download folder that cannot take the
// files, source files that are not files, an unreadable settings file, and a program folder
// where the report cannot be written (the real program, which must still count down and end).
// The tests may run as root, where permission bits stop nothing: the faults are then made of
// things root cannot get past either (a directory where a file should be, a dangling link).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "base/IniFile.h"
#include "base/TextConversion.h"
#include "support/StoreFixture.h"
#include "sync/SynchronizationRun.h"

namespace quorvane::testing {
namespace {

const std::string kDemo = std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/";

std::string Absent(const std::string& name) {
    return "[Fonction _CopyFile()] Le fichier : " + name + " n'éxiste pas ou est inaccessible.";
}
std::string Refused(const std::string& name) {
    return "[Fonction _CopyFile()] Impossible de copier ce fichier : " + name;
}

class FileFaultTest : public ::testing::Test {
  protected:
    StoreFixture store{StoreFixture::Tables::Demo};
    TempDir source;
    std::vector<std::string> opened;

    void Publish(const std::string& name) const {
        WriteFile(source.Path() / name, ReadFile(kDemo + name));
    }
    void UriSettings(const std::string& categories, const std::string& folder) const {
        WriteFile(
            store.Paths().CheminIni,
            "[Quorvane]\n" + categories + "TypeEnvoi=URI\n[Quorvane_URI]\nURI=" + folder + "\n");
    }
    std::vector<std::string> Run(std::unique_ptr<SynchronizationRun>* keep = nullptr) {
        RunOptions options;
        options.OpenReport = [this](const std::string& p) { opened.push_back(p); };
        auto run = std::make_unique<SynchronizationRun>(store.Paths(), std::move(options));
        run->Run();
        std::vector<std::string> texts;
        for (const auto& e : run->State().Erreurs.Entries()) {
            texts.push_back(e.Texte);
            EXPECT_EQ(e.Code, 0) << e.Texte;
        }
        if (keep != nullptr) {
            *keep = std::move(run);
        }
        return texts;
    }
    std::set<std::string> DownloadFolder() const {
        std::set<std::string> found;
        for (const auto& entry :
             std::filesystem::directory_iterator(store.Paths().RepertoireAuto)) {
            found.insert(entry.path().filename().string());
        }
        return found;
    }
    void ExpectReportHolds(const std::vector<std::string>& texts) const {
        ASSERT_EQ(opened, std::vector<std::string>{store.Paths().CheminRapport});
        const std::string report = Cp1252ToUtf8(ReadFile(store.Paths().CheminRapport));
        EXPECT_NE(report.find("Il y a eu " + std::to_string(texts.size()) + " erreurs"),
                  std::string::npos);
        for (const auto& text : texts) {
            EXPECT_NE(report.find(EscapeHtml(text)), std::string::npos) << text;
        }
    }
};

TEST_F(FileFaultTest, DestinationThatCannotBeReplacedRefusesTheCopyAndKeepsNoPartialFile) {
    Publish("remise_achat.xml");
    Publish("mes_docs.xml");
    Publish("mes_docs_type.xml");
    // A non-empty directory where the file goes: no rename can replace it, root or not.
    WriteFile(store.Paths().RepertoireAuto + "remise_achat.xml/occupe", "x");
    UriSettings("Remise_Achat=1\nDocument=1\n", source.Path().string());
    std::unique_ptr<SynchronizationRun> run;
    const auto texts = Run(&run);
    ASSERT_EQ(texts, std::vector<std::string>{Refused("remise_achat.xml")});
    EXPECT_EQ(run->Display().Image(Categorie::RemiseAchat, Colonne::Telechargement),
              ImageState::Failure);
    EXPECT_EQ(run->Display().Image(Categorie::RemiseAchat, Colonne::Integration),
              ImageState::Failure);
    // The failure did not stop the documents.
    EXPECT_EQ(run->Display().Image(Categorie::Document, Colonne::Integration), ImageState::Success);
    EXPECT_EQ(DownloadFolder(),
              (std::set<std::string>{"remise_achat.xml", "mes_docs.xml", "mes_docs_type.xml"}));
    EXPECT_TRUE(std::filesystem::is_directory(store.Paths().RepertoireAuto + "remise_achat.xml"));
    ExpectReportHolds(texts);
}

TEST_F(FileFaultTest, DownloadFolderThatIsAFileStopsTheRunAtTheGate) {
    std::filesystem::remove_all(store.Paths().RepertoireAuto);
    // The download folder's name without its trailing "/": a plain file stands there.
    WriteFile(store.Paths().RepertoireAuto.substr(0, store.Paths().RepertoireAuto.size() - 1), "x");
    Publish("remise_achat.xml");
    UriSettings("Remise_Achat=1\n", source.Path().string());
    std::unique_ptr<SynchronizationRun> run;
    const auto texts = Run(&run);
    ASSERT_EQ(texts, std::vector<std::string>{"[Fonction FormCreate()] Erreur le repertoire " +
                                              store.Paths().RepertoireAuto +
                                              " est introuvable ou est inaccessible."});
    EXPECT_EQ(run->Display().Image(Categorie::RemiseAchat, Colonne::Telechargement),
              ImageState::Failure);
    ExpectReportHolds(texts);
}

TEST_F(FileFaultTest, ReadOnlyDownloadFolderRefusesTheCopy) {
    if (!quorvane::testing::PermissionsAreEnforced()) {
        GTEST_SKIP() << "root writes into a read-only folder; the directory case above covers it";
    }
    Publish("remise_achat.xml");
    UriSettings("Remise_Achat=1\n", source.Path().string());
    std::filesystem::permissions(store.Paths().RepertoireAuto, std::filesystem::perms(0555));
    const auto texts = Run();
    std::filesystem::permissions(store.Paths().RepertoireAuto, std::filesystem::perms(0755));
    ASSERT_EQ(texts, std::vector<std::string>{Refused("remise_achat.xml")});
    EXPECT_TRUE(DownloadFolder().empty());
    ExpectReportHolds(texts);
}

TEST_F(FileFaultTest, SourceEntriesThatAreNotFilesAreReportedAbsentWithoutBlocking) {
    // A directory, a link to a removed file and a named pipe (which a copy would wait on
    // for ever) stand where three of the head-office files should be.
    std::filesystem::create_directories(source.Path() / "remise_achat.xml");
    Publish("personnalisation.xml");
    std::filesystem::rename(source.Path() / "personnalisation.xml", source.Path() / "parti.xml");
    std::filesystem::create_symlink(source.Path() / "parti.xml",
                                    source.Path() / "personnalisation.xml");
    std::filesystem::remove(source.Path() / "parti.xml");
    ASSERT_EQ(::mkfifo((source.Path() / "message.xml").c_str(), 0644), 0);
    Publish("message_type.xml");
    // A link to a present file is a file.
    Publish("mes_docs_type.xml");
    std::filesystem::create_symlink(kDemo + "mes_docs.xml", source.Path() / "mes_docs.xml");
    UriSettings("Remise_Achat=1\nPersonnalisation=1\nMessage=1\nDocument=1\n",
                source.Path().string());
    std::unique_ptr<SynchronizationRun> run;
    const auto start = std::chrono::steady_clock::now();
    const auto texts = Run(&run);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    ASSERT_EQ(texts,
              (std::vector<std::string>{Absent("remise_achat.xml"), Absent("personnalisation.xml"),
                                        Absent("message.xml")}));
    EXPECT_EQ(run->Display().Image(Categorie::Document, Colonne::Integration), ImageState::Success);
    EXPECT_EQ(DownloadFolder(), (std::set<std::string>{"mes_docs.xml", "mes_docs_type.xml"}));
    EXPECT_TRUE(std::filesystem::is_regular_file(
        std::filesystem::symlink_status(store.Paths().RepertoireAuto + "mes_docs.xml")));
    ExpectReportHolds(texts);
}

TEST_F(FileFaultTest, SourceFolderGoneGivesOneEntryPerCategoryTried) {
    const auto gone = source.Path() / "depot";
    std::filesystem::create_directories(gone);
    std::filesystem::create_symlink(gone, source.Path() / "lien");
    std::filesystem::remove(gone);
    UriSettings("Remise_Achat=1\nMessage=1\n", (source.Path() / "lien").string());
    const auto texts = Run();
    // The second file of the messages is not tried once the first is missing.
    ASSERT_EQ(texts, (std::vector<std::string>{Absent("remise_achat.xml"), Absent("message.xml")}));
    EXPECT_TRUE(DownloadFolder().empty());
    ExpectReportHolds(texts);
}

TEST_F(FileFaultTest, UnreadableSettingsFileIsReportedAsInaccessible) {
    const std::string message = "[Fonction FormCreate()] Erreur le fichier " +
                                store.Paths().CheminIni + " est introuvable ou est inaccessible.";
    // As root: the settings file's name is taken by a directory.
    std::filesystem::create_directories(store.Paths().CheminIni);
    WriteFile(store.Paths().CheminIni + "/Quorvane", "[Quorvane]\nRemise_Achat=1\n");
    EXPECT_EQ(Run(), std::vector<std::string>{message});
    ExpectReportHolds({message});
    if (quorvane::testing::PermissionsAreEnforced()) {
        opened.clear();
        std::filesystem::remove_all(store.Paths().CheminIni);
        UriSettings("Remise_Achat=1\n", source.Path().string());
        std::filesystem::permissions(store.Paths().CheminIni, std::filesystem::perms::none);
        EXPECT_EQ(Run(), std::vector<std::string>{message});
        ExpectReportHolds({message});
    }
}

TEST(SettingsFileCut, WriteAfterALastLineCutAfterItsCarriageReturnKeepsBothLines) {
    TempDir dir;
    const auto path = dir.Path() / "QuorvaneClient.ini";
    // The file lost its last LF: the last line ends with a lone CR.
    WriteFile(path, "[Quorvane]\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/srv/depot\r");
    TIniFile ini(path);
    ini.WriteString("Quorvane_FTP", "Host", "ftp.exemple.fr");
    ini.WriteString("Quorvane_URI", "Autre", "1");
    EXPECT_EQ(ini.ReadString("Quorvane_FTP", "Host", "?"), "ftp.exemple.fr");
    EXPECT_EQ(ini.ReadString("Quorvane_URI", "URI", "?"), "/srv/depot");
    EXPECT_EQ(ini.ReadString("Quorvane_URI", "Autre", "?"), "1");
    EXPECT_EQ(ReadFile(path),
              "[Quorvane]\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/srv/depot\r\nAutre=1\r\n"
              "[Quorvane_FTP]\r\nHost=ftp.exemple.fr\r\n");

    // A file of LF lines whose last line ends with two CRs: each ends a line, so the value is
    // whole; the last is completed to CR LF, which reads the same.
    WriteFile(path, "[Quorvane_URI]\nURI=/srv/depot\r\r");
    const std::string before = ini.ReadString("Quorvane_URI", "URI", "?");
    EXPECT_EQ(before, "/srv/depot");
    ini.WriteString("Quorvane_FTP", "Host", "ftp.exemple.fr");
    EXPECT_EQ(ini.ReadString("Quorvane_URI", "URI", "?"), before);
    EXPECT_EQ(ReadFile(path),
              "[Quorvane_URI]\nURI=/srv/depot\r\r\n[Quorvane_FTP]\nHost=ftp.exemple.fr\n");
}

// The real program in a folder where its report cannot be created: a non-empty directory holds
// the report's name, so neither the old report's deletion nor the new report can succeed, for
// root too. The run must still count down and end by itself with exit code 0.
TEST(ProgramFolderFaults, ReportThatCannotBeWrittenStillEndsTheProgramByItself) {
    TempDir dir;
    const auto program = dir.Path() / "QuorvaneClient";
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient", program);
    WriteFile(dir.Path() / "QuorvaneClient.ini", "[Quorvane]\r\nRemise_Achat=0\r\n");
    std::filesystem::create_directories(dir.Path() / "Auto");
    WriteFile(dir.Path() / "QuorvaneClientAutoLog.html" / "occupe", "x");
    WriteViewerStandIn(dir.Path() / "bin", dir.Path() / "opened.txt");
    const std::string command = "cd '" + dir.Folder() + "' && env -u DISPLAY -u WAYLAND_DISPLAY " +
                                "-u QT_QPA_PLATFORM PATH='" + dir.Folder() + "bin':\"$PATH\" " +
                                "timeout 120 ./QuorvaneClient > out.txt 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GE(seconds, 30.0);
    EXPECT_LT(seconds, 45.0);
    const std::string output = ReadFile(dir.Path() / "out.txt");
    EXPECT_NE(output.find("Erreur : le rapport n'a pas pu être écrit : "), std::string::npos)
        << output;
    // Nothing was written, so nothing is handed to the viewer.
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "opened.txt"));
    EXPECT_EQ(ReadFile(dir.Path() / "QuorvaneClientAutoLog.html" / "occupe"), "x");
}

}  // namespace
}  // namespace quorvane::testing
