// Whole runs against a misbehaving FTP server on loopback: each fault ends with its exact
// entries, nothing half-written in the download folder, and a run that ends in bounded time
// with its report.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "base/TextConversion.h"
#include "support/FtpServers.h"
#include "support/StoreFixture.h"
#include "sync/SynchronizationRun.h"

namespace quorvane::testing {
namespace {

const std::string kPasConnecte =
    "[Fonction LancerTransfertFtp()] Vous n'êtes pas connecté au serveur FTP !";
const std::string kConnexionImpossible =
    "[Fonction LancerTransfertFtp() section : Quorvane_FTP] "
    "Impossible de se connecter au serveur FTP. Erreur ";
const std::string kTelechargement = "[Fonction DownloadFile()] Une erreur est survenue.";
const std::string kPlusConnecte =
    "[Fonction FileExistOnServer()] Vous n'êtes plus connecté au serveur FTP !";

// A window that takes its time to repaint: the pause lets a server's idle limit pass between
// the login and the first request.
class SlowView : public RunView {
  public:
    explicit SlowView(std::chrono::milliseconds pause) : pause_(pause) {}
    void ImageChanged(Categorie, Colonne, ImageState) override {}
    void ProgressChanged(Categorie, const ProgressState&) override {}
    void ProcessMessages(bool afterLine) override {
        if (!afterLine) {
            std::this_thread::sleep_for(pause_);
        }
    }

  private:
    std::chrono::milliseconds pause_;
};

// A TCP port that completes the handshake and then says nothing, ever: listening without
// accepting leaves the connection in the kernel's queue, greeting never sent.
class SilentListener {
  public:
    SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        if (fd_ < 0 || ::bind(fd_, generic, length) != 0 || ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, generic, &length) != 0) {
            throw std::runtime_error("cannot open a listening socket");
        }
        port_ = ntohs(address.sin_port);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    ~SilentListener() { ::close(fd_); }
    int Port() const { return port_; }

  private:
    int fd_;
    int port_ = 0;
};

struct RunResult {
    std::vector<std::string> texts;
    std::vector<std::string> warnings;  // the journal's lines of retried failures
    std::chrono::steady_clock::duration elapsed{};
    std::unique_ptr<SynchronizationRun> run;
};

class FtpFaultTest : public ::testing::Test {
  protected:
    StoreFixture store{StoreFixture::Tables::Demo};
    std::vector<std::string> opened;

