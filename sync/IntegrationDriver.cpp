#include "sync/IntegrationDriver.h"

#include <filesystem>

#include "config/base/TextConversion.h"
#include "sync/MessagesDocuments.h"
#include "sync/Personalisation.h"
#include "sync/PurchaseConditions.h"
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

}  // namespace

IntegrationDriver::IntegrationDriver(RunState& state, RunDisplay& display)
    : tblRemise(kAlias, "REMISES.DB"),
      tblPerso(kAlias, "Perso.DB"),
      tblMessage(kAlias, "Message.DB"),
      tblMessageType(kAlias, "MessageType.DB"),
      tblMesDocs(kAlias, "MesDocs.DB"),
      tblMesDocsType(kAlias, "MesDocsType.DB"),
      context_{state, display} {}

IntegrationDriver::~IntegrationDriver() = default;

bool IntegrationDriver::Integrer(Categorie categorie) {
    // Whatever one category meets (an alias nobody set up, a table that cannot be read), the
    // run goes on with the next one and ends with its report.
    const char* operation = "IntegrerRemiseAchat";
    try {
        switch (categorie) {
            case Categorie::RemiseAchat:
                return IntegrerRemiseAchat();
            case Categorie::Personnalisation:
                operation = "IntegrerPersonnalisation";
                return IntegrerPersonnalisation();
            case Categorie::Message:
                operation = "IntegrerMessage";
                return IntegrerMessage();
            case Categorie::Document:
                operation = "IntegrerDocument";
                return IntegrerDocument();
        }
    } catch (...) {
        context_.Erreur(std::string("[Fonction ") + operation + "] " +
                        WhatOf(std::current_exception()));
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
    if (!tblRemise.Exists()) {
        TableManquante("IntegrerRemiseAchat", tblRemise);
        return false;
    }
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
    TTable* table = KeyToTable("remise");
    return XmlToTable(*table, context_.State.Paths.RepertoireAuto + "remise_achat.xml", 0,
                      "RemisesAchat");
}

bool IntegrationDriver::IntegrerPersonnalisation() {
    if (!tblPerso.Exists()) {
        TableManquante("IntegrerPersonnalisation", tblPerso);
        return false;
    }
    return XmlToTable(*KeyToTable("personnalisation"),
                      context_.State.Paths.RepertoireAuto + "personnalisation.xml", 1,
                      "Personnalisations");
}

bool IntegrationDriver::IntegrerMessage() {
    return IntegrerPaire("IntegrerMessage", "message.xml", "message", "message_type.xml",
                         "message_type", 2, "Messages");
}

bool IntegrationDriver::IntegrerDocument() {
    return IntegrerPaire("IntegrerDocument", "mes_docs.xml", "mes_docs", "mes_docs_type.xml",
                         "mes_docs_type", 3, "Documents");
}

bool IntegrationDriver::IntegrerPaire(const std::string& operation, const std::string& firstFile,
                                      const std::string& firstKey, const std::string& secondFile,
                                      const std::string& secondKey, int categoryCode,
                                      const std::string& root) {
    bool result = true;
    for (const auto& [file, key] :
         {std::pair{firstFile, firstKey}, std::pair{secondFile, secondKey}}) {
        TTable& table = *KeyToTable(key);
        if (!table.Exists()) {
            // Reported in the report, so the window must not show the category as integrated.
            TableManquante(operation, table);
            result = false;
            continue;
        }
        if (!XmlToTable(table, context_.State.Paths.RepertoireAuto + file, categoryCode, root)) {
            result = false;
        }
    }
    return result;
}

bool IntegrationDriver::XmlToTable(TTable& table, const std::string& path, int categoryCode,
                                   const std::string& rootName) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return true;
    }
    auto xml = std::make_unique<TNativeXmlOMB>(rootName, this);
    try {
        xml->LoadFromFile(path);
    } catch (...) {
        context_.State.Erreur(
            kXmlPrefix + "Une erreur est survenue au chargement du fichier :\n" + path, 1);
        return false;
    }
    if (const auto version = xml->Root().FindChild("Version")) {
        const std::string numero = version->ReadAttribute("Numero", "");
        if (numero != "1.0") {
            context_.State.Erreur(kXmlPrefix + "La version " + numero + " du fichier " + path +
                                      " est différente de la version 1.0 prise en charge par "
                                      "l'application.",
                                  1);
            return false;
        }
    }

    // The whole file is one span of the table: a run stopped part way leaves the table as it
    // was before the file, never half of it.
    TableSpan span(table);
    const char* step = "XmlToTable()";
    bool result = true;
    try {
        switch (categoryCode) {
            case 0: {
                step = "RemisesUpdateRecords()";
                TTable suppliers("OmbrelinMaj", "FOURNIS.db");
                PurchaseConditions conditions(context_, suppliers);
                result = conditions.RemisesUpdateRecords(span, true, *xml);
                break;
            }
            case 1:
                step = "PersoUpdateRecords()";
                result = PersoUpdateRecords(context_, span, *xml);
                break;
            case 2:
            case 3: {
                const bool messages = categoryCode == 2;
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
        span.Commit();
    } catch (...) {
        span.Abandon();
        context_.Erreur(std::string("[Fonction ") + step + "] L'intégration du fichier " + path +
                        " est abandonnée, la table " + table.TableName() +
                        " est laissée inchangée : " + WhatOf(std::current_exception()));
        return false;
    }
    return result;
}

TTable* IntegrationDriver::KeyToTable(const std::string& key) {
    const std::string k = Lower(key);
    if (k == "mes_docs") {
        return &tblMesDocs;
    }
    if (k == "mes_docs_type") {
        return &tblMesDocsType;
    }
    if (k == "message") {
        return &tblMessage;
    }
    if (k == "message_type") {
        return &tblMessageType;
    }
    if (k == "personnalisation") {
        return &tblPerso;
    }
    if (k == "remise") {
        return &tblRemise;
    }
    return nullptr;
}

}  // namespace quorvane
