#include "sync/integration/Personalisation.h"

#include "base/TextConversion.h"
#include "database/Table.h"
#include "sync/integration/LigneToRecord.h"
#include "xml/Tnativexml.h"

namespace quorvane {
namespace {

const std::string kPrefix = "[Fonction PersoUpdateRecords()] ";
const std::string kDeletePrefix = kPrefix + "Erreur lors de la suppression de l'enregistrement ";
const std::string kInsertPrefix = kPrefix + "Erreur à l'insertion de l'enregistrement ";

}  // namespace

bool PersoUpdateRecords(IntegrationContext& context, TableSpan& span, const TNativeXmlOMB& xml) {
    LineFields fields;
    const auto updateLine = [&context, &fields](TTable& table, const TXMLNodeOMB& line, int i) {
        std::int64_t groupe = -1;
        if (std::string_view text; line.FindAttribute("Groupe", text)) {
            const auto value = TryStrToInt(text);
            if (!value) {
                // One bad line must not cost the store the rest of the file.
                context.Refus(kPrefix + "La ligne " + std::to_string(i + 1) +
                              " est ignorée : la valeur '" + std::string(text) +
                              "' de l'attribut Groupe n'est pas un nombre entier.");
                return;
            }
            groupe = *value;
        }
        const std::vector<FieldCondition> generalRecord = {
            FieldCondition::Equal("Groupe", groupe),
            FieldCondition::Equal("Famille", line.ReadAttribute("Famille", "")),
            FieldCondition::Equal("Modele", line.ReadAttribute("Modele", "")),
            FieldCondition::Empty("Fournisseur"),
            FieldCondition::Empty("Produit"),
        };
        if (table.Locate(generalRecord)) {
            DeleteCurrent(context, table, kDeletePrefix);
        }
        InsertLine(context, table, line, kInsertPrefix, fields);
    };
    return ForEachLine(context, span, xml, Categorie::Personnalisation, updateLine);
}

}  // namespace quorvane
