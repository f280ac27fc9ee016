#include "sync/Personalisation.h"

#include "config/base/TextConversion.h"
#include "database/Table.h"
#include "sync/LigneToRecord.h"
#include "xml/Tnativexml.h"

namespace quorvane {
namespace {

const std::string kPrefix = "[Fonction PersoUpdateRecords()] ";
const std::string kDeletePrefix = kPrefix + "Erreur lors de la suppression de l'enregistrement ";
const std::string kInsertPrefix = kPrefix + "Erreur à l'insertion de l'enregistrement ";

}  // namespace

bool PersoUpdateRecords(IntegrationContext& context, TableSpan& span, const TNativeXmlOMB& xml) {
    TXMLNodeListOMB lines;
    if (!CollectLines(xml, lines)) {
        return false;
    }
    if (lines.Count() == 0) {
        return true;
    }
    TTable& table = span.Open();
    context.Display.SetProgressMax(Categorie::Personnalisation, lines.Count());
    LineFields fields;

    for (int i = 0; i < lines.Count(); ++i) {
        const TXMLNodeOMB& line = *lines.Item(i);
        std::int64_t groupe = -1;
        if (std::string_view text; line.FindAttribute("Groupe", text)) {
            const auto value = TryStrToInt(text);
            if (!value) {
                // One bad line must not cost the store the rest of the file.
                context.Erreur(kPrefix + "La ligne " + std::to_string(i + 1) +
                               " est ignorée : la valeur '" + std::string(text) +
                               "' de l'attribut Groupe n'est pas un nombre entier.");
                context.Display.StepProgress(Categorie::Personnalisation);
                context.Display.ProcessMessagesAfterLine();
                continue;
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
        context.Display.StepProgress(Categorie::Personnalisation);
        context.Display.ProcessMessagesAfterLine();
    }
    return true;
}

}  // namespace quorvane
