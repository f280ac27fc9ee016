#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "support/StoreFixture.h"

namespace quorvane::testing {
namespace {

// The real program, copied into a store folder made like the demo's, synchronizing in folder mode
// without a display: every category integrated, no report, and it ends by itself.
TEST(ProgramRun, FolderModeIntegratesTheDemoStoreWithoutAReport) {
    const StoreFixture fixture(StoreFixture::Tables::Demo);
    const TempDir& dir = fixture.Dir();
    const std::filesystem::path root = dir.Path();
    const std::filesystem::path store = fixture.StoreDir();
    std::filesystem::copy(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice", root / "source");
    WriteFile(store / "ombbde.ini", "[Alias]\r\nOmbrelin=" + store.string() + "\r\n");
    WriteFile(root / "QuorvaneClient.ini",
              "[Setup]\r\nDir=" + store.string() +
                  "\r\n[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=1\r\nMessage=1\r\n"
                  "Document=1\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=" +
                  (root / "source").string() + "\r\n");
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient",
                               root / "QuorvaneClient");
    WriteViewerStandIn(root / "bin", dir.Path() / "opened.txt");

    const std::string command = "cd '" + dir.Folder() +
                                "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                "-u JOURNAL_STREAM PATH='" +
                                dir.Folder() +
                                "bin':\"$PATH\" timeout 120 "
                                "./QuorvaneClient > out.txt 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(root / "out.txt");
    EXPECT_FALSE(std::filesystem::exists(root / "QuorvaneClientAutoLog.html"))
        << ReadFile(root / "QuorvaneClientAutoLog.html");
    EXPECT_FALSE(std::filesystem::exists(root / "opened.txt"));

    // Off the journal the lines are plain; a run without errors tells it too.
    const std::string output = ReadFile(root / "out.txt");
    const std::string told =
        "Début de la synchronisation : QuorvaneClient " QUORVANE_VERSION
        ", mode URI, catégories : Conditions d'achats, Personnalisation des modèles, Messages, "
        "Documents\n"
        "Fin de la synchronisation : Conditions d'achats téléchargement oui, intégration oui ; "
        "Personnalisation des modèles téléchargement oui, intégration oui ; Messages "
        "téléchargement oui, intégration oui ; Documents téléchargement oui, intégration oui ; "
        "aucune erreur\n";
    EXPECT_NE(output.find(told), std::string::npos) << output;
    EXPECT_EQ(output.find("<6>"), std::string::npos) << output;
    const auto statusFile = nlohmann::json::parse(ReadFile(root / "QuorvaneClientStatus.json"));
    EXPECT_EQ(statusFile["mode"], "URI");
    EXPECT_EQ(statusFile["entryCount"], 0);
    EXPECT_TRUE(statusFile["entries"].empty());
    EXPECT_TRUE(statusFile["report"].is_null());
    for (const char* key : {"Remise_Achat", "Personnalisation", "Message", "Document"}) {
        EXPECT_EQ(statusFile["categories"][key],
                  (nlohmann::json{{"enabled", true}, {"downloaded", true}, {"integrated", true}}))
            << key;
    }
    EXPECT_EQ(ReadFile(root / "Auto" / "message_type.xml"),
              ReadFile(root / "source" / "message_type.xml"));

    const auto admin = store / "Administration";
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
}

}  // namespace
}  // namespace quorvane::testing
