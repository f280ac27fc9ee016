#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "base/TextConversion.h"
#include "support/StoreFixture.h"

namespace quorvane::testing {
namespace {

std::string Lines(std::size_t count, const std::string& attributes) {
    std::string lines;
    for (std::size_t i = 1; i <= count; ++i) {
        lines += "<Ligne xmlns:x=\"urn:ligne\" x:Lot=\"7\" Code=\"" + std::to_string(i) + "\"" +
                 attributes + "/>";
    }
    return lines;
}

std::string Declared(const std::string& encoding, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n" + body;
}

// Head-office files as real generators and editors leave them, through the real program: each
// file's verdict is its own, and what a table keeps is what the file said.
TEST(ProgramInputs, EncodingsNamespacesWidthsStrictTablesAndTheSupplierCheck) {
    StoreFixture fixture(StoreFixture::Tables::Demo);
    const std::filesystem::path root = fixture.Dir().Path();
    const std::filesystem::path source = root / "source";
    std::filesystem::remove(fixture.MajDir() + "/FOURNIS.db");
    std::filesystem::remove(fixture.AdminDir() + "/MessageType.DB");
    std::filesystem::remove(fixture.AdminDir() + "/MesDocs.DB");
    fixture.CreateTable("MessageType.DB",
                        "CREATE TABLE MessageType (Code INTEGER PRIMARY KEY, Article INTEGER);");
    fixture.CreateTable("MesDocs.DB",
                        "CREATE TABLE MesDocs (Code TEXT PRIMARY KEY, Valeur ANY, Texte TEXT) "
                        "STRICT;");
    const auto before = [&](const char* file, const char* table) {
        return Rows(fixture.AdminDir() + "/" + file, std::string("SELECT * FROM ") + table);
    };
    const auto remises = before("REMISES.DB", "REMISES");
    const auto messages = before("Message.DB", "Message");
    const auto types = before("MesDocsType.DB", "MesDocsType");

    WriteFile(source / "remise_achat.xml",
              Declared("windows-1252",
                       "<RemisesAchat><Version Numero=\"2.0\"/><Lignes/>"
                       "</RemisesAchat>"));
    // Saved "UTF-8 with BOM" by an editor that kept the old declaration.
    WriteFile(source / "message.xml",
              "\xEF\xBB\xBF" + Declared("windows-1252",
                                        "<Messages><Lignes><Ligne Code=\"N1\" Titre=\"é €\"/>"
                                        "</Lignes></Messages>"));
    // A prefix declared on every line, 13-digit article codes.
    WriteFile(source / "message_type.xml",
              Declared("windows-1252", "<Messages><Version Numero=\"1.0\"/><Lignes>" +
                                           Lines(250, " Article=\"3000000000123\"") +
                                           "</Lignes></Messages>"));
    WriteFile(source / "mes_docs.xml",
              Declared("windows-1252", Utf8ToCp1252("<Documents><Lignes><Ligne Code=\"D1\" "
                                                    "Valeur=\"007\" Texte=\"0012 é\"/>"
                                                    "</Lignes></Documents>")));
    // 101 declarations in scope at the line: 60 on "Lignes", 41 on the line itself.
    std::string outer;
    std::string inner;
    for (int i = 0; i < 60; ++i) {
        outer += " xmlns:a" + std::to_string(i) + "=\"urn:a\"";
    }
    for (int i = 0; i < 41; ++i) {
        inner += " xmlns:b" + std::to_string(i) + "=\"urn:b\"";
    }
    WriteFile(source / "mes_docs_type.xml",
              Declared("windows-1252", "<Documents><Lignes" + outer + "><Ligne Code=\"9\"" + inner +
                                           "/></Lignes></Documents>"));

    const std::filesystem::path store = fixture.StoreDir();
    WriteFile(store / "ombbde.ini", "[Alias]\r\nOmbrelin=" + store.string() + "\r\n");
    WriteFile(root / "QuorvaneClient.ini",
              "[Setup]\r\nDir=" + store.string() +
                  "\r\n[Quorvane]\r\nRemise_Achat=1\r\nPersonnalisation=0\r\nMessage=1\r\n"
                  "Document=1\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=" +
                  source.string() + "\r\n");
    std::filesystem::copy_file(std::string(QUORVANE_BINARY_DIR) + "/QuorvaneClient",
                               root / "QuorvaneClient");
    WriteViewerStandIn(root / "bin", root / "opened.txt");
    const std::string command = "cd '" + fixture.Dir().Folder() +
                                "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                "-u JOURNAL_STREAM PATH='" +
                                fixture.Dir().Folder() +
                                "bin':\"$PATH\" timeout 180 ./QuorvaneClient > out.txt 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(root / "out.txt");

    const auto run = nlohmann::json::parse(ReadFile(root / "QuorvaneClientStatus.json"));
    std::vector<std::string> entries;
    for (const auto& entry : run["entries"]) {
        EXPECT_EQ(entry["code"], 1) << entry;
        entries.push_back(entry["text"]);
    }
    const std::string automatic = (root / "Auto").string() + "/";
    const std::string load =
        "[Fonction XmlToTable()] Une erreur est survenue au chargement du fichier :\n" + automatic;
    EXPECT_EQ(entries, (std::vector<std::string>{
                           "[Fonction XmlToTable()] La version 2.0 du fichier " + automatic +
                               "remise_achat.xml est différente de la version 1.0 prise en "
                               "charge par l'application.",
                           "[Fonction IntegrerRemiseAchat] La table FOURNIS.db n'existe pas dans " +
                               fixture.MajDir(),
                           load + "message.xml", load + "mes_docs_type.xml"}));
    for (const char* key : {"Remise_Achat", "Message", "Document"}) {
        EXPECT_EQ(run["categories"][key]["integrated"], false) << key;
    }

    EXPECT_EQ(before("REMISES.DB", "REMISES"), remises);
    EXPECT_EQ(before("Message.DB", "Message"), messages);
    EXPECT_EQ(before("MesDocsType.DB", "MesDocsType"), types);
    EXPECT_EQ(Rows(fixture.AdminDir() + "/MessageType.DB",
                   "SELECT count(*), min(Code), max(Code), typeof(Article), min(Article), "
                   "max(Article) FROM MessageType"),
              std::vector<std::string>{"250|1|250|integer|3000000000123|3000000000123"});
    EXPECT_EQ(Rows(fixture.AdminDir() + "/MesDocs.DB",
                   "SELECT Code, typeof(Valeur), Valeur, typeof(Texte), Texte FROM MesDocs"),
              std::vector<std::string>{"D1|text|007|text|0012 é"});
}

}  // namespace
}  // namespace quorvane::testing
