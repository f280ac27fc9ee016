#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include "support/FtpServers.h"
#include "support/SignedSets.h"
#include "support/StoreFixture.h"
#include "sync/RunLock.h"

namespace quorvane::testing {
namespace {

// The real program copied into a store folder made like the demo's, in folder mode, started
// without a display with the arguments given; its standard output in out.txt, its standard
// error in err.txt (both in out.txt when apart is false). Returns its exit code.
int RunProgram(const TempDir& dir, const std::string& arguments, bool apart = true) {
    const std::string command = "cd '" + dir.Folder() +
                                "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                "-u JOURNAL_STREAM PATH='" +
                                dir.Folder() +
                                "bin':\"$PATH\" timeout 120 "
                                "./QuorvaneClient " +
                                arguments + (apart ? " > out.txt 2> err.txt" : " > out.txt 2>&1");
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void PrepareDemoFolder(const StoreFixture& fixture, const std::string& extraMessageLine = "") {
    const TempDir& dir = fixture.Dir();
    const std::filesystem::path root = dir.Path();
    const std::filesystem::path store = fixture.StoreDir();
    std::filesystem::copy(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice", root / "source");
    if (!extraMessageLine.empty()) {
        std::string message = ReadFile(root / "source" / "message.xml");
        message.insert(message.find("  </Lignes>"), extraMessageLine);
        WriteFile(root / "source" / "message.xml", message);
    }
    WriteFile(store / "ombbde.ini", "[Alias]\r\nOmbrelin=" + store.string() + "\r\n");
    WriteFile(root / "QuorvaneClient.ini",
              "[Setup]\r\nDir=" + store.string() +
                  "\r\n[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=1\r\nMessage=1\r\n"
                  "Document=1\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=" +
                  (root / "source").string() + "\r\n");
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient",
                               root / "QuorvaneClient");
    WriteViewerStandIn(root / "bin", dir.Path() / "opened.txt");
}

// Every file under the folder with its bytes, the program's own output files left out.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name != "out.txt" && name != "err.txt") {
            files[entry.path().string()] = ReadFile(entry.path());
        }
    }
    return files;
}

