#include "sync/integration/IntegrationDriver.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>

#include "base/TextConversion.h"
#include "sync/integration/MessagesDocuments.h"
#include "sync/integration/Personalisation.h"
#include "sync/integration/PurchaseConditions.h"
#include "xml/Tnativexml.h"

namespace quorvane {
namespace {

const std::string kAlias = "OmbrelinAdministration";
const std::string kXmlPrefix = "[Fonction XmlToTable()] ";

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string WhatOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "erreur inconnue";
    }
}

bool TableVide(TTable& table) {
    table.Open(TOpenMode::ReadOnly);
    const bool empty = table.Eof();
    table.Close();
    return empty;
}

const HeadOfficeFile& FileOfKey(std::string_view key) {
    return *std::find_if(kHeadOfficeFiles.begin(), kHeadOfficeFiles.end(),
                         [key](const HeadOfficeFile& f) { return f.Key == key; });
}

std::string TableNameOf(std::string_view key) {
    return std::string(FileOfKey(key).Table);
}

}  // namespace

IntegrationDriver::IntegrationDriver(RunState& state, RunDisplay& display)
    : tblRemise(kAlias, TableNameOf("remise")),
      tblPerso(kAlias, TableNameOf("personnalisation")),
      tblMessage(kAlias, TableNameOf("message")),
      tblMessageType(kAlias, TableNameOf("message_type")),
      tblMesDocs(kAlias, TableNameOf("mes_docs")),
      tblMesDocsType(kAlias, TableNameOf("mes_docs_type")),
      context_{state, display} {}

IntegrationDriver::~IntegrationDriver() = default;

bool IntegrationDriver::Integrer(Categorie categorie, const std::vector<std::string>& paths) {
    // Whatever one category meets (an alias nobody set up, a table that cannot be read), the
    // run goes on with the next one and ends with its report.
    try {
        return IntegrerFichiers(categorie, paths);
    } catch (...) {
        context_.Erreur("[Fonction " + std::string(FichiersDeCategorie(categorie)[0].Operation) +
                        "] " + WhatOf(std::current_exception()));
    }
    return false;
}

void IntegrationDriver::TableManquante(const std::string& operation, const TTable& table) {
    std::string directory;
    try {
        directory = table.DatabaseDirectory();
    } catch (const std::exception&) {
        // An alias nobody set up has no directory to name.
    }
    context_.Erreur("[Fonction " + operation + "] La table " + table.TableName() +
                    " n'existe pas dans " + directory);
}

bool IntegrationDriver::IntegrerRemiseAchat() {
    return IntegrerDepuisTelechargement(Categorie::RemiseAchat);
}

bool IntegrationDriver::IntegrerPersonnalisation() {
    return IntegrerDepuisTelechargement(Categorie::Personnalisation);
}

bool IntegrationDriver::IntegrerMessage() {
    return IntegrerDepuisTelechargement(Categorie::Message);
}

bool IntegrationDriver::IntegrerDocument() {
    return IntegrerDepuisTelechargement(Categorie::Document);
}

bool IntegrationDriver::IntegrerDepuisTelechargement(Categorie categorie) {
    std::vector<std::string> paths;
    for (const HeadOfficeFile& file : FichiersDeCategorie(categorie)) {
        paths.push_back(context_.State.Paths.RepertoireAuto + std::string(file.Name));
    }
    return IntegrerFichiers(categorie, paths);
}

bool IntegrationDriver::FournisseursPrets() {
    // Without the supplier table every supplier would look unknown and lose its conditions:
    // better to leave the conditions as they are and say why.
    TTable suppliers("OmbrelinMaj", "FOURNIS.db");
    if (!suppliers.Exists()) {
        TableManquante("IntegrerRemiseAchat", suppliers);
        return false;
    }
    // An empty supplier table is the same one-file wipe as a missing one.
    if (TableVide(suppliers)) {
        context_.Erreur("[Fonction IntegrerRemiseAchat] La table " + suppliers.TableName() +
                        " est vide dans " + suppliers.DatabaseDirectory());
        return false;
    }
    return true;
}

