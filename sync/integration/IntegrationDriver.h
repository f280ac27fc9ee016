#pragma once

#include <memory>
#include <string>
#include <vector>

#include "database/Table.h"
#include "sync/integration/CategoryIntegration.h"
#include "sync/integration/IntegrationContext.h"

namespace quorvane {

class TNativeXmlOMB;

// Integrates each fetched head-office file of the download folder into its table: loads it,
// checks its format version, reads its purge request and hands it to its category's step.
class IntegrationDriver : public CategoryIntegration {
  public:
    IntegrationDriver(RunState& state, RunDisplay& display);
    ~IntegrationDriver() override;

    // Integrates the files the retrieval fetched, one path per file of the category.
    bool Integrer(Categorie categorie, const std::vector<std::string>& paths) override;

    // The category's files as the download folder holds them.
    bool IntegrerRemiseAchat();
    bool IntegrerPersonnalisation();
    bool IntegrerMessage();
    bool IntegrerDocument();

    // Category codes: 0 purchase conditions, 1 personalisation, 2 messages, 3 documents.
    bool XmlToTable(TTable& table, const std::string& path, int categoryCode,
                    const std::string& rootName);
    TTable* KeyToTable(const std::string& key);

    TTable tblRemise;
    TTable tblPerso;
    TTable tblMessage;
    TTable tblMessageType;
    TTable tblMesDocs;
    TTable tblMesDocsType;

  private:
    bool IntegrerFichiers(Categorie categorie, const std::vector<std::string>& paths);
    bool IntegrerDepuisTelechargement(Categorie categorie);
    bool FournisseursPrets();
    // Loads the file and checks its version; false, with the entry that says why, otherwise.
    bool ChargerEtVerifier(TNativeXmlOMB& xml, const std::string& path);
    bool XmlToTable(TTable& table, const std::string& path, Categorie categorie,
                    const std::string& rootName);
    TTable& TableOf(const HeadOfficeFile& file);
    // The counts of the file whose table this is; nullptr for a table of no head-office file.
    FileCounts* CountsOf(const TTable& table);
    void TableManquante(const std::string& operation, const TTable& table);
    // Beside the entry of a table the service's sandbox keeps read-only, the journal names the
    // drop-in that opens its folder.
    void PreciserDossierProtege(const TTable& table);

    IntegrationContext context_;
};

}  // namespace quorvane