    void Publish(const FtpTestServer& server, const std::string& name) const {
        server.PutFile(name,
                       ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/" + name));
    }
    void Settings(const std::string& categories, int port, const std::string& password,
                  int tentatives = 4) const {
        WriteFile(store.Paths().CheminIni,
                  "[Quorvane]\n" + categories + "TypeEnvoi=FTP\n[Quorvane_FTP]\nLogin=user\nMdp=" +
                      password + "\nHost=127.0.0.1\nPort=" + std::to_string(port) +
                      "\nTentatives=" + std::to_string(tentatives) + "\n");
    }
    RunResult Run(RunView* view = nullptr, long limitMs = 1500, FloorRate floor = {}) {
        RunOptions options;
        // The waits' growth and spread as in a store, from a shorter start.
        options.Retry.FirstWait = std::chrono::milliseconds(40);
        options.FtpFloor = floor;
        const std::filesystem::path journal = store.Paths().RepertoireProgramme + "journal.txt";
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> journalFile(
            std::fopen(journal.c_str(), "w"), &std::fclose);
        options.Journal = journalFile.get();
        options.OpenReport = [this](const std::string& p) { opened.push_back(p); };
        options.FtpStallLimitMs = limitMs;
        options.FtpResponseTimeoutMs = limitMs;
        options.FtpConnectTimeoutMs = limitMs;
        RunResult result;
        result.run = std::make_unique<SynchronizationRun>(store.Paths(), std::move(options));
        result.run->Display().SetView(view);
        const auto start = std::chrono::steady_clock::now();
        result.run->Run();
        result.elapsed = std::chrono::steady_clock::now() - start;
        journalFile.reset();
        for (const auto& line : LogLines(journal)) {
            if (line.find(", tentative ") != std::string::npos) {
                result.warnings.push_back(line);
            }
        }
        std::filesystem::remove(journal);
        for (const auto& e : result.run->State().Erreurs.Entries()) {
            result.texts.push_back(e.Texte);
            EXPECT_EQ(e.Code, 0) << e.Texte;
        }
        return result;
    }
    // The download folder holds exactly these names: no partial or temporary file.
    void ExpectDownloadFolder(const std::set<std::string>& names) const {
        std::set<std::string> found;
        for (const auto& entry :
             std::filesystem::directory_iterator(store.Paths().RepertoireAuto)) {
            found.insert(entry.path().filename().string());
        }
        EXPECT_EQ(found, names);
    }
    // The report was written with every entry, in order, and handed to the viewer once.
    void ExpectReport(const std::vector<std::string>& texts) const {
        ASSERT_EQ(opened, std::vector<std::string>{store.Paths().CheminRapport});
        const std::string report = Cp1252ToUtf8(ReadFile(store.Paths().CheminRapport));
        EXPECT_NE(report.find("Il y a eu " + std::to_string(texts.size()) +
                              " erreurs au cour de la synchronisation de la Quorvane client."),
                  std::string::npos);
        std::size_t at = 0;
        for (const auto& text : texts) {
            at = report.find(EscapeHtml(text), at);
            ASSERT_NE(at, std::string::npos) << text;
        }
    }
    void ExpectBothFailures(const RunResult& r, Categorie c) const {
        EXPECT_EQ(r.run->Display().Image(c, Colonne::Telechargement), ImageState::Failure);
        EXPECT_EQ(r.run->Display().Image(c, Colonne::Integration), ImageState::Failure);
    }
};

TEST_F(FtpFaultTest, RefusedLoginAndClosedGreetingStopBeforeAnyDownload) {
    {
        FtpTestServer server;
        Publish(server, "remise_achat.xml");
        Settings("Remise_Achat=1\n", server.Port(), "mauvais");
        const auto r = Run();
        ASSERT_EQ(r.texts.size(), 2u);
        EXPECT_EQ(r.texts[0].rfind(kConnexionImpossible, 0), 0u) << r.texts[0];
        EXPECT_NE(r.texts[0].find("530"), std::string::npos) << r.texts[0];
        EXPECT_EQ(r.texts[1], kPasConnecte);
        // A refused log-in is not tried again.
        EXPECT_EQ(server.CountCommands("USER"), 1);
        EXPECT_TRUE(r.warnings.empty());
        EXPECT_EQ(server.CountCommands("SIZE"), 0);
        ExpectBothFailures(r, Categorie::RemiseAchat);
        ExpectDownloadFolder({});
        ExpectReport(r.texts);
    }
    opened.clear();
    {
        FtpServerOptions options;
        options.closeAfterGreeting = true;
        FtpTestServer server(options);
        Publish(server, "remise_achat.xml");
        Settings("Remise_Achat=1\nMessage=1\n", server.Port(), server.Password());
        const auto r = Run();
        ASSERT_EQ(r.texts.size(), 2u);
        EXPECT_EQ(r.texts[0].rfind(kConnexionImpossible, 0), 0u) << r.texts[0];
        EXPECT_GT(r.texts[0].size(), kConnexionImpossible.size());
        EXPECT_EQ(r.texts[1], kPasConnecte);
        // Closed before a word: tried the four times, each retried failure told once.
        ASSERT_EQ(r.warnings.size(), 3u);
        EXPECT_NE(r.warnings[2].find("Connexion au serveur FTP, tentative 3 sur 4"),
                  std::string::npos)
            << r.warnings[2];
        EXPECT_EQ(r.run->State().Reprises, 3);
        ExpectBothFailures(r, Categorie::RemiseAchat);
        ExpectBothFailures(r, Categorie::Message);
        ExpectDownloadFolder({});
        ExpectReport(r.texts);
        EXPECT_LT(r.elapsed, std::chrono::seconds(10));
    }
}

TEST_F(FtpFaultTest, SilentServerIsGivenUpAtTheResponseLimit) {
    SilentListener silent;
    Settings("Remise_Achat=1\nDocument=1\n", silent.Port(), "secret", 2);
    const auto r = Run(nullptr, 1000);
    // One limit for each attempt's greeting; the run does not wait on the server any further.
    EXPECT_LT(r.elapsed, std::chrono::seconds(15));
    EXPECT_EQ(r.warnings.size(), 1u);
    ASSERT_EQ(r.texts.size(), 2u);
    EXPECT_EQ(r.texts[0].rfind(kConnexionImpossible, 0), 0u) << r.texts[0];
    EXPECT_EQ(r.texts[1], kPasConnecte);
    ExpectBothFailures(r, Categorie::RemiseAchat);
    ExpectBothFailures(r, Categorie::Document);
    ExpectDownloadFolder({});
    ExpectReport(r.texts);
}

TEST_F(FtpFaultTest, TransferThatNeverSendsAByteFailsAtTheStallLimit) {
    FtpServerOptions options;
    options.stallAfterBytes = 0;
    FtpTestServer server(options);
    Publish(server, "remise_achat.xml");
    Publish(server, "personnalisation.xml");
    WriteFile(store.Paths().RepertoireAuto + "remise_achat.xml", "<RemisesAchat/>");
    Settings("Remise_Achat=1\nPersonnalisation=1\n", server.Port(), server.Password(), 2);
    // The stall limit runs from the start of the request, so the commands before RETR count
    // towards it: a limit well above their round trips keeps a loaded machine from failing the
    // download before it is asked for.
    const auto r = Run(nullptr, 3000);
    EXPECT_LT(r.elapsed, std::chrono::seconds(30));
    // The aborted transfer's connection is never used again: every attempt after it logs in
    // on a new one.
    ASSERT_EQ(r.texts, (std::vector<std::string>{kTelechargement, kTelechargement}));
    EXPECT_EQ(server.CountCommands("RETR"), 4);
    EXPECT_EQ(server.CountCommands("USER"), 4);
    EXPECT_EQ(r.warnings.size(), 2u);
    ExpectBothFailures(r, Categorie::RemiseAchat);
    ExpectBothFailures(r, Categorie::Personnalisation);
    // The earlier copy stays as it was; no partial file is left beside it.
    EXPECT_EQ(ReadFile(store.Paths().RepertoireAuto + "remise_achat.xml"), "<RemisesAchat/>");
    ExpectDownloadFolder({"remise_achat.xml"});
    ExpectReport(r.texts);
}

TEST_F(FtpFaultTest, TransferCutShortIsRefusedEvenWhenTheServerSaysComplete) {
    for (const bool replyOk : {false, true}) {
        SCOPED_TRACE(replyOk ? "226 after the cut" : "426 after the cut");
        opened.clear();
        std::filesystem::remove_all(store.Paths().RepertoireAuto);
        std::filesystem::create_directories(store.Paths().RepertoireAuto);
        FtpServerOptions options;
        options.dropAfterBytes = 120;
        options.dropReplyOk = replyOk;
        FtpTestServer server(options);
        Publish(server, "message.xml");
        Publish(server, "message_type.xml");
        WriteFile(store.Paths().RepertoireAuto + "message.xml", "<Messages/>");
        Settings("Message=1\n", server.Port(), server.Password());
        const auto r = Run();
        ASSERT_EQ(r.texts, std::vector<std::string>{kTelechargement});
        // Fetched from its start at each of the four attempts; the second file of the
        // category is not asked for once the first failed.
        EXPECT_EQ(server.CountCommands("RETR"), 4);
        for (const auto& command : server.Commands()) {
            EXPECT_TRUE(command.rfind("REST", 0) != 0 || command == "REST 0") << command;
        }
        ExpectBothFailures(r, Categorie::Message);
        // The previous whole copy stays until a whole file arrives.
        ExpectDownloadFolder({"message.xml"});
        EXPECT_EQ(ReadFile(store.Paths().RepertoireAuto + "message.xml"), "<Messages/>");
        ExpectReport(r.texts);
        EXPECT_EQ(store.One("Message.DB",
                            "select count(*) from Message where Code like "
                            "'HO-2026-1_'"),
                  "0");
    }
}

TEST_F(FtpFaultTest, ConnectionLostBetweenFilesIsMadeAgainBeforeTheNext) {
    struct Case {
        const char* name;
        double idleSeconds;
        int closeAfterCommands;
        int faultySessions;
        int logins;
    };
    // pyftpdlib's idle limit answers 421 then closes, between every two files; the other
    // closes the first session without a word once the login's commands are answered.
    for (const Case c : {Case{"421 idle", 0.5, -1, -1, 3}, Case{"close after login", 0, 3, 1, 2}}) {
        SCOPED_TRACE(c.name);
        opened.clear();
        FtpServerOptions options;
        options.idleTimeoutSeconds = c.idleSeconds;
        options.closeAfterCommands = c.closeAfterCommands;
        options.faultySessions = c.faultySessions;
        FtpTestServer server(options);
        Publish(server, "remise_achat.xml");
        Publish(server, "mes_docs.xml");
        Publish(server, "mes_docs_type.xml");
        Settings("Remise_Achat=1\nDocument=1\n", server.Port(), server.Password());
        SlowView view(std::chrono::milliseconds(1500));
        const auto r = Run(&view);
        EXPECT_TRUE(r.texts.empty()) << r.texts.front();
        // Made again with the same settings, as an attempt of the file that needed it.
        EXPECT_GE(server.CountCommands("USER"), c.logins);
        EXPECT_EQ(r.run->Display().Image(Categorie::Document, Colonne::Integration),
                  ImageState::Success);
        ExpectDownloadFolder({"remise_achat.xml", "mes_docs.xml", "mes_docs_type.xml"});
        EXPECT_TRUE(opened.empty());
    }
}

// A window that stops the server at its first repaint: the session is gone after the login,
// and no connection can be made again.
class StoppingView : public RunView {
  public:
    explicit StoppingView(FtpTestServer& server) : server_(server) {}
    void ImageChanged(Categorie, Colonne, ImageState) override {}
    void ProgressChanged(Categorie, const ProgressState&) override {}
    void ProcessMessages(bool) override { server_.Stop(); }

