#include "sync/integration/IntegrationContext.h"

#include "database/Table.h"

namespace quorvane {

std::string RecordMessage(const std::string& prefix, std::int64_t recordNumber,
                          const std::string& errorText) {
    std::string message = prefix + std::to_string(recordNumber);
    if (!errorText.empty()) {
        message += " : " + errorText;
    }
    return message;
}

std::int64_t RecordNumberForMessage(TTable& table) noexcept {
    try {
        return table.RecNo();
    } catch (...) {
        return 0;
    }
}

}  // namespace quorvane

#include "database/DbError.h"
#include "sync/integration/LigneToRecord.h"
#include "xml/Tnativexml.h"

namespace quorvane {
namespace {

std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

}  // namespace

bool CollectLines(const TNativeXmlOMB& xml, TXMLNodeListOMB& lines) {
    const auto lignes = xml.Root().FindChild("Lignes");
    if (!lignes) {
        return false;
    }
    lignes->ChildrenByName("Ligne", lines);
    return true;
}

bool InsertLine(IntegrationContext& context, TTable& table, const TXMLNodeOMB& ligne,
                const std::string& prefix) {
    LineFields fields;
    return InsertLine(context, table, ligne, prefix, fields);
}

bool InsertLine(IntegrationContext& context, TTable& table, const TXMLNodeOMB& ligne,
                const std::string& prefix, LineFields& fields) {
    try {
        table.Insert();
        LigneToRecord(table, ligne, fields);
        table.Post();
        context.Ajout();
        return true;
    } catch (const EDBStorageError&) {
        // Not this record's fault: every following one would fail the same way.
        throw;
    } catch (...) {
        const std::string text = ErrorText(std::current_exception());
        const std::int64_t number = RecordNumberForMessage(table);
        try {
            table.Cancel();
        } catch (...) {
            // The refusal is what gets reported; the new record is gone either way.
        }
        context.Refus(RecordMessage(prefix, number, text));
        return false;
    }
}

bool DeleteCurrent(IntegrationContext& context, TTable& table, const std::string& prefix) {
    try {
        table.Delete();
        context.Suppression();
        return true;
    } catch (const EDBStorageError&) {
        throw;
    } catch (...) {
        const std::string text = ErrorText(std::current_exception());
        context.Refus(RecordMessage(prefix, RecordNumberForMessage(table), text));
        return false;
    }
}

TableSpan::~TableSpan() {
    Abandon();
}

TTable& TableSpan::Open() {
    if (!table_.Active()) {
        table_.Open();
    }
    return table_;
}

void TableSpan::Commit() {
    if (table_.Active()) {
        table_.Close();
    }
}

void TableSpan::Abandon() noexcept {
    if (table_.Active()) {
        table_.Abandon();
    }
}

}  // namespace quorvane
