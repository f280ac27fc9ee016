#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/IniFile.h"
#include "base/TextConversion.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace quorvane::testing {
namespace {

class IniFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::filesystem::path path = dir.Path() / "QuorvaneClient.ini";
};

TEST_F(IniFileTest, MissingFileGivesEveryDefault) {
    const TIniFile ini(path);
    EXPECT_FALSE(ini.Exists());
    EXPECT_EQ(ini.ReadString("Quorvane", "TypeEnvoi", "FTP"), "FTP");
    EXPECT_EQ(ini.ReadInteger("Quorvane_FTP", "Port", 21), 21);
    EXPECT_TRUE(ini.ReadBool("Quorvane", "Message", true));
}

TEST_F(IniFileTest, NamesMatchWithoutRegardToCaseAndFirstOccurrenceCounts) {
    WriteFile(path,
              "[quorvane]\r\nremise_achat=1\r\nTYPEENVOI=URI\r\ntypeenvoi=FTP\r\n"
              "[Quorvane_FTP]\r\n Host = ftp.example \r\n[QUORVANE]\r\nMessage=1\r\n");
    const TIniFile ini(path);
    EXPECT_TRUE(ini.ReadBool("Quorvane", "Remise_Achat", false));
    EXPECT_EQ(ini.ReadString("Quorvane", "TypeEnvoi", "FTP"), "URI");
    EXPECT_EQ(ini.ReadString("quorvane_ftp", "HOST", ""), "ftp.example");
    // A second section of the same name is not looked at.
    EXPECT_FALSE(ini.ReadBool("Quorvane", "Message", false));
}

TEST_F(IniFileTest, TypedValuesFollowTheIntegerRule) {
    WriteFile(path,
              "[Quorvane]\nRemise_Achat=yes\nPersonnalisation=2\nMessage=0\nDocument=\n"
              "[Quorvane_FTP]\nPort=abc\nLogin=\nMdp=-12\nHost=1.5\n");
    const TIniFile ini(path);
    EXPECT_FALSE(ini.ReadBool("Quorvane", "Remise_Achat", false));
    EXPECT_TRUE(ini.ReadBool("Quorvane", "Remise_Achat", true));  // "yes" gives the default
    EXPECT_TRUE(ini.ReadBool("Quorvane", "Personnalisation", false));
    EXPECT_FALSE(ini.ReadBool("Quorvane", "Message", true));
    EXPECT_TRUE(ini.ReadBool("Quorvane", "Document", true));  // empty: not an integer
    EXPECT_EQ(ini.ReadInteger("Quorvane_FTP", "Port", 21), 21);
    EXPECT_EQ(ini.ReadInteger("Quorvane_FTP", "Mdp", 0), -12);
    EXPECT_EQ(ini.ReadInteger("Quorvane_FTP", "Host", 7), 7);
    // Present with an empty value is the empty text, not the default.
    EXPECT_EQ(ini.ReadString("Quorvane_FTP", "Login", "x"), "");
    EXPECT_EQ(ini.ReadString("Quorvane_FTP", "Absent", "x"), "x");
}