  private:
    FtpTestServer& server_;
};

TEST_F(FtpFaultTest, ConnectionThatCannotBeMadeAgainGivesTheNotConnectedEntries) {
    FtpTestServer server;
    Publish(server, "remise_achat.xml");
    Publish(server, "mes_docs.xml");
    Settings("Remise_Achat=1\nDocument=1\n", server.Port(), server.Password(), 2);
    StoppingView view(server);
    const auto r = Run(&view);
    EXPECT_EQ(r.texts, (std::vector<std::string>{kPlusConnecte, kPlusConnecte}));
    EXPECT_EQ(r.warnings.size(), 2u);
    EXPECT_EQ(r.run->State().Reprises, 2);
    ExpectBothFailures(r, Categorie::RemiseAchat);
    ExpectBothFailures(r, Categorie::Document);
    ExpectDownloadFolder({});
    ExpectReport(r.texts);
}

TEST_F(FtpFaultTest, RefusedSizeQueryFetchesWhatTheListingShows) {
    // The server refuses SIZE for every file with the 550 it gives for a missing one.
    for (int refusal : {550, 502}) {
        SCOPED_TRACE(refusal);
        std::filesystem::remove_all(store.Paths().RepertoireAuto);
        std::filesystem::create_directories(store.Paths().RepertoireAuto);
        FtpServerOptions options;
        options.refuseSize = refusal;
        FtpTestServer server(options);
        Publish(server, "remise_achat.xml");
        Publish(server, "message.xml");  // "message_type.xml" is not there
        Settings("Remise_Achat=1\nMessage=1\nDocument=1\n", server.Port(), server.Password());
        const auto r = Run();
        EXPECT_TRUE(r.texts.empty()) << r.texts.front();
        EXPECT_EQ(server.CountCommands("SIZE"), 4);
        EXPECT_EQ(server.CountCommands("RETR"), 2);
        EXPECT_EQ(r.run->Display().Image(Categorie::RemiseAchat, Colonne::Integration),
                  ImageState::Success);
        // The published file has CR LF lines; the ASCII download gives them as LF.
        std::string expected =
            ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/remise_achat.xml");
        for (auto at = expected.find("\r\n"); at != std::string::npos; at = expected.find("\r\n")) {
            expected.erase(at, 1);
        }
        EXPECT_EQ(ReadFile(store.Paths().RepertoireAuto + "remise_achat.xml"), expected);
        // Files the listing does not show stay absent, without an entry.
        ExpectBothFailures(r, Categorie::Message);
        ExpectBothFailures(r, Categorie::Document);
        ExpectDownloadFolder({"remise_achat.xml", "message.xml"});
        EXPECT_FALSE(std::filesystem::exists(store.Paths().CheminRapport));
        EXPECT_TRUE(opened.empty());
    }
}

// Behind a NAT that forgets the control connection during a long transfer: the file's every
// byte came over the data connection, so it is kept; the silent session is never used again.
TEST_F(FtpFaultTest, ControlConnectionGoneSilentDuringATransferKeepsTheFile) {
    FtpTestServer server;
    Publish(server, "message.xml");
    Publish(server, "message_type.xml");
    ServerProcess relay;
    const int port =
        std::stoi(relay
                      .Start({"/usr/bin/python3", QUORVANE_SOURCE_DIR "/tests/ftp/silent_relay.py",
                              "--target", std::to_string(server.Port())},
                             1)
                      .front());
    // One attempt only: nothing here needs trying again.
    Settings("Message=1\n", port, server.Password(), 1);
    const auto r = Run(nullptr, 1500);
    EXPECT_TRUE(r.texts.empty()) << r.texts.front();
    EXPECT_EQ(server.CountCommands("RETR"), 2);
    EXPECT_EQ(server.CountCommands("USER"), 2);
    EXPECT_EQ(r.run->Display().Image(Categorie::Message, Colonne::Integration),
              ImageState::Success);
    EXPECT_LT(r.elapsed, std::chrono::seconds(30));
}

// A window that stops sshd with its sessions at the run's first repaint and starts it again at
// the next (the first wait between two attempts).
class SshdRestartView : public RunView {
  public:
    explicit SshdRestartView(OpenSshTestServer& server) : server_(server) {}
    void ImageChanged(Categorie, Colonne, ImageState) override {}
    void ProgressChanged(Categorie, const ProgressState&) override {}
    void ProcessMessages(bool afterLine) override {
        if (afterLine) {
            return;
        }
        ++calls_;
        if (calls_ == 1) {
            server_.StopWithSessions();
        } else if (calls_ == 2) {
            server_.Restart();
        }
    }

