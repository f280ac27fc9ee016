#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/TextConversion.h"
#include "database/DbError.h"
#include "database/Fonctionsbde.h"
#include "database/Session.h"
#include "database/Table.h"
#include "support/SqliteDirect.h"
#include "support/TempDir.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

// Writes an INI file as the store application does: Windows-1252 bytes, CR LF.
void WriteIni(const fs::path& path, const std::vector<std::string>& utf8Lines) {
    std::ofstream out(path, std::ios::binary);
    for (const auto& line : utf8Lines) {
        out << Utf8ToCp1252(line) << "\r\n";
    }
}

class FonctionsbdeTest : public ::testing::Test {
  protected:
    void SetUp() override { Session().Reset(); }
    void TearDown() override { Session().Reset(); }

    // A store tree with its three table folders under `root`.
    static void MakeStore(const fs::path& root) {
        for (const char* sub : {"Administration", "Tarifs", "Maj"}) {
            fs::create_directories(root / sub);
        }
    }
    bool Init(const std::vector<std::string>& lines) {
        WriteIni(ini(), lines);
        TIniFile file(ini());
        return InitBdeEnvironment(file, [&](const std::string& w) { warnings.push_back(w); });
    }
    fs::path ini() const { return dir.Path() / "ombbde.ini"; }

    TempDir dir;
    std::vector<std::string> warnings;
};

TEST_F(FonctionsbdeTest, BdeIniPathFollowsTheSettingsFile) {
    const ProgramPaths paths = ProgramPaths::ForFolder(dir.Path().string());
    EXPECT_EQ(BdeIniPath(paths), "");
    WriteIni(paths.CheminIni, {"[Setup]", "Dir=/srv/ombrelin/réglages"});
    EXPECT_EQ(BdeIniPath(paths), "/srv/ombrelin/réglages/ombbde.ini");
    WriteIni(paths.CheminIni, {"[setup]", "DIR=/srv/ombrelin/"});
    EXPECT_EQ(BdeIniPath(paths), "/srv/ombrelin/ombbde.ini");
    WriteIni(paths.CheminIni, {"[Setup]", "Dir="});
    EXPECT_EQ(BdeIniPath(paths), "/ombbde.ini");
    WriteIni(paths.CheminIni, {"[Autre]"});
    EXPECT_EQ(BdeIniPath(paths), "/ombbde.ini");
}

TEST_F(FonctionsbdeTest, TheRootAloneGivesTheThreeSubFolders) {
    const fs::path root = dir.Path() / "Magasin Hélène";
    MakeStore(root);
    EXPECT_TRUE(Init({"[Alias]", "Ombrelin=" + root.string()}));
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(Session().AliasDirectory("OmbrelinAdministration"),
              root.string() + "/Administration");
    EXPECT_EQ(Session().AliasDirectory("OmbrelinTarifs"), root.string() + "/Tarifs");
    EXPECT_EQ(Session().AliasDirectory("OmbrelinMaj"), root.string() + "/Maj");
    EXPECT_FALSE(Session().IsAlias("Ombrelin"));
    EXPECT_EQ(Session().NetFileDir(), "");

    CreateTableFromData(root / "Maj" / "FOURNIS.db", "FOURNIS.sql");
    EXPECT_TRUE(TTable("OmbrelinMaj", "FOURNIS.db").Exists());
    EXPECT_FALSE(TTable("OmbrelinAdministration", "FOURNIS.db").Exists());
}

TEST_F(FonctionsbdeTest, ARootEndingWithTheSeparatorGivesADoubledOne) {
    const fs::path root = dir.Path() / "store";
    MakeStore(root);
    EXPECT_TRUE(
        Init({"[Alias]", "Ombrelin=" + root.string() + "/", "NetDir=" + dir.Path().string()}));
    EXPECT_EQ(Session().AliasDirectory("OmbrelinMaj"), root.string() + "//Maj");
    EXPECT_EQ(Session().NetFileDir(), dir.Path().string());
}