bool IntegrationDriver::IntegrerFichiers(Categorie categorie,
                                         const std::vector<std::string>& paths) {
    const auto files = FichiersDeCategorie(categorie);
    // Every file of a category is processed whatever became of the one before it.
    bool result = true;
    for (std::size_t i = 0; i < files.size() && i < paths.size(); ++i) {
        const HeadOfficeFile& file = files[i];
        TTable& table = TableOf(file);
        if (!table.Exists()) {
            // Reported in the report, so the window must not show the category as integrated.
            TableManquante(std::string(file.Operation), table);
            result = false;
            continue;
        }
        if (!XmlToTable(table, paths[i], categorie, std::string(file.RootElement))) {
            result = false;
        }
    }
    return result;
}

bool IntegrationDriver::XmlToTable(TTable& table, const std::string& path, int categoryCode,
                                   const std::string& rootName) {
    // A code of no category still has its file loaded and checked, and is handed to no step.
    return XmlToTable(table, path, static_cast<Categorie>(categoryCode), rootName);
}

bool IntegrationDriver::XmlToTable(TTable& table, const std::string& path, Categorie categorie,
                                   const std::string& rootName) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return true;
    }
    auto xml = std::make_unique<TNativeXmlOMB>(rootName, this);
    const bool fileAccepted = ChargerEtVerifier(*xml, path);
    // The supplier table is checked after the file's own verdict, so that a broken file and a
    // missing supplier table are both reported.
    if (categorie == Categorie::RemiseAchat && !FournisseursPrets()) {
        return false;
    }
    if (!fileAccepted) {
        return false;
    }

    FileCounts* counts = CountsOf(table);
    if (counts != nullptr) {
        *counts = FileCounts{};
        counts->Lu = true;
        // What the file holds, whichever step gives up and however early (a table that cannot
        // be opened included).
        TXMLNodeListOMB lines;
        if (CollectLines(*xml, lines)) {
            counts->Lignes = lines.Count();
        }
    }
    context_.Comptes = counts;
    struct EndOfFile {
        IntegrationContext& context;
        ~EndOfFile() { context.Comptes = nullptr; }
    } endOfFile{context_};

    // The whole file is one span of the table: a run stopped part way leaves the table as it
    // was before the file, never half of it.
    TableSpan span(table);
    // Opened by the purchase conditions when they first look a supplier up, and kept open until
    // their commit, so that the commit can tell the suppliers were read from the live table.
    TTable suppliers("OmbrelinMaj", "FOURNIS.db");
    const char* step = "XmlToTable()";
    bool result = true;
    // The refusals past the cap get their counting entry once, whether the file is then kept or
    // abandoned: the status file counts them either way.
    bool unlistedReported = false;
    const auto reportUnlisted = [&] {
        if (unlistedReported || counts == nullptr || counts->Refuses <= counts->Listes) {
            return;
        }
        unlistedReported = true;
        const std::int64_t left = counts->Refuses - counts->Listes;
        context_.Erreur(
            kXmlPrefix + std::to_string(left) +
            (left == 1
                 ? " autre enregistrement refusé du fichier " + path + " n'est pas listé."
                 : " autres enregistrements refusés du fichier " + path + " ne sont pas listés."));
    };
    try {
        switch (categorie) {
            case Categorie::RemiseAchat: {
                step = "RemisesUpdateRecords()";
                PurchaseConditions conditions(context_, suppliers);
                result = conditions.RemisesUpdateRecords(span, true, *xml);
                break;
            }
            case Categorie::Personnalisation:
                step = "PersoUpdateRecords()";
                result = PersoUpdateRecords(context_, span, *xml);
                break;
            case Categorie::Message:
            case Categorie::Document: {
                const bool messages = categorie == Categorie::Message;
                const auto configuration = xml->Root().FindChild("Configuration");
                const bool purge =
                    configuration && configuration->ReadAttributeInteger("ViderExterne", 0) == 1;
                // A file without "Lignes" is broken: it must not cost the table its head-office
                // records before it fails.
                if (purge && xml->Root().FindChild("Lignes")) {
                    step = messages ? "MessageDeleteRecords()" : "DocumentDeleteRecords()";
                    if (messages) {
                        MessageDeleteRecords(context_, span);
                    } else {
                        DocumentDeleteRecords(context_, span);
                    }
                }
                step = messages ? "MessageInsertRecords()" : "DocumentInsertRecords()";
                result = messages ? MessageInsertRecords(context_, *xml, span)
                                  : DocumentInsertRecords(context_, *xml, span);
                break;
            }
            default:
                break;
        }
        step = "XmlToTable()";
        reportUnlisted();
        if (context_.State.Essai) {
            // A dry run does all the work and keeps none of it.
            span.Abandon();
        } else {
            if (suppliers.Active()) {
                // Conditions chosen by a supplier table that was replaced meanwhile are not kept.
                suppliers.CheckSameFile();
            }
            span.Commit();
        }
    } catch (...) {
        span.Abandon();
        reportUnlisted();
        if (counts != nullptr) {
            // The table is left as it was: nothing of the file was deleted or added.
            counts->Supprimes = 0;
            counts->Ajoutes = 0;
        }
        context_.Erreur(std::string("[Fonction ") + step + "] L'intégration du fichier " + path +
                        " est abandonnée, la table " + table.TableName() +
                        " est laissée inchangée : " + WhatOf(std::current_exception()));
        PreciserDossierProtege(table);
        return false;
    }
    return result;
}

