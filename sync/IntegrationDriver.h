#pragma once

#include <memory>
#include <string>

#include "database/Table.h"
#include "sync/CategoryIntegration.h"
#include "sync/IntegrationContext.h"

namespace quorvane {

// Integrates each fetched head-office file of the download folder into its table: loads it,
// checks its format version, reads its purge request and hands it to its category's step.
class IntegrationDriver : public CategoryIntegration {
  public:
    IntegrationDriver(RunState& state, RunDisplay& display);
    ~IntegrationDriver() override;

    bool Integrer(Categorie categorie) override;

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
    bool IntegrerPaire(const std::string& operation, const std::string& firstFile,
                       const std::string& firstKey, const std::string& secondFile,
                       const std::string& secondKey, int categoryCode, const std::string& root);
    void TableManquante(const std::string& operation, const TTable& table);

    IntegrationContext context_;
};

}  // namespace quorvane
