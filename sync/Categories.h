#pragma once

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

namespace quorvane {

// The four categories of head-office files, in the fixed order a run handles them.
enum class Categorie { RemiseAchat = 0, Personnalisation = 1, Message = 2, Document = 3 };

inline constexpr std::array<Categorie, 4> kCategoriesEnOrdre = {
    Categorie::RemiseAchat, Categorie::Personnalisation, Categorie::Message, Categorie::Document};

// One head-office file: the name it has on the server, in the source folder and in the download
// folder; the root element of its documents; its key; the store table it goes into; its
// category; the integration operation that reports its errors.
struct HeadOfficeFile {
    std::string_view Name;
    std::string_view RootElement;
    std::string_view Key;
    std::string_view Table;
    Categorie Category;
    std::string_view Operation;
};

// The six head-office files, by category in the fixed order and, within a category, in the order
// they are fetched and integrated; a later file of a category is fetched only when the earlier
// ones arrived.
inline constexpr std::array<HeadOfficeFile, 6> kHeadOfficeFiles = {{
    {"remise_achat.xml", "RemisesAchat", "remise", "REMISES.DB", Categorie::RemiseAchat,
     "IntegrerRemiseAchat"},
    {"personnalisation.xml", "Personnalisations", "personnalisation", "Perso.DB",
     Categorie::Personnalisation, "IntegrerPersonnalisation"},
    {"message.xml", "Messages", "message", "Message.DB", Categorie::Message, "IntegrerMessage"},
    {"message_type.xml", "Messages", "message_type", "MessageType.DB", Categorie::Message,
     "IntegrerMessage"},
    {"mes_docs.xml", "Documents", "mes_docs", "MesDocs.DB", Categorie::Document,
     "IntegrerDocument"},
    {"mes_docs_type.xml", "Documents", "mes_docs_type", "MesDocsType.DB", Categorie::Document,
     "IntegrerDocument"},
}};

// The files of a category, in their order.
inline std::span<const HeadOfficeFile> FichiersDeCategorie(Categorie c) {
    const auto first = std::find_if(kHeadOfficeFiles.begin(), kHeadOfficeFiles.end(),
                                    [c](const HeadOfficeFile& f) { return f.Category == c; });
    const auto last = std::find_if(first, kHeadOfficeFiles.end(),
                                   [c](const HeadOfficeFile& f) { return f.Category != c; });
    return {first, last};
}

// The file of that name, if it is one of the six.
inline const HeadOfficeFile* FindHeadOfficeFile(std::string_view name) {
    const auto it = std::find_if(kHeadOfficeFiles.begin(), kHeadOfficeFiles.end(),
                                 [name](const HeadOfficeFile& f) { return f.Name == name; });
    return it == kHeadOfficeFiles.end() ? nullptr : &*it;
}

inline constexpr std::size_t Index(Categorie c) {
    return static_cast<std::size_t>(c);
}

}  // namespace quorvane
