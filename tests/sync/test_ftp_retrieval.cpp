#include <gtest/gtest.h>

#include "support/FtpServers.h"
#include "support/StoreFixture.h"
#include "sync/SynchronizationRun.h"
#include "sync/retrieval/FtpSecuritySettings.h"

namespace quorvane::testing {
namespace {

const char* kFiles[] = {"remise_achat.xml", "personnalisation.xml", "message.xml",
                        "message_type.xml", "mes_docs.xml",         "mes_docs_type.xml"};

class FtpRetrievalTest : public ::testing::Test {
  protected:
    StoreFixture store{StoreFixture::Tables::Demo};
    std::vector<std::string> opened;

    void PublishDemoFiles(const FtpTestServer& server) {
        for (const char* name : kFiles) {
            server.PutFile(name,
                           ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/" + name));
        }
    }
    void Settings(const std::string& categories, const std::string& host, int port,
                  const std::string& user, const std::string& password,
                  const std::string& protection = "") {
        WriteFile(store.Paths().CheminIni,
                  "[Quorvane]\n" + categories + "TypeEnvoi=FTP\n" +
                      "[Quorvane_FTP]\nLogin=" + user + "\nMdp=" + password + "\nHost=" + host +
                      "\nPort=" + std::to_string(port) + "\n" + protection);
    }
    template <typename Server>
    void ProtectedSettingsFor(const Server& server, const std::string& protection) {
        Settings(kAll, "127.0.0.1", server.Port(), server.User(), server.Password(), protection);
    }
    template <typename Server>
    void PublishDemoFilesOn(const Server& server) {
        for (const char* name : kFiles) {
            server.PutFile(name,
                           ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/" + name));
        }
    }
    void ExpectEverythingIntegrated(SynchronizationRun& run) {
        for (auto c : kCategoriesEnOrdre) {
            EXPECT_EQ(run.Display().Image(c, Colonne::Telechargement), ImageState::Success);
            EXPECT_EQ(run.Display().Image(c, Colonne::Integration), ImageState::Success);
        }
        EXPECT_EQ(store.One("Message.DB", "select count(*) from Message where Externe=5"), "2");
        EXPECT_EQ(store.One("REMISES.DB", "select Taux from REMISES where Famille='VERR'"),
                  "21.75");
    }
    static constexpr const char* kConnexion =
        "[Fonction LancerTransfertFtp() section : Quorvane_FTP] Impossible de se connecter au "
        "serveur FTP. Erreur ";
    static constexpr const char* kPasConnecte =
        "[Fonction LancerTransfertFtp()] Vous n'êtes pas connecté au serveur FTP !";
    void SettingsFor(const FtpTestServer& server, const std::string& categories) {
        Settings(categories, "127.0.0.1", server.Port(), server.User(), server.Password());
    }
    std::unique_ptr<SynchronizationRun> Run(long stallMs = 0) {
        RunOptions options;
        options.OpenReport = [this](const std::string& p) { opened.push_back(p); };
        options.FtpStallLimitMs = stallMs;
        options.Retry.FirstWait = std::chrono::milliseconds(40);
        options.FtpResponseTimeoutMs = 5000;
        options.FtpConnectTimeoutMs = 5000;
        auto run = std::make_unique<SynchronizationRun>(store.Paths(), std::move(options));
        run->Run();
        return run;
    }
    static std::vector<std::string> Texts(const SynchronizationRun& run) {
        return EntryTexts(run.State(), 0);
    }
    static constexpr const char* kAll =
        "Remise_Achat=1\nPersonnalisation=1\nMessage=1\nDocument=1\n";
};

TEST_F(FtpRetrievalTest, FullRunDownloadsAndIntegratesEveryCategoryOverOneLogin) {
    FtpTestServer server;
    PublishDemoFiles(server);
    SettingsFor(server, kAll);
    auto run = Run();
    EXPECT_TRUE(Texts(*run).empty());
    for (auto c : kCategoriesEnOrdre) {
        EXPECT_EQ(run->Display().Image(c, Colonne::Telechargement), ImageState::Success);
        EXPECT_EQ(run->Display().Image(c, Colonne::Integration), ImageState::Success);
    }
    for (const char* name : kFiles) {
        EXPECT_TRUE(std::filesystem::exists(store.Paths().RepertoireAuto + name)) << name;
    }
    EXPECT_EQ(store.One("Message.DB", "select count(*) from Message where Externe=5"), "2");
    EXPECT_EQ(store.One("REMISES.DB", "select Taux from REMISES where Famille='VERR'"), "21.75");
    EXPECT_EQ(server.CountCommands("USER"), 1);
    EXPECT_EQ(server.CountCommands("RETR"), 6);
    EXPECT_FALSE(std::filesystem::exists(store.Paths().CheminRapport));
    EXPECT_TRUE(opened.empty());
}

TEST_F(FtpRetrievalTest, RefusedConnectionsGiveExactlyTheTwoEntries) {
    FtpTestServer server;
    struct Case {
        std::string host;
        int port;
        std::string password;
        std::string errorPart;
    };
    const std::vector<Case> cases = {
        {"127.0.0.1", server.Port(), "wrong", ""},
        {"", 21, server.Password(), ""},
        {"127.0.0.1", 70000, server.Password(), "70000"},
        {"127.0.0.1", 65557, server.Password(), "65557"},
        {"127.0.0.1", 1, server.Password(), ""},  // nothing listens there
        {"127.0.0.1", server.Port(), "se\r\nDELE remise_achat.xml", ""},
    };
    server.PutFile("remise_achat.xml", "<RemisesAchat/>");
    for (const auto& c : cases) {
        Settings("Remise_Achat=1\n", c.host, c.port, server.User(), c.password);
        auto run = Run();
        const auto texts = Texts(*run);
        ASSERT_EQ(texts.size(), 2u) << c.host << ":" << c.port;
        const std::string prefix =
            "[Fonction LancerTransfertFtp() section : Quorvane_FTP] Impossible de se connecter au "
            "serveur FTP. Erreur ";
        EXPECT_EQ(texts[0].rfind(prefix, 0), 0u) << texts[0];
        EXPECT_GT(texts[0].size(), prefix.size()) << "the error carries a text";
        EXPECT_NE(texts[0].find(c.errorPart), std::string::npos) << texts[0];
        EXPECT_EQ(texts[1],
                  "[Fonction LancerTransfertFtp()] Vous n'êtes pas connecté au serveur FTP !");
        EXPECT_EQ(run->Display().Image(Categorie::RemiseAchat, Colonne::Integration),
                  ImageState::Failure);
        EXPECT_FALSE(std::filesystem::exists(store.Paths().RepertoireAuto + "remise_achat.xml"));
    }
    // Neither the line break's command nor any download reached the server.
    EXPECT_EQ(server.CountCommands("DELE"), 0);
    EXPECT_EQ(server.CountCommands("RETR"), 0);
    EXPECT_TRUE(std::filesystem::exists(server.Root() / "remise_achat.xml"));
}

TEST_F(FtpRetrievalTest, AbsentSecondFileIsNoErrorAndKeepsTheFirst) {
    FtpTestServer server;
    server.PutFile("message.xml",
                   ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/message.xml"));
    SettingsFor(server, "Message=1\nPersonnalisation=1\n");
    auto run = Run();
    EXPECT_TRUE(Texts(*run).empty());
    EXPECT_TRUE(std::filesystem::exists(store.Paths().RepertoireAuto + "message.xml"));
    EXPECT_EQ(run->Display().Image(Categorie::Message, Colonne::Telechargement),
              ImageState::Failure);
    EXPECT_EQ(run->Display().Image(Categorie::Message, Colonne::Integration), ImageState::Failure);
    // Not integrated: the head-office messages of the store are still the old ones.
    EXPECT_EQ(store.One("Message.DB", "select count(*) from Message where Code like 'HO-2026-1_'"),
              "0");
    EXPECT_FALSE(std::filesystem::exists(store.Paths().CheminRapport));
}

TEST_F(FtpRetrievalTest, RepaintsBeforeEachCategoryAndAfterEachButTheFirst) {
    FtpTestServer server;  // no file at all: no integration repaints
    SettingsFor(server, "Remise_Achat=1\n");
    EXPECT_EQ(Run()->Display().ProcessMessagesCount(), 1);
    SettingsFor(server, "Remise_Achat=1\nPersonnalisation=1\nDocument=1\n");
    EXPECT_EQ(Run()->Display().ProcessMessagesCount(), 5);
}

TEST_F(FtpRetrievalTest, EmptyRemoteFileIsDownloadedAndHandedToTheIntegration) {
    FtpTestServer server;
    server.PutFile("personnalisation.xml", "");
    WriteFile(store.Paths().RepertoireAuto + "personnalisation.xml", "old copy");
    SettingsFor(server, "Personnalisation=1\n");
    auto run = Run();
    EXPECT_EQ(ReadFile(store.Paths().RepertoireAuto + "personnalisation.xml"), "");
    EXPECT_EQ(run->Display().Image(Categorie::Personnalisation, Colonne::Telechargement),
              ImageState::Success);
    ASSERT_EQ(run->State().Erreurs.Count(), 1u);
    EXPECT_EQ(run->State().Erreurs.Entries()[0].Texte,
              "[Fonction XmlToTable()] Une erreur est survenue au chargement du fichier :\n" +
                  store.Paths().RepertoireAuto + "personnalisation.xml");
}

TEST_F(FtpRetrievalTest, DroppedTransferLeavesThePreviousCopyAndTheRunGoesOn) {
    FtpServerOptions options;
    options.dropAfterBytes = 100;
    FtpTestServer server(options);
    PublishDemoFiles(server);
    const std::string previous = "<RemisesAchat/>";
    WriteFile(store.Paths().RepertoireAuto + "remise_achat.xml", previous);
    SettingsFor(server, "Remise_Achat=1\nDocument=1\n");
    auto run = Run();
    const auto texts = Texts(*run);
    ASSERT_GE(texts.size(), 1u);
    EXPECT_EQ(texts[0], "[Fonction DownloadFile()] Une erreur est survenue.");
    EXPECT_EQ(ReadFile(store.Paths().RepertoireAuto + "remise_achat.xml"), previous);
    // The documents category was still attempted after the failure.
    EXPECT_GE(server.CountCommands("SIZE"), 2);
    for (const auto& entry : std::filesystem::directory_iterator(store.Paths().RepertoireAuto)) {
        EXPECT_EQ(entry.path().filename().string().find('.'),
                  entry.path().filename().string().rfind(".xml"))
            << "no temporary file is left: " << entry.path();
    }
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(FtpRetrievalTest, StalledTransferFailsAtTheStallLimit) {
    FtpServerOptions options;
    options.stallAfterBytes = 50;
    FtpTestServer server(options);
    PublishDemoFiles(server);
    SettingsFor(server, "Remise_Achat=1\n");
    const auto start = std::chrono::steady_clock::now();
    auto run = Run(1500);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(15));
    const auto texts = Texts(*run);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "[Fonction DownloadFile()] Une erreur est survenue.");
    EXPECT_FALSE(std::filesystem::exists(store.Paths().RepertoireAuto + "remise_achat.xml"));
}

TEST_F(FtpRetrievalTest, TlsOrSftpHeadOfficeNeedsOnlyItsSettingsLines) {
    {
        TestCertificate certificate("IP:127.0.0.1");
        FtpTestServer server(FtpServerOptions{.tlsCertificate = certificate.ServerPem()});
        PublishDemoFilesOn(server);
        ProtectedSettingsFor(
            server, "Securite=tls\nCertificatAC=" + certificate.Authority().string() + "\n");
        auto run = Run();
        EXPECT_TRUE(Texts(*run).empty());
        ExpectEverythingIntegrated(*run);
        EXPECT_EQ(server.CountCommands("AUTH TLS"), 1);
        EXPECT_EQ(server.CountCommands("USER"), 1);
        EXPECT_EQ(server.CountCommands("RETR"), 6);
    }
    {
        SftpTestServer server;
        PublishDemoFilesOn(server);
        ProtectedSettingsFor(server, "Securite=SFTP\nCleHote=" + server.Fingerprint() + "\n");
        auto run = Run();
        EXPECT_TRUE(Texts(*run).empty());
        ExpectEverythingIntegrated(*run);
        // No ASCII mode over SFTP: the files arrive as they are (CR LF lines here).
        EXPECT_EQ(ReadFile(store.Paths().RepertoireAuto + "message.xml"),
                  ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/message.xml"));
        EXPECT_EQ(server.PasswordAttempts(), 1);
    }
}

TEST_F(FtpRetrievalTest, ProtectionRefusalsGiveTheTwoEntriesAndFetchNothing) {
    TestCertificate certificate("IP:127.0.0.1");
    FtpTestServer tlsOnly(FtpServerOptions{.tlsCertificate = certificate.ServerPem()});
    FtpTestServer plain;
    SftpTestServer sftp;
    for (const char* name : kFiles) {
        tlsOnly.PutFile(name, "<x/>");
        plain.PutFile(name, "<x/>");
        sftp.PutFile(name, "<x/>");
    }
    auto expectRefused = [this](const std::string& says) {
        auto run = Run();
        const auto texts = Texts(*run);
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0].rfind(kConnexion + says, 0), 0u) << texts[0];
        EXPECT_EQ(texts[1], kPasConnecte);
        EXPECT_EQ(run->Display().Image(Categorie::Document, Colonne::Integration),
                  ImageState::Failure);
        EXPECT_TRUE(std::filesystem::is_empty(store.Paths().RepertoireAuto));
    };

    // TLS trusted by the system's store only: the test authority is unknown there.
    ProtectedSettingsFor(tlsOnly, "Securite=TLS\n");
    expectRefused("Certificat du serveur refusé : ");
    // Plain FTP against a server that requires TLS: its own refusal, no password in clear.
    ProtectedSettingsFor(tlsOnly, "Securite=Aucune\n");
    expectRefused("550 SSL/TLS required on the control channel.");
    EXPECT_EQ(tlsOnly.CountCommands("PASS"), 0);
    EXPECT_EQ(tlsOnly.CountCommands("RETR"), 0);

    // A value the program does not know: nothing is sent to any server.
    ProtectedSettingsFor(plain, "Securite=SSL\nCertificatAC=/etc/ssl/certs/ca-certificates.crt\n");
    expectRefused(
        "Valeur de « Securite » inconnue : « SSL » (valeurs possibles : Aucune, TLS, SFTP)");
    EXPECT_TRUE(plain.Commands().empty());

    // SFTP with a fingerprint that is not the server's: refused before the password.
    SftpTestServer other;
    ProtectedSettingsFor(sftp, "Securite=sftp\nCleHote=" + other.Fingerprint() + "\n");
    expectRefused("La clé d'hôte SSH du serveur ne correspond pas à « CleHote »");
    EXPECT_EQ(sftp.PasswordAttempts(), 0);
}

TEST_F(FtpRetrievalTest, RefusedGreetingIsReportedWithTheServersWholeReply) {
    FtpTestServer server(FtpServerOptions{.greeting421 = true});
    SettingsFor(server, kAll);
    auto run = Run();
    EXPECT_EQ(Texts(*run),
              (std::vector<std::string>{
                  std::string(kConnexion) +
                      "421-Service not available. 421 Please reconnect using TLS security "
                      "mechanisms.",
                  kPasConnecte}));
}

TEST_F(FtpRetrievalTest, ServerDoublingCrGivesTheFilesOwnTextToTheTable) {
    // A text attribute broken over two lines of a CR LF file; the server sends each line end
    // as CR CR LF in ASCII mode.
    std::string message =
        ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/message.xml");
    const std::string before = "Texte=\"Les ";
    ASSERT_NE(message.find(before), std::string::npos);
    message.replace(message.find(before), before.size(), "Texte=\"Les\r\n");
    FtpTestServer server(FtpServerOptions{.asciiCrCrLf = true});
    server.PutFile("message.xml", message);
    server.PutFile("message_type.xml", ReadFile(std::string(QUORVANE_SOURCE_DIR) +
                                                "/demo/headoffice/message_type.xml"));
    SettingsFor(server, "Message=1\n");
    auto run = Run();
    EXPECT_TRUE(Texts(*run).empty());
    EXPECT_EQ(ReadFile(store.Paths().RepertoireAuto + "message.xml"), message);
    EXPECT_EQ(run->Display().Image(Categorie::Message, Colonne::Integration), ImageState::Success);
    // The line break inside the value becomes one space, as in the file.
    EXPECT_EQ(store.One("Message.DB", "select Texte from Message where Code='HO-2026-12'"),
              "Les nouveautés arrivent en février : préparez vos vitrines.");
}

TEST(FtpSecuritySettingsTest, ValuesAndTheirDefaultPort) {
    const auto Settings = [](const char* securite) {
        FtpSecuritySettings settings;
        settings.Securite = securite;
        return settings;
    };
    for (const char* none : {"", "Aucune", "AUCUNE", "aucune"}) {
        EXPECT_EQ(ParseSecurite(none), FtpSecurity::None) << none;
        EXPECT_EQ(Settings(none).PortParDefaut(), 21);
    }
    EXPECT_EQ(ParseSecurite("Tls"), FtpSecurity::Tls);
    EXPECT_EQ(ParseSecurite("sFtp"), FtpSecurity::Sftp);
    EXPECT_EQ(Settings("sftp").PortParDefaut(), 22);
    for (const char* unknown : {"SSL", "FTPS", " TLS", "TLS ", "oui"}) {
        EXPECT_EQ(ParseSecurite(unknown), std::nullopt) << unknown;
        FtpClient client;
        EXPECT_THROW(Settings(unknown).Appliquer(client), FtpError);
    }
}

}  // namespace
}  // namespace quorvane::testing