bool IntegrationDriver::ChargerEtVerifier(TNativeXmlOMB& xml, const std::string& path) {
    try {
        xml.LoadFromFile(path);
    } catch (...) {
        context_.State.Erreur(
            kXmlPrefix + "Une erreur est survenue au chargement du fichier :\n" + path, 1);
        // The entry keeps its historical words; whoever reads the journal gets the cause.
        context_.State.Erreurs.Preciser(WhatOf(std::current_exception()));
        return false;
    }
    if (const auto version = xml.Root().FindChild("Version")) {
        const std::string numero = version->ReadAttribute("Numero", "");
        if (numero != "1.0") {
            context_.State.Erreur(kXmlPrefix + "La version " + numero + " du fichier " + path +
                                      " est différente de la version 1.0 prise en charge par "
                                      "l'application.",
                                  1);
            return false;
        }
    }
    return true;
}

void IntegrationDriver::PreciserDossierProtege(const TTable& table) {
    // Only a service has a sandbox to open; elsewhere a read-only mount is the machine's choice.
    const char* invocation = std::getenv("INVOCATION_ID");
    if (invocation == nullptr || *invocation == '\0') {
        return;
    }
    std::string directory;
    try {
        directory = table.DatabaseDirectory();
    } catch (const std::exception&) {
        return;
    }
    struct statvfs mount {};
    if (directory.empty() || ::statvfs(directory.c_str(), &mount) != 0 ||
        (mount.f_flag & ST_RDONLY) == 0) {
        return;
    }
    context_.State.Erreurs.Preciser(
        "La table " + table.TableName() + " est dans " + directory +
        ", que le service garde en lecture seule : ouvrez ce dossier au service avec "
        "« systemctl edit quorvane-client@.service » et les lignes « [Service] » puis "
        "« ReadWritePaths=" +
        directory + " ».");
}

TTable& IntegrationDriver::TableOf(const HeadOfficeFile& file) {
    // In the order of kHeadOfficeFiles.
    const std::array<TTable*, kHeadOfficeFiles.size()> tables = {
        &tblRemise, &tblPerso, &tblMessage, &tblMessageType, &tblMesDocs, &tblMesDocsType};
    return *tables[static_cast<std::size_t>(&file - kHeadOfficeFiles.data())];
}

FileCounts* IntegrationDriver::CountsOf(const TTable& table) {
    for (std::size_t i = 0; i < kHeadOfficeFiles.size(); ++i) {
        if (&TableOf(kHeadOfficeFiles[i]) == &table) {
            return &context_.State.Comptes[i];
        }
    }
    return nullptr;
}

TTable* IntegrationDriver::KeyToTable(const std::string& key) {
    const std::string k = Lower(key);
    for (const HeadOfficeFile& file : kHeadOfficeFiles) {
        if (file.Key == k) {
            return &TableOf(file);
        }
    }
    return nullptr;
}

}  // namespace quorvane
