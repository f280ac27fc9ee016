#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sync/integration/IntegrationContext.h"
#include "sync/integration/LigneToRecord.h"

namespace quorvane {

class TNativeXmlOMB;
class TTable;
class TXMLNodeOMB;
class TXMLNodeListOMB;

// "remise_achat.xml" into "REMISES.DB": supplier by supplier, in ascending order of code, the
// network-wide conditions (Type 2, no customer) are deleted and those of the file inserted
// when the store knows the supplier. Lines are grouped by supplier in one pass and the table
// and the supplier table are searched through their indexes, so the work grows with the file
// and the table rather than with their product.
class PurchaseConditions {
  public:
    PurchaseConditions(IntegrationContext& context, TTable& suppliers);
    ~PurchaseConditions();

    bool RemisesUpdateRecords(TableSpan& table, bool deleteEnabled, const TNativeXmlOMB& xml);
    // The distinct supplier codes of the file, ascending, compared without regard to case; the
    // spelling kept is that of the first line.
    std::vector<std::string> RemisesSupplierList(const TNativeXmlOMB& xml);
    bool RemisesDeleteRecord(TableSpan& table, const std::string& code);
    bool SupplierExists(const std::string& code);
    bool RAInsertRecords(const TNativeXmlOMB& xml, TableSpan& table, const std::string& code);

  private:
    // The file's lines, read once, with each supplier's lines in document order.
    void IndexLines(const TNativeXmlOMB& xml);

    IntegrationContext& context_;
    TTable& suppliers_;
    const TNativeXmlOMB* indexed_ = nullptr;
    bool hasLignes_ = false;
    std::unique_ptr<TXMLNodeListOMB> lines_;
    std::unordered_map<std::string, std::vector<const TXMLNodeOMB*>> linesBySupplier_;
    LineFields lineFields_;  // for every supplier's lines: one file, one table
};

}  // namespace quorvane
