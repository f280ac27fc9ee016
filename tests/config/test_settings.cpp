#include <gtest/gtest.h>

#include "config/settings/Settings.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace quorvane::testing {
namespace {

using namespace quorvane::settings;

class SettingsTest : public ::testing::Test {
  protected:
    TempDir dir;
    ProgramPaths paths = ProgramPaths::ForFolder(dir.Path().string() + "/");
    std::string ini = paths.CheminIni;

    MainSettings Read(const std::string& content) {
        WriteFile(ini, content);
        const auto stored = ReadMainSettings(ini);
        EXPECT_TRUE(stored.has_value());
        return stored.value_or(MainSettings{});
    }
};

TEST_F(SettingsTest, MissingFileReadsNothing) {
    EXPECT_FALSE(ReadMainSettings(ini).has_value());
    EXPECT_FALSE(ReadFtpAccount(ini, kFtpSection).has_value());
    EXPECT_EQ(ReadSetupDir(ini), "");
}

TEST_F(SettingsTest, MainSettingsDefaultsAndValues) {
    // No key at all: every category off, FTP mode, no folder.
    MainSettings s = Read("[Quorvane]\n");
    EXPECT_FALSE(s.AnyCategory());
    EXPECT_EQ(s.Mode, TransferMode::Ftp);
    EXPECT_EQ(s.SourceFolder(), "/");

    s = Read(
        "[Quorvane]\nRemise_Achat=yes\nPersonnalisation=2\nMessage=0\nDocument=1\n"
        "TypeEnvoi=URI\n[Quorvane_URI]\nURI=/srv/siege/\n"
        "[Ombrelin]\nOmbrelin=1\nTypeEnvoi=FTP\n[Ombrelin_URI]\nURI=/x\n[Setup]\nDir=/opt/bde\n"
        "[Quorvane_Signature]\nClePublique=RWQa RWQb\n");
    EXPECT_FALSE(s.RemiseAchat);
    EXPECT_TRUE(s.Personnalisation);
    EXPECT_FALSE(s.Message);
    EXPECT_TRUE(s.Document);
    EXPECT_EQ(s.Mode, TransferMode::Folder);
    // One separator more, whatever the value ends with.
    EXPECT_EQ(s.SourceFolder(), "/srv/siege//");
    EXPECT_TRUE(s.Ombrelin);
    EXPECT_EQ(s.OmbrelinTypeEnvoi, "FTP");
    EXPECT_EQ(s.OmbrelinUri, "/x");
    EXPECT_EQ(s.ClePublique, "RWQa RWQb");
    EXPECT_EQ(ReadSetupDir(ini), "/opt/bde");

    // Only the exact values select a mode; a present empty value is not the default.
    for (const char* other : {"ftp", "", "Uri", "FTP;"}) {
        EXPECT_EQ(Read(std::string("[Quorvane]\nTypeEnvoi=") + other + "\n").Mode,
                  TransferMode::Neither)
            << other;
    }
}

TEST_F(SettingsTest, FtpAccountDefaultsFollowTheProtection) {
    WriteFile(ini, "[Quorvane_FTP]\nLogin= magasin \nMdp=p=w;d\nHost=ftp.siege\nPort=abc\n");
    auto account = ReadFtpAccount(ini, kFtpSection);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->Login, "magasin");
    EXPECT_EQ(account->Mdp, "p=w;d");
    EXPECT_EQ(account->Host, "ftp.siege");
    EXPECT_EQ(account->Port, 21);
    EXPECT_EQ(account->Tentatives, 4);

    for (const auto& [text, tentatives] :
         {std::pair{"0", 1}, {"-5", 1}, {"7", 7}, {"11", 10}, {"x", 4}}) {
        WriteFile(ini, std::string("[Quorvane_FTP]\nTentatives=") + text + "\n");
        EXPECT_EQ(ReadFtpAccount(ini, kFtpSection)->Tentatives, tentatives) << text;
    }

    WriteFile(ini, "[Quorvane_FTP]\nSecurite=sftp\nCleHote=SHA256:abc\n");
    account = ReadFtpAccount(ini, kFtpSection);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->Port, 22);
    EXPECT_EQ(account->CleHote, "SHA256:abc");

    // Another section of the same form is read the same way.
    WriteFile(ini, "[Autre]\nPort=2121\nSecurite=TLS\nCertificatAC=/etc/ca.pem\n");
    account = ReadFtpAccount(ini, "Autre");
    ASSERT_TRUE(account);
    EXPECT_EQ(account->Port, 2121);
    EXPECT_EQ(ParseSecurite(account->Securite), FtpProtection::Tls);
    EXPECT_EQ(account->CertificatAC, "/etc/ca.pem");
}

TEST_F(SettingsTest, PortRule) {
    EXPECT_EQ(ParsePortFtp("1"), 1);
    EXPECT_EQ(ParsePortFtp("65535"), 65535);
    for (const char* refused : {"", "0", "65536", "-21", "21a", "abc", "99999999999"}) {
        EXPECT_EQ(ParsePortFtp(refused), std::nullopt) << refused;
    }
}