  private:
    OpenSshTestServer& server_;
    int calls_ = 0;
};

TEST_F(FtpFaultTest, SshdRestartedDuringARunIsReconnectedTo) {
    if (!OpenSshTestServer::Available()) {
        GTEST_SKIP() << "sshd is not installed";
    }
    OpenSshTestServer server({"ed25519"});
    for (const char* name : {"message.xml", "message_type.xml"}) {
        server.PutFile(name,
                       ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/" + name));
    }
    WriteFile(store.Paths().CheminIni,
              "[Quorvane]\nMessage=1\nTypeEnvoi=FTP\n[Quorvane_FTP]\nLogin=" + server.User() +
                  "\nMdp=" + server.Password() +
                  "\nHost=127.0.0.1\nPort=" + std::to_string(server.Port()) +
                  "\nSecurite=SFTP\nCleHote=" + server.Fingerprint("ed25519") + "\n");
    SshdRestartView view(server);
    const auto r = Run(&view, 10000);
    EXPECT_TRUE(r.texts.empty()) << r.texts.front();
    EXPECT_GE(r.run->State().Reprises, 1);
    ASSERT_FALSE(r.warnings.empty());
    EXPECT_NE(r.warnings[0].find("tentative 1 sur 4"), std::string::npos) << r.warnings[0];
    EXPECT_EQ(r.run->Display().Image(Categorie::Message, Colonne::Integration),
              ImageState::Success);
}

TEST_F(FtpFaultTest, SftpTransferBelowTheFloorIsFetchedAgainOnANewSession) {
    // 32 KiB a read, each answered after half a second: 64 KiB/s against a floor of 256 KiB/s.
    SftpTestServer server(SftpTestServer::Behaviour::Plain, "127.0.0.1",
                          std::chrono::milliseconds(500));
    std::string large =
        ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/remise_achat.xml");
    large += "<!--" + std::string(600000, 'x') + "-->\r\n";
    server.PutFile("remise_achat.xml", large);
    WriteFile(store.Paths().CheminIni,
              "[Quorvane]\nRemise_Achat=1\nTypeEnvoi=FTP\n[Quorvane_FTP]\nLogin=" + server.User() +
                  "\nMdp=" + server.Password() +
                  "\nHost=127.0.0.1\nPort=" + std::to_string(server.Port()) +
                  "\nSecurite=SFTP\nCleHote=" + server.Fingerprint() + "\n");
    const auto r = Run(nullptr, 3000, FloorRate{262144, std::chrono::milliseconds(2000)});
    EXPECT_TRUE(r.texts.empty()) << r.texts.front();
    ASSERT_EQ(r.warnings.size(), 1U);
    EXPECT_NE(r.warnings[0].find("moins de 262144 octets par seconde pendant 2 s"),
              std::string::npos)
        << r.warnings[0];
    EXPECT_EQ(r.run->State().Reprises, 1);
    EXPECT_EQ(ReadFile(store.Paths().RepertoireAuto + "remise_achat.xml"), large);
    // Given up after its window, not after the 10 s the slow session would have taken.
    EXPECT_LT(r.elapsed, std::chrono::seconds(8));
}

// Faults of a moment that a later attempt rides out: the run ends as if nothing had happened,
// save for the journal's lines and the count of retried failures.
TEST_F(FtpFaultTest, FailuresOfAMomentAreRiddenOut) {
    std::string large =
        ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice/remise_achat.xml");
    large += "<!--" + std::string(30000, 'x') + "-->\r\n";
    struct Case {
        const char* name;
        FtpServerOptions options;
        const char* told;
    };
    FtpServerOptions refused;
    refused.greeting421 = true;
    refused.faultySessions = 2;
    FtpServerOptions cut;
    cut.dropAfterBytes = 300;
    cut.dropReplyOk = true;
    cut.faultySessions = 1;
    FtpServerOptions stalled;
    stalled.stallAfterBytes = 300;
    stalled.faultySessions = 1;
    FtpServerOptions trickle;
    trickle.trickleBytesPerSecond = 1000;
    trickle.faultySessions = 1;
    for (const Case& c :
         {Case{"421 twice", refused, "421"}, Case{"cut, answered 226", cut, "transfert incomplet"},
          Case{"stalled", stalled, "Transfert interrompu"},
          Case{"below the floor", trickle, "moins de 4096 octets"}}) {
        SCOPED_TRACE(c.name);
        opened.clear();
        std::filesystem::remove_all(store.Paths().RepertoireAuto);
        std::filesystem::create_directories(store.Paths().RepertoireAuto);
        FtpTestServer server(c.options);
        server.PutFile("remise_achat.xml", large);
        Settings("Remise_Achat=1\n", server.Port(), server.Password());
        const auto r = Run(nullptr, 3000, FloorRate{4096, std::chrono::milliseconds(2000)});
        EXPECT_TRUE(r.texts.empty()) << r.texts.front();
        ASSERT_FALSE(r.warnings.empty());
        EXPECT_NE(r.warnings[0].find("tentative 1 sur 4"), std::string::npos) << r.warnings[0];
        EXPECT_NE(r.warnings[0].find(c.told), std::string::npos) << r.warnings[0];
        EXPECT_EQ(r.run->State().Reprises, static_cast<std::int64_t>(r.warnings.size()));
        EXPECT_EQ(r.run->Display().Image(Categorie::RemiseAchat, Colonne::Integration),
                  ImageState::Success);
        ExpectDownloadFolder({"remise_achat.xml"});
        EXPECT_EQ(
            ReadFile(store.Paths().RepertoireAuto + "remise_achat.xml").size(),
            large.size() - static_cast<std::size_t>(std::count(large.begin(), large.end(), '\r')));
        EXPECT_FALSE(std::filesystem::exists(store.Paths().CheminRapport));
    }
}

}  // namespace
}  // namespace quorvane::testing