TEST_F(FonctionsbdeTest, EveryRefusedDirectoryGivesItsOwnWarningAndStops) {
    const fs::path root = dir.Path() / "store";
    MakeStore(root);
    EXPECT_FALSE(Init({"[Alias]", "Ombrelin=" + dir.Path().string() + "/absent"}));
    EXPECT_EQ(warnings, std::vector<std::string>{
                            "Répertoire Ombrelin non valide : " + dir.Path().string() + "/absent"});
    EXPECT_FALSE(Session().IsAlias("OmbrelinAdministration"));

    warnings.clear();
    EXPECT_FALSE(Init({"[Alias]", "Ombrelin=" + root.string(), "Tarifs=/nulle/part",
                       "Maj=/ailleurs", "NetDir=/pas/plus"}));
    EXPECT_EQ(warnings, std::vector<std::string>{"Répertoire Tarifs non valide : /nulle/part"});
    EXPECT_TRUE(Session().IsAlias("OmbrelinAdministration"));
    EXPECT_FALSE(Session().IsAlias("OmbrelinTarifs"));
    EXPECT_FALSE(Session().IsAlias("OmbrelinMaj"));

    Session().Reset();
    warnings.clear();
    EXPECT_FALSE(
        Init({"[Alias]", "Ombrelin=" + root.string(), "NetDir=" + dir.Path().string() + "/x"}));
    EXPECT_EQ(warnings, std::vector<std::string>{
                            "Répertoire NetDir non valide : " + dir.Path().string() + "/x"});
    EXPECT_TRUE(Session().IsAlias("OmbrelinMaj"));
    EXPECT_EQ(Session().NetFileDir(), "");
}

TEST_F(FonctionsbdeTest, AnEmptyRootDefaultsToTheFoldersAtTheFileSystemRoot) {
    EXPECT_FALSE(Init({"[Alias]", "Maj=" + dir.Path().string()}));
    EXPECT_EQ(warnings,
              std::vector<std::string>{"Répertoire Administration non valide : /Administration"});
}

TEST_F(FonctionsbdeTest, AnExistingAliasKeepsItsDefinitionButItsDatabaseIsRepointed) {
    const fs::path root = dir.Path() / "store";
    MakeStore(root);
    fs::create_directories(dir.Path() / "ancien");
    Session().AddStandardAlias("OMBRELINMAJ", (dir.Path() / "ancien").string(), "STANDARD");
    EXPECT_TRUE(Init({"[ALIAS]", "ombrelin=" + root.string()}));
    EXPECT_EQ(Session().AliasDirectory("OmbrelinMaj"), root.string() + "/Maj");
    EXPECT_EQ(Session().OpenDatabase("OmbrelinMaj").AliasName(), "OMBRELINMAJ");
    EXPECT_THROW(Session().AddStandardAlias("OmbrelinMaj", "/", ""), EDBEngineError);

    // The table opened under the alias name works in the new directory.
    CreateTableFromData(root / "Maj" / "FOURNIS.db", "FOURNIS.sql");
    TTable table("OmbrelinMaj", "FOURNIS.db");
    EXPECT_EQ(table.DatabaseDirectory(), root.string() + "/Maj");
    table.Open(TOpenMode::ReadOnly);
    ASSERT_TRUE(table.Locate({FieldCondition::Equal("Code", "BETA")}));
    EXPECT_EQ(table.FieldByName("Nom").AsString(), "Béta Optique");
    EXPECT_FALSE(table.Locate({FieldCondition::Equal("Code", "beta")}));
    table.Close();
}

TEST_F(FonctionsbdeTest, SetupAliasReadsItsOwnKey) {
    fs::create_directories(dir.Path() / "tarifs");
    WriteIni(ini(), {"[Alias]", "Tarifs=" + (dir.Path() / "tarifs").string()});
    TIniFile file(ini());
    auto warn = [&](const std::string& w) { warnings.push_back(w); };
    EXPECT_TRUE(SetupAlias("/ignorée", "Tarifs", file, warn));
    EXPECT_EQ(Session().AliasDirectory("OmbrelinTarifs"), (dir.Path() / "tarifs").string());
    EXPECT_FALSE(SetupAlias("/ignorée", "Maj", file, warn));
    EXPECT_EQ(warnings, std::vector<std::string>{"Répertoire Maj non valide : /ignorée/Maj"});
}

}  // namespace
}  // namespace quorvane::testing