TEST_F(IniFileTest, AccentedValuesAreWindows1252OnDisk) {
    WriteFile(path, "[Quorvane_URI]\r\nURI=/srv/donn\xe9\x65s/\x80uro\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("Quorvane_URI", "URI", ""), "/srv/données/€uro");
    ini.WriteString("Quorvane_FTP", "Mdp", "clé€");
    EXPECT_NE(ReadFile(path).find("Mdp=cl\xe9\x80\r\n"), std::string::npos);
    EXPECT_EQ(ini.ReadString("Quorvane_FTP", "Mdp", ""), "clé€");
}

TEST_F(IniFileTest, WriteKeepsEveryOtherLineByteForByte) {
    const std::string before =
        "; installation\r\n[Setup]\r\nDir=/opt/ombrelin\r\n\r\n[Quorvane]\r\nRemise_Achat = 0\r\n"
        "TypeEnvoi=FTP\r\n\r\n[Quorvane_FTP]\r\nHost=h\r\n";
    WriteFile(path, before);
    TIniFile ini(path);
    ini.WriteBool("quorvane", "REMISE_ACHAT", true);
    ini.WriteString("Quorvane", "Document", "1");
    ini.WriteInteger("Nouvelle", "Port", 2121);
    EXPECT_EQ(
        ReadFile(path),
        "; installation\r\n[Setup]\r\nDir=/opt/ombrelin\r\n\r\n[Quorvane]\r\nRemise_Achat=1\r\n"
        "TypeEnvoi=FTP\r\nDocument=1\r\n\r\n[Quorvane_FTP]\r\nHost=h\r\n"
        "[Nouvelle]\r\nPort=2121\r\n");
}

TEST_F(IniFileTest, WriteKeepsLfFilesLfAndCreatesPrivateFile) {
    TIniFile fresh(path);
    fresh.WriteString("Quorvane_FTP", "Mdp", "secret");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    WriteFile(path, "[A]\nx=1");
    fresh.WriteString("A", "y", "2");
    EXPECT_EQ(ReadFile(path), "[A]\nx=1\ny=2\n");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

// In a folder the store's users share through its group, the settings are the group's too; a
// link put at the name is replaced, and hands its target's permissions on to nobody.
TEST_F(IniFileTest, InAFolderSharedWithItsGroupANewFileIsTheGroupsAndALinkIsReplaced) {
    ASSERT_EQ(::chmod(dir.Path().c_str(), 02775), 0);
    WriteFile(dir.Path() / "ailleurs", "intact");
    ASSERT_EQ(::chmod((dir.Path() / "ailleurs").c_str(), 0666), 0);
    std::filesystem::create_symlink(dir.Path() / "ailleurs", path);
    EXPECT_FALSE(TIniFile(path).Exists());
    TIniFile(path).WriteString("Quorvane_FTP", "Mdp", "secret");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(ReadFile(dir.Path() / "ailleurs"), "intact");
    EXPECT_EQ(TIniFile(path).ReadString("Quorvane_FTP", "Mdp", ""), "secret");
}

TEST_F(IniFileTest, RefusedWriteRaisesAndLeavesTheFile) {
    WriteFile(path, "[A]\nx=1\n");
    // A folder in place of the temporary's parent makes the write fail even for root.
    TIniFile inDirectory(dir.Path() / "missing" / "QuorvaneClient.ini");
    EXPECT_THROW(inDirectory.WriteString("A", "x", "2"), quorvane::IniWriteError);
    EXPECT_EQ(ReadFile(path), "[A]\nx=1\n");
}

TEST_F(IniFileTest, ReadAsTheProfileReaderReadsIt) {
    // Saved as UTF-8 with its mark: the first section is found, the accents are UTF-8.
    WriteFile(
        path,
        "\xEF\xBB\xBF[Quorvane]\r\nMessage=1\r\n[Quorvane_URI]\r\nURI=/srv/donn\xC3\xA9\x65s\r\n");
    TIniFile ini(path);
    EXPECT_TRUE(ini.ReadBool("Quorvane", "Message", false));
    EXPECT_EQ(ini.ReadString("Quorvane_URI", "URI", ""), "/srv/données");
    // A write keeps the mark and writes UTF-8.
    ini.WriteString("Quorvane_FTP", "Mdp", "clé");
    EXPECT_EQ(ReadFile(path).substr(0, 15), "\xEF\xBB\xBF[Quorvane]\r\n");
    EXPECT_NE(ReadFile(path).find("Mdp=cl\xC3\xA9\r\n"), std::string::npos);
    EXPECT_EQ(ini.ReadString("Quorvane_URI", "URI", ""), "/srv/données");

    // CR alone ends a line, and CR CR LF ends one line and an empty one.
    WriteFile(path, "[Quorvane]\rRemise_Achat=1\rTypeEnvoi=URI\r\r\nDocument=1\r\r\nPort=21 \r");
    EXPECT_TRUE(ini.ReadBool("Quorvane", "Remise_Achat", false));
    EXPECT_EQ(ini.ReadString("Quorvane", "TypeEnvoi", ""), "URI");
    EXPECT_TRUE(ini.ReadBool("Quorvane", "Document", false));
    EXPECT_EQ(ini.ReadInteger("Quorvane", "Port", 0), 21);
    ini.WriteString("Quorvane", "Message", "1");
    EXPECT_EQ(ReadFile(path),
              "[Quorvane]\rRemise_Achat=1\rTypeEnvoi=URI\r\r\nDocument=1\r\r\nPort=21 \r"
              "Message=1\r");

    // One pair of matching quotes around a value is not part of it.
    WriteFile(path,
              "[Quorvane]\nTypeEnvoi=\"URI\"\nA='FTP' \nB=\"x'\nC=\"\nD=\"\"\"\"\nE=\" a \"\n"
              "[Quorvane_FTP]\nPort=\"2121\"\n");
    EXPECT_EQ(ini.ReadString("Quorvane", "TypeEnvoi", ""), "URI");
    EXPECT_EQ(ini.ReadString("Quorvane", "A", ""), "FTP");
    EXPECT_EQ(ini.ReadString("Quorvane", "B", ""), "\"x'");
    EXPECT_EQ(ini.ReadString("Quorvane", "C", ""), "\"");
    EXPECT_EQ(ini.ReadString("Quorvane", "D", ""), "\"\"");
    EXPECT_EQ(ini.ReadString("Quorvane", "E", ""), " a ");
    EXPECT_EQ(ini.ReadInteger("Quorvane_FTP", "Port", 21), 2121);
    // Values are written as they stand, as the profile writer writes them.
    ini.WriteString("Quorvane_FTP", "Mdp", "simple");
    ini.WriteString("Quorvane_FTP", "Login", "\"cité\"");
    EXPECT_EQ(ini.ReadString("Quorvane_FTP", "Login", "?"), "cité");
    EXPECT_NE(ReadFile(path).find("\nLogin=\"cit\xe9\"\n"), std::string::npos);
    EXPECT_NE(ReadFile(path).find("\nMdp=simple\n"), std::string::npos);
}

TEST(TextConversion, WholeNumbersAndCodePage) {
    using quorvane::TryStrToInt;
    EXPECT_EQ(TryStrToInt("42"), 42);
    EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(TryStrToInt("+7"), 7);
    EXPECT_FALSE(TryStrToInt("2147483648"));
    EXPECT_FALSE(TryStrToInt("1 2"));
    EXPECT_FALSE(TryStrToInt("1.0"));
    EXPECT_FALSE(TryStrToInt(""));
    EXPECT_FALSE(TryStrToInt("-"));
    EXPECT_EQ(quorvane::Utf8ToCp1252("àé€Ω"), "\xe0\xe9\x80?");
    EXPECT_EQ(quorvane::Cp1252ToUtf8("\x9c\xff"), "œÿ");
    // Codes compared without case, accented letters included, and only letters folded.
    using quorvane::FoldCase;
    EXPECT_EQ(FoldCase("ÉLÉGANCE-Œuvre"), FoldCase("élégance-œUVRE"));
    EXPECT_EQ(FoldCase("ŸŠŽ"), FoldCase("ÿšž"));
    EXPECT_NE(FoldCase("×"), FoldCase("÷"));
    EXPECT_NE(FoldCase("E"), FoldCase("É"));
    EXPECT_LT(FoldCase("abc"), FoldCase("ABD"));
}

}  // namespace
}  // namespace quorvane::testing
