#pragma once

#include "sync/integration/IntegrationContext.h"

namespace quorvane {

class TNativeXmlOMB;

// The messages and documents pairs differ only in their message prefixes and progress bars.
enum class MessageKind { Message, Document };

// Removes the head office's records (Externe 5) of the table.
bool MessageDeleteRecords(IntegrationContext& context, TableSpan& table);
bool DocumentDeleteRecords(IntegrationContext& context, TableSpan& table);
// Adds every line of the file as a new record.
bool MessageInsertRecords(IntegrationContext& context, const TNativeXmlOMB& xml, TableSpan& table);
bool DocumentInsertRecords(IntegrationContext& context, const TNativeXmlOMB& xml, TableSpan& table);

}  // namespace quorvane