TEST_F(SettingsTest, MainSaveWritesItsKeysInOrderIntoANewFile) {
    MainSettings s;
    s.RemiseAchat = true;
    s.Document = true;
    s.Mode = TransferMode::Folder;
    s.Uri = "/srv/siege/";
    EXPECT_EQ(SaveMainSettings(paths, s), std::nullopt);
    EXPECT_EQ(ReadFile(ini),
              "[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=0\r\nMessage=0\r\nDocument=1\r\n"
              "TypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/srv/siege/\r\n");
    EXPECT_TRUE(std::filesystem::is_directory(paths.RepertoireAuto));

    // "Neither" is saved as folder mode, as the window's folder button is the other choice.
    s.Mode = TransferMode::Neither;
    WriteMainSettings(ini, s);
    EXPECT_EQ(ReadMainSettings(ini)->Mode, TransferMode::Folder);
}

TEST_F(SettingsTest, EachWindowKeepsTheKeysItDoesNotManage) {
    const std::string ftp =
        "[Quorvane_FTP]\nLogin=a\nMdp=b\nHost=c\nPort=21\nSecurite=TLS\nCertificatAC=/ca.pem\n"
        "CleHote=SHA256:k\nTentatives=2\n";
    const std::string setup = "[Setup]\nDir=/opt/bde\n[Quorvane_Signature]\nClePublique=RWQa\n";
    WriteFile(ini, "[Quorvane]\nTypeEnvoi=FTP\n" + ftp + setup);
    MainSettings s;
    s.Message = true;
    ASSERT_EQ(SaveMainSettings(paths, s), std::nullopt);
    std::string after = ReadFile(ini);
    EXPECT_NE(after.find(ftp + setup), std::string::npos) << after;

    ASSERT_EQ(SaveFtpAccount(ini, kFtpSection, {"magasin", "secret", "ftp.siege", "2121"}),
              std::nullopt);
    after = ReadFile(ini);
    // A key already there keeps its place; the others join the end of their section.
    EXPECT_EQ(after.rfind("[Quorvane]\nTypeEnvoi=FTP\nRemise_Achat=0\nPersonnalisation=0\n"
                          "Message=1\nDocument=0\n[Quorvane_FTP]\n",
                          0),
              0u)
        << after;
    EXPECT_NE(after.find("[Quorvane_FTP]\nLogin=magasin\nMdp=secret\nHost=ftp.siege\nPort=2121\n"
                         "Securite=TLS\nCertificatAC=/ca.pem\nCleHote=SHA256:k\nTentatives=2\n" +
                         setup),
              std::string::npos)
        << after;
}

TEST_F(SettingsTest, RefusedSavesWriteNothing) {
    const std::string before = "[Quorvane]\nMessage=0\n";
    WriteFile(ini, before);

    MainSettings s;
    s.Personnalisation = true;
    s.Mode = TransferMode::Folder;
    EXPECT_EQ(SaveMainSettings(paths, s),
              "Veuillez renseigner le répertoire de récupération du paramétrage Quorvane.");
    EXPECT_FALSE(std::filesystem::exists(paths.RepertoireAuto));

    // No category, or FTP mode: the folder may stay empty.
    EXPECT_EQ(CheckMainSettings(MainSettings{}), std::nullopt);
    s.Mode = TransferMode::Ftp;
    EXPECT_EQ(CheckMainSettings(s), std::nullopt);

    // Each empty field in turn, then ports that are not one.
    const FtpAccountInput full{"a", "b", "c", "21"};
    for (std::string FtpAccountInput::*field : {&FtpAccountInput::Login, &FtpAccountInput::Mdp,
                                                &FtpAccountInput::Host, &FtpAccountInput::Port}) {
        FtpAccountInput typed = full;
        typed.*field = "";
        EXPECT_EQ(SaveFtpAccount(ini, kFtpSection, typed),
                  "Veuillez renseigner la configuration FTP");
    }
    for (const char* port : {"0", "70000", "vingt"}) {
        FtpAccountInput typed = full;
        typed.Port = port;
        EXPECT_EQ(SaveFtpAccount(ini, kFtpSection, typed), kInvalidPortMessage) << port;
    }
    EXPECT_EQ(ReadFile(ini), before);
    // A field of spaces counts as filled.
    EXPECT_EQ(SaveFtpAccount(ini, "Autre", {" ", "b", "c", "21"}), std::nullopt);
    EXPECT_EQ(ReadFtpAccount(ini, kFtpSection)->Login, "");
}

TEST_F(SettingsTest, DownloadFolderPreparation) {
    EXPECT_EQ(PrepareDownloadFolder(paths.RepertoireAuto), std::nullopt);
    WriteFile(paths.RepertoireAuto + "remise_achat.xml", "<x/>");
    // An existing folder is left as it is, contents included.
    EXPECT_EQ(PrepareDownloadFolder(paths.RepertoireAuto), std::nullopt);
    EXPECT_TRUE(std::filesystem::exists(paths.RepertoireAuto + "remise_achat.xml"));

    // One level only: a missing program folder is not made.
    const std::string deep = dir.Path().string() + "/absent/Auto/";
    EXPECT_EQ(PrepareDownloadFolder(deep), "Erreur à la création du répertoire " + deep);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "absent"));

    // A file in the folder's place refuses the save, which then writes nothing.
    const ProgramPaths blocked = ProgramPaths::ForFolder(dir.Path().string() + "/blocked/");
    std::filesystem::create_directory(dir.Path() / "blocked");
    WriteFile(dir.Path() / "blocked" / "Auto", "");
    EXPECT_EQ(SaveMainSettings(blocked, MainSettings{}),
              "Erreur à la création du répertoire " + blocked.RepertoireAuto);
    EXPECT_FALSE(std::filesystem::exists(blocked.CheminIni));
}

}  // namespace
}  // namespace quorvane::testing
