#pragma once

#include <array>
#include <string_view>
#include <vector>

namespace quorvane {

// The four categories of head-office files, in the fixed order a run handles them.
enum class Categorie { RemiseAchat = 0, Personnalisation = 1, Message = 2, Document = 3 };

inline constexpr std::array<Categorie, 4> kCategoriesEnOrdre = {
    Categorie::RemiseAchat, Categorie::Personnalisation, Categorie::Message, Categorie::Document};

// The files of a category, in the order they are fetched; a later file is fetched only when
// the earlier ones arrived.
inline std::vector<std::string_view> FichiersDeCategorie(Categorie c) {
    switch (c) {
        case Categorie::RemiseAchat:
            return {"remise_achat.xml"};
        case Categorie::Personnalisation:
            return {"personnalisation.xml"};
        case Categorie::Message:
            return {"message.xml", "message_type.xml"};
        case Categorie::Document:
            return {"mes_docs.xml", "mes_docs_type.xml"};
    }
    return {};
}

inline constexpr std::size_t Index(Categorie c) {
    return static_cast<std::size_t>(c);
}

}  // namespace quorvane