// The real program synchronizing in folder mode without a display: every category integrated,
// what it changed counted as the tables show it, and it ends by itself.
TEST(ProgramRun, FolderModeIntegratesTheDemoStoreAndCountsWhatItChanged) {
    const StoreFixture fixture(StoreFixture::Tables::Demo);
    const TempDir& dir = fixture.Dir();
    const std::filesystem::path root = dir.Path();
    const std::filesystem::path store = fixture.StoreDir();
    // A line whose key the store already holds: refused, the others still integrated.
    PrepareDemoFolder(fixture, "    <Ligne Code=\"MAG-001\" Externe=\"5\" Titre=\"Doublon\"/>\n");
    const auto admin = store / "Administration";
    const char* tables[] = {"REMISES", "Perso", "Message", "MessageType", "MesDocs", "MesDocsType"};
    std::vector<long> rowsBefore;
    for (const char* table : tables) {
        rowsBefore.push_back(std::stol(
            Rows(admin / (std::string(table) + ".DB"), "SELECT count(*) FROM " + std::string(table))
                .at(0)));
    }
    EXPECT_EQ(RunProgram(dir, "", false), 0) << ReadFile(root / "out.txt");

    // The one refusal is the report's only entry; without a display the report is named in the
    // journal, not handed to a viewer.
    const auto statusFile = nlohmann::json::parse(ReadFile(root / "QuorvaneClientStatus.json"));
    ASSERT_EQ(statusFile["entryCount"], 1);
    const std::string kRefusal = statusFile["entries"][0]["text"];
    EXPECT_EQ(kRefusal.rfind("[Fonction MessageInsertRecords()] Erreur à l'insertion de "
                             "l'enregistrement ",
                             0),
              0u);
    EXPECT_EQ(statusFile["report"], (root / "QuorvaneClientAutoLog.html").string());
    EXPECT_FALSE(std::filesystem::exists(root / "opened.txt"));

    // Off the journal the lines are plain; the closing line sums each category's files.
    const std::string output = ReadFile(root / "out.txt");
    const std::string told =
        "Début de la synchronisation : QuorvaneClient " QUORVANE_VERSION
        ", mode URI, catégories : Conditions d'achats, Personnalisation des modèles, Messages, "
        "Documents\n"
        "Erreur (code 1) : " +
        kRefusal +
        "\n"
        "Fin de la synchronisation : Conditions d'achats téléchargement oui, intégration oui (6 "
        "lignes, 4 remplacées, 5 ajoutées, 0 refusée) ; Personnalisation des modèles "
        "téléchargement oui, intégration oui (3 lignes, 2 remplacées, 3 ajoutées, 0 refusée) ; "
        "Messages téléchargement oui, intégration oui (6 lignes, 4 purgées, 5 ajoutées, 1 "
        "refusée) ; Documents téléchargement oui, intégration oui (4 lignes, 2 purgées, 4 "
        "ajoutées, 0 refusée) ; 1 erreur, rapport " +
        (root / "QuorvaneClientAutoLog.html").string() + "\n";
    EXPECT_NE(output.find(told), std::string::npos) << output;
    EXPECT_EQ(output.find("<6>"), std::string::npos) << output;
    EXPECT_EQ(statusFile["mode"], "URI");

    // Each file's counts are what its table shows: rows before, less those deleted, plus those
    // inserted; every line is inserted, refused, or (purchase conditions of a supplier the
    // store does not know) left out.
    const std::vector<std::string> kCountLines = {
        "REMISES.DB (remise_achat.xml) : 6 lignes, 4 remplacées, 5 ajoutées, 0 refusée",
        "Perso.DB (personnalisation.xml) : 3 lignes, 2 remplacées, 3 ajoutées, 0 refusée",
        "Message.DB (message.xml) : 3 lignes, 2 purgées, 2 ajoutées, 1 refusée",
        "MessageType.DB (message_type.xml) : 3 lignes, 2 purgées, 3 ajoutées, 0 refusée",
        "MesDocs.DB (mes_docs.xml) : 2 lignes, 1 purgée, 2 ajoutées, 0 refusée",
        "MesDocsType.DB (mes_docs_type.xml) : 2 lignes, 1 purgée, 2 ajoutées, 0 refusée"};
    // The same files once more replace or purge exactly what this run inserted.
    std::vector<std::string> again;
    const auto count = [](long n, const std::string& word) {
        return std::to_string(n) + " " + word + (n > 1 ? "s" : "");
    };
    std::size_t index = 0;
    for (const char* key : {"Remise_Achat", "Personnalisation", "Message", "Document"}) {
        const auto& category = statusFile["categories"][key];
        EXPECT_TRUE(category["enabled"] && category["downloaded"] && category["integrated"]) << key;
        for (const auto& file : category["files"]) {
            const std::string table = tables[index];
            EXPECT_EQ(file["table"], table + ".DB");
            EXPECT_TRUE(file["read"]);
            EXPECT_EQ(file["refusedNotListed"], 0);
            EXPECT_EQ(
                std::stol(Rows(admin / (table + ".DB"), "SELECT count(*) FROM " + table).at(0)),
                rowsBefore[index] - file["deleted"].get<long>() + file["inserted"].get<long>())
                << table;
            const long lines = file["lines"], deleted = file["deleted"],
                       inserted = file["inserted"], refused = file["refused"];
            const std::string word = index < 2 ? "remplacée" : "purgée";
            const std::string name = table + ".DB (" + file["file"].get<std::string>() + ") : ";
            EXPECT_EQ(kCountLines[index],
                      name + count(lines, "ligne") + ", " + count(deleted, word) + ", " +
                          count(inserted, "ajoutée") + ", " + count(refused, "refusée"));
            again.push_back("  " + name + count(lines, "ligne") + ", " + count(inserted, word) +
                            ", " + count(inserted, "ajoutée") + ", " + count(refused, "refusée") +
                            "\n");
            ++index;
        }
    }
    EXPECT_EQ(index, 6u);
    EXPECT_EQ(ReadFile(root / "Auto" / "message_type.xml"),
              ReadFile(root / "source" / "message_type.xml"));

    EXPECT_EQ(Rows(admin / "REMISES.DB",
                   "SELECT Fournisseur, Type, Client, Famille, Libelle, Taux, Franco, DateDebut, "
                   "Cumulable FROM REMISES ORDER BY 1, 2, 3, 4"),
              (std::vector<std::string>{
                  "ALPINA|1||MONT|Remise négociée magasin|3|0|2026-01-01|1",
                  "ALPINA|2||MONT|Remise réseau montures 2027|13.5|150|2027-01-01|0",
                  "ALPINA|2||SOL|Remise réseau solaires été|11.25|1500|2027-01-01|0",
                  "ALPINA|2|C0042|MONT|Condition client Dupré|15|0|2026-03-01|0",
                  "BOREAL|2||LENT|Lentilles : opération «Clarté»|9|200|2027-01-01|1",
                  "BOREAL|3||LENT|Promotion locale|5|0|2026-06-01|1",
                  "CELESTE|2||TRAIT|Traitement anti-reflet|6|NULL|2027-01-01|0",
                  "CELESTE|2||VERR|Verres progressifs|21.75|300|2027-01-01|0",
                  "DIVERS|2||ACC|Accessoires|4|0|2024-01-01|0"}));
    EXPECT_EQ(
        Rows(admin / "Perso.DB",
             "SELECT Groupe, Modele, Fournisseur, Produit, Libelle, PrixConseille FROM "
             "Perso ORDER BY Groupe, Modele, Fournisseur, Produit"),
        (std::vector<std::string>{
            "1|AURORE|||Aurore – édition réseau|95", "1|AURORE|ALPINA||Aurore chez Alpina|85",
            "1|BRISE|||Brise|99", "2|ÉTÉ|||Été polarisé|64.9", "2|ÉTÉ||P-778|Été produit 778|61",
            "3|JOUR|||Lentilles jour (magasin)|25", "4|ÉTUI|||Étui rigide|12"}));
    EXPECT_EQ(Rows(admin / "Message.DB", "SELECT Code, Externe FROM Message ORDER BY Code"),
              (std::vector<std::string>{"HO-2026-11|5", "HO-2026-12|5", "MAG-001|0", "MAG-002|0"}));
    EXPECT_EQ(Rows(admin / "MessageType.DB", "SELECT * FROM MessageType ORDER BY Code"),
              (std::vector<std::string>{"1|5|Information", "2|5|Commercial", "3|0|Magasin",
                                        "4|5|Qualité"}));
    EXPECT_EQ(
        Rows(admin / "MesDocs.DB", "SELECT Code, Publication FROM MesDocs ORDER BY Code"),
        (std::vector<std::string>{"DOC-2027|2026-12-01 08:30:00", "DOC-SEC|2026-11-20 10:00:00",
                                  "MAG-PROC|2024-11-02 14:30:00"}));
    EXPECT_EQ(Rows(admin / "MesDocsType.DB", "SELECT * FROM MesDocsType ORDER BY Code"),
              (std::vector<std::string>{"1|5|Catalogue", "2|0|Procédure", "3|5|Sécurité"}));

    // The same files again, as a dry run: the same counts and the entry told on standard
    // output, and not one byte of the store, Auto/, the report or the status file changed.
    const auto before = Snapshot(root);
    EXPECT_EQ(RunProgram(dir, "--dry-run"), 1) << ReadFile(root / "err.txt");
    EXPECT_EQ(Snapshot(root), before);
    const std::string dry = ReadFile(root / "out.txt");
    for (const std::string& line : again) {
        EXPECT_NE(dry.find(line), std::string::npos) << line << "\n" << dry;
    }
    EXPECT_NE(dry.find("1 entrée que le rapport aurait contenue :\nErreur (code 1) : " + kRefusal),
              std::string::npos)
        << dry;
    EXPECT_EQ(ReadFile(root / "err.txt"), "");
}

