#include "sync/PurchaseConditions.h"

#include <algorithm>
#include <set>

#include "database/Table.h"
#include "xml/Tnativexml.h"

namespace quorvane {
namespace {

const std::string kDeletePrefix =
    "[Fonction RemisesDeleteRecord()] Erreur lors de la suppression de l'enregistrement ";
const std::string kInsertPrefix =
    "[Fonction RAInsertRecords()] Erreur à l'insertion de l'enregistrement ";

struct LessIgnoringCase {
    bool operator()(const std::string& a, const std::string& b) const {
        const auto fold = [](char c) {
            return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        };
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [&](char x, char y) { return fold(x) < fold(y); });
    }
};

}  // namespace

PurchaseConditions::PurchaseConditions(IntegrationContext& context, TTable& suppliers)
    : context_(context), suppliers_(suppliers) {}

PurchaseConditions::~PurchaseConditions() = default;

void PurchaseConditions::IndexLines(const TNativeXmlOMB& xml) {
    if (indexed_ == &xml) {
        return;
    }
    indexed_ = &xml;
    lines_ = std::make_unique<TXMLNodeListOMB>();
    linesBySupplier_.clear();
    hasLignes_ = CollectLines(xml, *lines_);
    for (int i = 0; i < lines_->Count(); ++i) {
        const TXMLNodeOMB* line = lines_->Item(i);
        linesBySupplier_[line->ReadAttribute("Fournisseur", "")].push_back(line);
    }
}

std::vector<std::string> PurchaseConditions::RemisesSupplierList(const TNativeXmlOMB& xml) {
    IndexLines(xml);
    // A code equal to one already listed, but for case, is ignored: the first spelling stays.
    std::set<std::string, LessIgnoringCase> codes;
    for (int i = 0; i < lines_->Count(); ++i) {
        const TXMLNodeOMB* line = lines_->Item(i);
        if (line->IndexOfAttribute("Fournisseur") >= 0) {
            codes.insert(line->ReadAttribute("Fournisseur", ""));
        }
    }
    return {codes.begin(), codes.end()};
}

bool PurchaseConditions::RemisesUpdateRecords(TableSpan& table, bool deleteEnabled,
                                              const TNativeXmlOMB& xml) {
    for (const std::string& code : RemisesSupplierList(xml)) {
        if (deleteEnabled) {
            RemisesDeleteRecord(table, code);
        }
        if (SupplierExists(code)) {
            RAInsertRecords(xml, table, code);
        }
    }
    return true;
}

bool PurchaseConditions::RemisesDeleteRecord(TableSpan& span, const std::string& code) {
    TTable& table = span.Open();
    const std::vector<FieldCondition> networkWide = {
        FieldCondition::Equal("Fournisseur", code),
        FieldCondition::Equal("Type", std::int64_t{2}),
        FieldCondition::Empty("Client"),
    };
    // A refused deletion leaves its record current; the search goes on past it.
    bool found = table.Locate(networkWide);
    while (found) {
        DeleteCurrent(context_, table, kDeletePrefix);
        found = table.LocateNext(networkWide);
    }
    return true;
}

bool PurchaseConditions::SupplierExists(const std::string& code) {
    if (!suppliers_.Exists()) {
        return false;
    }
    if (!suppliers_.Active()) {
        suppliers_.Open(TOpenMode::ReadOnly);
    }
    return suppliers_.Locate({FieldCondition::Equal("Code", code)});
}

bool PurchaseConditions::RAInsertRecords(const TNativeXmlOMB& xml, TableSpan& span,
                                         const std::string& code) {
    IndexLines(xml);
    if (!hasLignes_) {
        return false;
    }
    if (lines_->Count() == 0) {
        return true;
    }
    TTable& table = span.Open();
    context_.Display.SetProgressMax(Categorie::RemiseAchat, lines_->Count());
    const auto group = linesBySupplier_.find(code);
    if (group == linesBySupplier_.end()) {
        return true;
    }
    for (const TXMLNodeOMB* line : group->second) {
        InsertLine(context_, table, *line, kInsertPrefix);
        context_.Display.StepProgress(Categorie::RemiseAchat);
        context_.Display.ProcessMessagesAfterLine();
    }
    return true;
}

}  // namespace quorvane
