#pragma once

#include "sync/integration/IntegrationContext.h"

namespace quorvane {

class TNativeXmlOMB;

// "personnalisation.xml" into "Perso.DB": per line, the first general record of the line's
// model (group, family, model; no supplier, no product) in table order is replaced by the line.
// The record is found through the table's indexes rather than by a scan from the start.
bool PersoUpdateRecords(IntegrationContext& context, TableSpan& table, const TNativeXmlOMB& xml);

}  // namespace quorvane