TEST(ProgramRun, DryRunWaitsForNoRunAndTouchesNothingWhileOneHoldsTheLock) {
    const StoreFixture fixture(StoreFixture::Tables::Demo);
    const TempDir& dir = fixture.Dir();
    PrepareDemoFolder(fixture);
    {
        // The lock file stays from one run to the next: the one earlier runs left is part of
        // the folder as it was.
        const RunLock earlier = RunLock::Take(dir.Folder());
    }
    const auto before = Snapshot(dir.Path());
    {
        const RunLock held = RunLock::Take(dir.Folder());
        ASSERT_EQ(held.State(), RunLock::Result::Held);
        EXPECT_EQ(RunProgram(dir, "--dry-run"), 2);
        EXPECT_EQ(ReadFile(dir.Path() / "err.txt"), "Une synchronisation est déjà en cours.\n");
        EXPECT_EQ(ReadFile(dir.Path() / "out.txt"), "");
    }
    EXPECT_EQ(Snapshot(dir.Path()), before);
    // Once the lock is free, the demo's files would change the store without an entry.
    EXPECT_EQ(RunProgram(dir, "--dry-run"), 0) << ReadFile(dir.Path() / "out.txt");
    EXPECT_NE(ReadFile(dir.Path() / "out.txt")
                  .find("Aucune entrée : le rapport n'aurait pas été écrit.\n"),
              std::string::npos);
    EXPECT_EQ(Snapshot(dir.Path()), before);
}

