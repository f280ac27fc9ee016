#include "sync/integration/MessagesDocuments.h"

#include "database/Table.h"
#include "sync/integration/LigneToRecord.h"
#include "xml/Tnativexml.h"

namespace quorvane {
namespace {

Categorie CategoryOf(MessageKind kind) {
    return kind == MessageKind::Message ? Categorie::Message : Categorie::Document;
}

bool DeleteExternalRecords(IntegrationContext& context, TableSpan& span, MessageKind kind) {
    const std::string prefix = kind == MessageKind::Message
                                   ? "[Fonction MessageDeleteRecords()] Erreur lors de la "
                                     "suppression de l'enregistrement "
                                   : "[Fonction DocumentDeleteRecords()] Erreur lors de la "
                                     "suppression de l'enregistrement ";
    TTable& table = span.Open();
    const std::vector<FieldCondition> external = {
        FieldCondition::Equal("Externe", std::int64_t{5})};
    bool found = table.Locate(external);
    while (found) {
        DeleteCurrent(context, table, prefix);
        found = table.LocateNext(external);
    }
    return true;
}

bool InsertLines(IntegrationContext& context, const TNativeXmlOMB& xml, TableSpan& span,
                 MessageKind kind) {
    const std::string prefix =
        kind == MessageKind::Message
            ? "[Fonction MessageInsertRecords()] Erreur à l'insertion de l'enregistrement "
            : "[Fonction DocumentInsertRecords()] Erreur à l'insertion de l'enregistrement ";
    LineFields fields;
    return ForEachLine(context, span, xml, CategoryOf(kind),
                       [&context, &prefix, &fields](TTable& table, const TXMLNodeOMB& line, int) {
                           InsertLine(context, table, line, prefix, fields);
                       });
}

}  // namespace

bool MessageDeleteRecords(IntegrationContext& context, TableSpan& table) {
    return DeleteExternalRecords(context, table, MessageKind::Message);
}

bool DocumentDeleteRecords(IntegrationContext& context, TableSpan& table) {
    return DeleteExternalRecords(context, table, MessageKind::Document);
}

bool MessageInsertRecords(IntegrationContext& context, const TNativeXmlOMB& xml, TableSpan& table) {
    return InsertLines(context, xml, table, MessageKind::Message);
}

bool DocumentInsertRecords(IntegrationContext& context, const TNativeXmlOMB& xml,
                           TableSpan& table) {
    return InsertLines(context, xml, table, MessageKind::Document);
}

}  // namespace quorvane
