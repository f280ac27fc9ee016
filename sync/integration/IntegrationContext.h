#pragma once

#include <cstdint>
#include <string>

#include "sync/RunDisplay.h"
#include "sync/RunState.h"
#include "xml/Tnativexml.h"

namespace quorvane {

class TTable;

// What every integration step reports into and shows on.
struct IntegrationContext {
    RunState& State;
    RunDisplay& Display;
    // The counts of the file being integrated; nullptr outside a file.
    FileCounts* Comptes = nullptr;

    // Integration entries carry code 1 and leave the run's error flag alone.
    void Erreur(std::string texte) { State.Erreurs.Ajouter(std::move(texte), 1); }

    // A record the table refused, or a line left out: counted always, listed up to the cap.
    void Refus(std::string texte) {
        if (Comptes != nullptr) {
            ++Comptes->Refuses;
            if (Comptes->Listes >= kMaxRecordEntries) {
                return;
            }
            ++Comptes->Listes;
        }
        Erreur(std::move(texte));
    }
    void Ajout() {
        if (Comptes != nullptr) {
            ++Comptes->Ajoutes;
        }
    }
    void Suppression() {
        if (Comptes != nullptr) {
            ++Comptes->Supprimes;
        }
    }
    void LignesLues(std::int64_t count) {
        if (Comptes != nullptr) {
            Comptes->Lignes = count;
        }
    }

    // One line of the file was handled, written or refused: its category's bar steps once and
    // the window repaints, so that it stays alive during long files.
    void LineHandled(Categorie categorie) {
        Display.StepProgress(categorie);
        Display.ProcessMessagesAfterLine();
    }
};

// The message of a refused record operation: the operation's prefix, the record number the
// table reports, and the error's own text when it has one.
std::string RecordMessage(const std::string& prefix, std::int64_t recordNumber,
                          const std::string& errorText);

// The record number of the table at the moment of a failure, without letting a second failure
// hide the first.
std::int64_t RecordNumberForMessage(TTable& table) noexcept;

}  // namespace quorvane

namespace quorvane {

class TXMLNodeOMB;
class LineFields;

class TNativeXmlOMB;
class TXMLNodeListOMB;

// The "Ligne" children of the file's "Lignes", in document order; false when the file has no
// "Lignes" at all.
bool CollectLines(const TNativeXmlOMB& xml, TXMLNodeListOMB& lines);

// The guarded record operations. Each is all or nothing: a refusal is reported with the
// operation's prefix and the record number, undone alone, and the caller goes on.
// Inserts the line as a new record; false when it was refused.
bool InsertLine(IntegrationContext& context, TTable& table, const TXMLNodeOMB& ligne,
                const std::string& prefix);
// The same for one of many lines of a file, the fields' names looked up once for all of them.
bool InsertLine(IntegrationContext& context, TTable& table, const TXMLNodeOMB& ligne,
                const std::string& prefix, LineFields& fields);
// Deletes the current record (the next one becomes current); false when it was refused.
bool DeleteCurrent(IntegrationContext& context, TTable& table, const std::string& prefix);

// The table's writes for one file form one span: opened when a step first needs it, committed
// when the file is done, abandoned when the file's integration stopped part way.
class TableSpan {
  public:
    explicit TableSpan(TTable& table) : table_(table) {}
    TableSpan(const TableSpan&) = delete;
    TableSpan& operator=(const TableSpan&) = delete;
    ~TableSpan();

    TTable& Table() { return table_; }
    // Opens the table when it is not open yet.
    TTable& Open();
    // Commits what the file wrote; raises the table layer's error when the commit fails.
    void Commit();
    void Abandon() noexcept;

  private:
    TTable& table_;
};

// The per-line loop of the steps that take the file's lines in order: each "Ligne" is handed to
// handle(table, line, index) with the table open, and counts as one step of the category's bar
// however it went. False when the file has no "Lignes"; a file without lines opens nothing.
template <typename HandleLine>
bool ForEachLine(IntegrationContext& context, TableSpan& span, const TNativeXmlOMB& xml,
                 Categorie categorie, HandleLine handle) {
    TXMLNodeListOMB lines;
    if (!CollectLines(xml, lines)) {
        return false;
    }
    if (lines.Count() == 0) {
        return true;
    }
    context.LignesLues(lines.Count());
    TTable& table = span.Open();
    context.Display.SetProgressMax(categorie, lines.Count());
    for (int i = 0; i < lines.Count(); ++i) {
        handle(table, *lines.Item(i), i);
        context.LineHandled(categorie);
    }
    return true;
}

}  // namespace quorvane
