#include "sync/integration/PurchaseConditions.h"

#include <algorithm>
#include <map>

#include "base/TextConversion.h"
#include "database/Table.h"
#include "xml/Tnativexml.h"

namespace quorvane {
namespace {

const std::string kDeletePrefix =
    "[Fonction RemisesDeleteRecord()] Erreur lors de la suppression de l'enregistrement ";
const std::string kInsertPrefix =
    "[Fonction RAInsertRecords()] Erreur à l'insertion de l'enregistrement ";

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
    context_.LignesLues(lines_->Count());
    for (int i = 0; i < lines_->Count(); ++i) {
        const TXMLNodeOMB* line = lines_->Item(i);
        linesBySupplier_[line->ReadAttribute("Fournisseur", "")].push_back(line);
    }
}

std::vector<std::string> PurchaseConditions::RemisesSupplierList(const TNativeXmlOMB& xml) {
    IndexLines(xml);
    // A code equal to one already listed, but for case, is ignored: the first spelling stays.
    // Keyed and ordered by the code without case; the spelling kept is the first one met.
    std::map<std::u32string, std::string> codes;
    for (int i = 0; i < lines_->Count(); ++i) {
        const TXMLNodeOMB* line = lines_->Item(i);
        if (line->IndexOfAttribute("Fournisseur") >= 0) {
            std::string code = line->ReadAttribute("Fournisseur", "");
            codes.try_emplace(FoldCase(code), std::move(code));
        }
    }
    std::vector<std::string> list;
    list.reserve(codes.size());
    for (auto& entry : codes) {
        list.push_back(std::move(entry.second));
    }
    return list;
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
        InsertLine(context_, table, *line, kInsertPrefix, lineFields_);
        context_.LineHandled(Categorie::RemiseAchat);
    }
    return true;
}

}  // namespace quorvane