// The connection test of the FTP settings window, from the command line, against each kind of
// server: a good password connects and says which head-office files the server holds, a wrong
// one fails with the server's refusal, and the test logs in once and fetches nothing.
TEST(ProgramRun, CheckConnectionConnectsWithTheSavedAccountOnly) {
    const TempDir dir;
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient",
                               dir.Path() / "QuorvaneClient");
    const auto check = [&dir](int port, const std::string& user, const std::string& password,
                              const std::string& protection) {
        WriteFile(dir.Path() / "QuorvaneClient.ini",
                  "[Quorvane]\r\nMessage=1\r\nTypeEnvoi=FTP\r\n[Quorvane_FTP]\r\nLogin=" + user +
                      "\r\nMdp=" + password + "\r\nHost=127.0.0.1\r\nPort=" + std::to_string(port) +
                      "\r\n" + protection);
        const int code = RunProgram(dir, "--check-connection");
        return std::to_string(code) + " " + ReadFile(dir.Path() / "out.txt");
    };
    // What the server holds of the six files, as --check-connection lists them.
    const auto listing = [](const std::string& remiseAchat, const std::string& message) {
        return "remise_achat.xml : " + remiseAchat +
               "\npersonnalisation.xml : absent du serveur\nmessage.xml : " + message +
               "\nmessage_type.xml : absent du serveur\nmes_docs.xml : absent du serveur\n"
               "mes_docs_type.xml : absent du serveur\n";
    };
    const std::string route = "Adresse du serveur jointe : 127.0.0.1 (IPv4), sans proxy\n";
    const std::string established = "0 Connection établie avec le serveur FTP\n" + route +
                                    listing("présent, 5 octets", "présent, 0 octets");
    const auto publish = [](const auto& server) {
        server.PutFile("remise_achat.xml", "<a/>\n");
        server.PutFile("message.xml", "");
    };
    const std::string refused = "1 Impossible de se connecter au serveur FTP. Erreur ";
    {
        FtpTestServer server;
        publish(server);
        EXPECT_EQ(check(server.Port(), server.User(), server.Password(), ""), established);
        EXPECT_EQ(check(server.Port(), server.User(), "faux", "").rfind(refused, 0), 0u);
        EXPECT_EQ(server.CountCommands("USER"), 2);
        EXPECT_EQ(server.CountCommands("RETR") + server.CountCommands("STOR"), 0);
    }
    {
        TestCertificate certificate("IP:127.0.0.1");
        FtpTestServer server(FtpServerOptions{.tlsCertificate = certificate.ServerPem()});
        publish(server);
        const std::string tls = "Securite=TLS\r\nCertificatAC=" + certificate.Authority().string();
        EXPECT_EQ(check(server.Port(), server.User(), server.Password(), tls), established);
        EXPECT_EQ(check(server.Port(), server.User(), "faux", tls).rfind(refused, 0), 0u);
        EXPECT_EQ(server.CountCommands("AUTH TLS"), 2);
    }
    {
        SftpTestServer server;
        publish(server);
        const std::string sftp = "Securite=SFTP\r\nCleHote=" + server.Fingerprint();
        EXPECT_EQ(check(server.Port(), server.User(), server.Password(), sftp), established);
        EXPECT_EQ(check(server.Port(), server.User(), "faux", sftp).rfind(refused, 0), 0u);
        EXPECT_EQ(server.PasswordAttempts(), 2);
    }
    {
        // With a public key set, the signed manifest on the server is verified too.
        FtpTestServer server;
        const MinisignKey key(dir.Path() / "cles");
        server.PutFile("message.xml", "<Messages/>");
        key.Publish(server.Root(), 3);
        const std::string signature = "[Quorvane_Signature]\r\nClePublique=" + key.PublicLine();
        const std::string files = listing("absent du serveur", "présent, 11 octets");
        EXPECT_EQ(check(server.Port(), server.User(), server.Password(), signature),
                  "0 Connection établie avec le serveur FTP\n" + route + files +
                      "Manifeste signé du siège valide (génération 3)\n");
        std::filesystem::remove(server.Root() / "quorvane.manifest.minisig");
        EXPECT_EQ(check(server.Port(), server.User(), server.Password(), signature),
                  "1 Connection établie avec le serveur FTP\n" + route + files +
                      "[Fonction VerifierManifeste()] Le manifeste signé du siège est introuvable "
                      ": quorvane.manifest.minisig\n");
        EXPECT_FALSE(std::filesystem::exists(dir.Path() / "QuorvaneClientGeneration"));
    }
    std::filesystem::remove(dir.Path() / "QuorvaneClient.ini");
    EXPECT_EQ(RunProgram(dir, "--check-connection"), 1);
    EXPECT_EQ(ReadFile(dir.Path() / "out.txt").rfind("Erreur le fichier ", 0), 0u);
}

}  // namespace
}  // namespace quorvane::testing
