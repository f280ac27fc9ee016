#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "xml/Tnativexml.h"

namespace fs = std::filesystem;

namespace quorvane::testing {
namespace {

std::string DataFile(const std::string& name) {
    return std::string(QUORVANE_TEST_DATA) + "/xml/" + name;
}

std::vector<std::string> Codes(const TXMLNodeListOMB& list) {
    std::vector<std::string> codes;
    for (int i = 0; i < list.Count(); ++i) {
        codes.push_back(list.Item(i)->ReadAttribute("Code", "?"));
    }
    return codes;
}

TEST(TNativeXmlConstruction, FreshDocumentHoldsAnEmptyRootElement) {
    int owner = 0;
    TNativeXmlOMB xml("RemisesAchat", &owner);
    EXPECT_EQ(xml.Owner(), &owner);
    EXPECT_EQ(xml.RootName(), "RemisesAchat");
    EXPECT_EQ(xml.Encoding(), "windows-1252");
    EXPECT_EQ(xml.DocNode().NodeName(), "#document");
    EXPECT_EQ(xml.Root().NodeName(), "RemisesAchat");
    EXPECT_EQ(xml.Root().Xml(), &xml);
    EXPECT_EQ(xml.DocNode().Xml(), &xml);
    EXPECT_EQ(xml.Root().AttributeCount(), 0);
    EXPECT_EQ(xml.Root().FindChild("Version"), nullptr);
    ASSERT_NE(xml.DocNode().FindChild("RemisesAchat"), nullptr);
    // A document has one top-level element: asking for another one adds nothing.
    EXPECT_EQ(xml.DocNode().AddChild("Autre"), nullptr);
    EXPECT_EQ(xml.DocNode().FindChild("Autre"), nullptr);
}

TEST(TNativeXmlConstruction, AddChildAndGetOrAddChild) {
    TNativeXmlOMB xml("Messages");
    auto added = xml.Root().AddChild("Lignes");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->NodeName(), "Lignes");
    EXPECT_NE(xml.Root().FindChild("Lignes"), nullptr);
    EXPECT_NE(added->AddChild("Ligne"), nullptr);
    EXPECT_NE(added->AddChild("Ligne"), nullptr);

    // The existing child is returned, not a second one.
    auto again = xml.Root().GetOrAddChild("Lignes");
    ASSERT_NE(again, nullptr);
    TXMLNodeListOMB lines;
    again->ChildrenByName("Ligne", lines);
    EXPECT_EQ(lines.Count(), 2);
    TXMLNodeListOMB groups;
    xml.Root().ChildrenByName("Lignes", groups);
    EXPECT_EQ(groups.Count(), 1);

    EXPECT_NE(xml.Root().GetOrAddChild("Version"), nullptr);
    EXPECT_NE(xml.Root().ScanChild("Version"), nullptr);
    // Names that no element can bear.
    EXPECT_EQ(xml.Root().AddChild(""), nullptr);
    EXPECT_EQ(xml.Root().AddChild("2lignes"), nullptr);
    EXPECT_EQ(xml.Root().AddChild("a b"), nullptr);
}

TEST(TNativeXmlConstruction, RootNameThatIsNoElementNameLeavesRootOnTheDocument) {
    TNativeXmlOMB xml("");
    EXPECT_EQ(xml.Root().NodeName(), "#document");
}

TEST(TNativeXmlLoad, RootIsTheTopLevelElementOfThatName) {
    TNativeXmlOMB xml("RemisesAchat");
    xml.LoadFromFile(DataFile("remises_cp1252.xml"));
    EXPECT_EQ(xml.Root().NodeName(), "RemisesAchat");
    EXPECT_EQ(xml.Encoding(), "windows-1252");
    auto version = xml.Root().FindChild("Version");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->ReadAttribute("Numero", ""), "1.0");
}

TEST(TNativeXmlLoad, OtherTopLevelNameMakesRootTheDocumentNode) {
    TNativeXmlOMB xml("RemisesAchat");
    xml.LoadFromFile(DataFile("autre_racine.xml"));
    EXPECT_EQ(xml.Root().NodeName(), "#document");
    EXPECT_EQ(xml.Root().FindChild("Version"), nullptr);
    EXPECT_EQ(xml.Root().FindChild("Lignes"), nullptr);
    EXPECT_NE(xml.Root().FindChild("Remises"), nullptr);
    EXPECT_EQ(xml.Root().ReadAttribute("Numero", "absent"), "absent");
    EXPECT_EQ(xml.Root().AttributeCount(), 0);
}

TEST(TNativeXmlLoad, RootNameIsComparedWithCase) {
    TNativeXmlOMB xml("remisesachat");
    xml.LoadFromFile(DataFile("remises_cp1252.xml"));
    EXPECT_EQ(xml.Root().NodeName(), "#document");
}

TEST(TNativeXmlEncoding, Windows1252ValuesComeBackAsUtf8) {
    TNativeXmlOMB xml("RemisesAchat");
    xml.LoadFromFile(DataFile("remises_cp1252.xml"));
    auto lignes = xml.Root().FindChild("Lignes");
    ASSERT_NE(lignes, nullptr);
    TXMLNodeListOMB list;
    lignes->ChildrenByName("Ligne", list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(0)->ReadAttribute("Fournisseur", ""), "CRÈME");
    EXPECT_EQ(list.Item(0)->ReadAttribute("Libelle", ""), "Crème brûlée à l'œuf");
    EXPECT_EQ(list.Item(0)->ReadAttribute("Prix", ""), "12,50 €");
    EXPECT_EQ(list.Item(0)->ReadAttributeInteger("Remise", 0), 15);
    EXPECT_EQ(list.Item(1)->ReadAttribute("Fournisseur", ""), "ÉTÉ");
    EXPECT_EQ(list.Item(1)->ReadAttribute("Libelle", ""), "Garçon « déçu » – naïve");
    EXPECT_EQ(list.Item(1)->ReadAttributeInteger("Remise", 0), -2);
}

TEST(TNativeXmlEncoding, UndefinedWindows1252BytesReadAsC1Controls) {
    // The same reading as the settings file and ombbde.ini get, rather than a refused file.
    TNativeXmlOMB xml("RemisesAchat");
    xml.LoadFromFile(DataFile("cp1252_octets_c1.xml"));
    EXPECT_EQ(xml.Root().ReadAttribute("Nom", ""), "\u0081\u008D\u008F\u0090\u009D");
    EXPECT_EQ(xml.Root().ReadAttribute("Prix", ""), "€");
}

TEST(TNativeXmlEncoding, LongWindows1252ValuesConvertAcrossBufferBoundaries) {
    // 90,000 bytes that widen to 180,000: the decoder is fed in many pieces.
    std::string bytes = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R a=\"";
    std::string expected;
    for (int i = 0; i < 30000; ++i) {
        bytes += "\x80\xE9z";
        expected += "€éz";
    }
    bytes += "\" b=\"\x9C\"/>";
    TNativeXmlOMB xml("R");
    xml.LoadFromMemory(bytes, "long");
    EXPECT_EQ(xml.Root().ReadAttribute("a", ""), expected);
    EXPECT_EQ(xml.Root().ReadAttribute("b", ""), "œ");
}

TEST(TNativeXmlEncoding, DeclaredAndDefaultEncodings) {
    TNativeXmlOMB xml("Documents");
    xml.LoadFromFile(DataFile("utf8.xml"));
    EXPECT_EQ(xml.Root().ReadAttribute("Nom", ""), "Hélène ☃");
    xml.LoadFromFile(DataFile("latin1.xml"));
    EXPECT_EQ(xml.Root().ReadAttribute("Nom", ""), "Hélène");
    xml.LoadFromFile(DataFile("sans_declaration.xml"));
    EXPECT_EQ(xml.Root().ReadAttribute("Nom", ""), "Hélène");
}

TEST(TNativeXmlEncoding, PredefinedEntitiesAndCharacterReferencesAreDecoded) {
    TNativeXmlOMB xml("Documents");
    xml.LoadFromFile(DataFile("references.xml"));
    // Decoded once: "&amp;#38;" is the text "&#38;", not an ampersand.
    const std::string expected = "Société & Cie (siège) <>\"' &#38;";
    EXPECT_EQ(xml.Root().ReadAttribute("Nom", ""), expected);
    EXPECT_EQ(xml.Root().AttributeText(0), expected);
    EXPECT_EQ(xml.Root().ReadAttributeInteger("Nombre", 0), 42);
}

class TXMLNodeAttributes : public ::testing::Test {
  protected:
    void SetUp() override {
        xml_.LoadFromFile(DataFile("lignes.xml"));
        auto lignes = xml_.Root().FindChild("Lignes");
        ASSERT_NE(lignes, nullptr);
        lignes->ChildrenByName("Ligne", lines_);
        ASSERT_EQ(lines_.Count(), 2);
    }
    TNativeXmlOMB xml_{"Messages"};
    TXMLNodeListOMB lines_;
};

TEST_F(TXMLNodeAttributes, PositionsFollowDocumentOrderAndExactNames) {
    const TXMLNodeOMB& first = *lines_.Item(0);
    EXPECT_EQ(first.AttributeCount(), 3);
    EXPECT_EQ(first.IndexOfAttribute("Code"), 0);
    EXPECT_EQ(first.IndexOfAttribute("Titre"), 1);
    EXPECT_EQ(first.IndexOfAttribute("titre"), -1);
    EXPECT_EQ(first.IndexOfAttribute("TITRE"), -1);
    EXPECT_EQ(first.IndexOfAttribute("Absent"), -1);
    EXPECT_EQ(first.AttributeText(1), "Premier");
    EXPECT_EQ(first.AttributeText(2), "1");
    EXPECT_EQ(first.AttributeText(3), "");
    EXPECT_EQ(first.AttributeText(-1), "");
}

TEST_F(TXMLNodeAttributes, EmptyValuesAndDefaults) {
    const TXMLNodeOMB& second = *lines_.Item(1);
    EXPECT_EQ(second.ReadAttribute("Titre", "défaut"), "");
    EXPECT_EQ(second.ReadAttributeInteger("Titre", 77), 77);
    EXPECT_EQ(second.AttributeText(second.IndexOfAttribute("Titre")), "");
    EXPECT_EQ(second.ReadAttribute("Absent", "défaut"), "défaut");
    EXPECT_EQ(second.ReadAttribute("titre", "défaut"), "défaut");
    EXPECT_EQ(second.ReadAttributeInteger("Absent", -5), -5);
}

TEST_F(TXMLNodeAttributes, WholeNumbersFollowTheStoreRule) {
    EXPECT_EQ(lines_.Item(0)->ReadAttributeInteger("Ordre", 0), 1);
    const TXMLNodeOMB& second = *lines_.Item(1);
    EXPECT_EQ(second.ReadAttributeInteger("Ordre", 99), 99);  // "1.5"
    EXPECT_EQ(second.ReadAttributeInteger("Mot", 99), 99);    // "douze"
    EXPECT_EQ(second.ReadAttributeInteger("Espace", 99), 7);  // " 7"
    EXPECT_EQ(second.ReadAttributeInteger("Signe", 99), 8);   // "+8"
}

TEST_F(TXMLNodeAttributes, ForEachAttributeVisitsAllInOrder) {
    std::vector<std::pair<std::string, std::string>> seen;
    lines_.Item(1)->ForEachAttribute([&](std::string_view name, std::string_view value) {
        seen.emplace_back(std::string(name), std::string(value));
    });
    const std::vector<std::pair<std::string, std::string>> expected{
        {"Code", "A2"},   {"Titre", ""},    {"Ordre", "1.5"},
        {"Mot", "douze"}, {"Espace", " 7"}, {"Signe", "+8"}};
    EXPECT_EQ(seen, expected);
}

// A name looked up once reads as the name itself would, on every node of the tree, and is looked
// up again for a node of another tree or of the tree a reload made: there, the same name has
// another id and the old one belongs to another attribute.
TEST_F(TXMLNodeAttributes, NamesLookedUpOnceReadAsTheNameOnAnyTree) {
    TXMLAttributeName titre("Titre");
    TXMLAttributeName mot("Mot");
    TXMLAttributeName lower("titre");
    TXMLAttributeName absent("Absent");
    std::string_view value = "?";
    ASSERT_TRUE(lines_.Item(0)->FindAttribute(titre, value));
    EXPECT_EQ(value, "Premier");
    ASSERT_TRUE(lines_.Item(1)->FindAttribute(titre, value));
    EXPECT_EQ(value, "");  // present and empty
    EXPECT_FALSE(lines_.Item(0)->FindAttribute(mot, value));
    ASSERT_TRUE(lines_.Item(1)->FindAttribute(mot, value));
    EXPECT_EQ(value, "douze");
    EXPECT_FALSE(lines_.Item(1)->FindAttribute(lower, value));
    EXPECT_FALSE(lines_.Item(1)->FindAttribute(absent, value));

    const std::string other =
        "<Messages><Lignes><Ligne Absent=\"ici\" Mot=\"un\" Titre=\"Autre\"/></Lignes></Messages>";
    TNativeXmlOMB second("Messages");
    second.LoadFromMemory(other, "autre");
    TXMLNodeListOMB otherLines;
    second.Root().FindChild("Lignes")->ChildrenByName("Ligne", otherLines);
    ASSERT_EQ(otherLines.Count(), 1);
    for (TXMLAttributeName* name : {&titre, &mot, &absent}) {
        ASSERT_TRUE(otherLines.Item(0)->FindAttribute(*name, value));
        EXPECT_EQ(value, otherLines.Item(0)->ReadAttribute(name->Name(), "?"));
    }
    // Back on the first tree, then on the tree that replaces it.
    ASSERT_TRUE(lines_.Item(0)->FindAttribute(titre, value));
    EXPECT_EQ(value, "Premier");
    xml_.LoadFromMemory(other, "rechargé");
    TXMLNodeListOMB reloaded;
    xml_.Root().FindChild("Lignes")->ChildrenByName("Ligne", reloaded);
    ASSERT_TRUE(reloaded.Item(0)->FindAttribute(titre, value));
    EXPECT_EQ(value, "Autre");
    ASSERT_TRUE(reloaded.Item(0)->FindAttribute(absent, value));
    EXPECT_EQ(value, "ici");
    EXPECT_THROW(lines_.Item(0)->FindAttribute(titre, value), std::logic_error);
}

TEST(TXMLNodeChildren, ChildrenByNameSkipsOtherNodesAndKeepsExistingHandles) {
    TNativeXmlOMB xml("Messages");
    xml.LoadFromFile(DataFile("lignes.xml"));
    // The first of two elements of the same name counts.
    auto lignes = xml.Root().FindChild("Lignes");
    ASSERT_NE(lignes, nullptr);
    EXPECT_EQ(lignes->ReadAttribute("Code", "premier"), "premier");
    EXPECT_EQ(xml.Root().ScanChild("Lignes")->ReadAttribute("Code", "premier"), "premier");

    TXMLNodeListOMB list;
    list.Add(xml.Root().FindChild("Version"));
    list.Add(nullptr);
    EXPECT_EQ(list.Count(), 1);
    lignes->ChildrenByName("Ligne", list);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Item(0)->NodeName(), "Version");
    EXPECT_EQ(list.Item(1)->ReadAttribute("Code", ""), "A1");
    EXPECT_EQ(list.Item(2)->ReadAttribute("Code", ""), "A2");
    EXPECT_EQ(list.Item(list.Count()), nullptr);
    EXPECT_EQ(list.Item(-1), nullptr);

    TXMLNodeListOMB none;
    lignes->ChildrenByName("ligne", none);
    lignes->ChildrenByName("comment", none);  // libxml2's own name for comment nodes
    lignes->ChildrenByName("text", none);     // and for text nodes
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(lignes->FindChild("text"), nullptr);
    EXPECT_EQ(lignes->FindChild("comment"), nullptr);
}

TEST(TXMLNodeChildren, PrefixedNamesAreMatchedAsWritten) {
    TNativeXmlOMB xml("Documents");
    xml.LoadFromFile(DataFile("prefixes.xml"));
    TXMLNodeListOMB prefixed;
    xml.Root().ChildrenByName("q:Ligne", prefixed);
    EXPECT_EQ(Codes(prefixed), std::vector<std::string>{"N1"});
    EXPECT_EQ(prefixed.Item(0)->NodeName(), "q:Ligne");
    EXPECT_EQ(prefixed.Item(0)->ReadAttribute("q:Code", ""), "P1");
    EXPECT_EQ(prefixed.Item(0)->IndexOfAttribute("q:Code"), 0);
    TXMLNodeListOMB plain;
    xml.Root().ChildrenByName("Ligne", plain);
    EXPECT_EQ(Codes(plain), std::vector<std::string>{"N2"});
}

// ---- Refused inputs ----

class TNativeXmlRefused : public ::testing::TestWithParam<const char*> {};

TEST_P(TNativeXmlRefused, RaisesXmlLoadErrorSilentlyAndKeepsThePreviousTree) {
    TNativeXmlOMB xml("RemisesAchat");
    xml.LoadFromFile(DataFile("remises_cp1252.xml"));
    auto version = xml.Root().FindChild("Version");
    ASSERT_NE(version, nullptr);

    const std::string path = DataFile(std::string("bad/") + GetParam());
    ::testing::internal::CaptureStderr();
    try {
        xml.LoadFromFile(path);
        ADD_FAILURE() << "accepted: " << path;
    } catch (const XmlLoadError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Erreur de chargement du fichier " + path, 0), 0u)
            << error.what();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // A failed load leaves the document as it was, handles included.
    EXPECT_TRUE(version->IsValid());
    EXPECT_EQ(version->ReadAttribute("Numero", ""), "1.0");
    EXPECT_EQ(xml.Root().NodeName(), "RemisesAchat");
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, TNativeXmlRefused,
    ::testing::Values("vide.xml", "tronque.xml", "balises_croisees.xml", "deux_racines.xml",
                      "attribut_double.xml", "esperluette.xml", "entite_inconnue.xml",
                      "cp1252_non_declare.xml", "utf8_invalide.xml", "encodage_inconnu.xml",
                      "prefixe_non_declare.xml", "dtd_externe.xml", "dtd_publique.xml",
                      "entite_externe.xml", "entite_parametre_externe.xml",
                      "entite_non_analysee.xml", "entite_interne.xml", "milliard_de_rires.xml",
                      "milliard_de_rires_attribut.xml", "entites_en_boucle.xml", "texte_seul.xml",
                      "declaration_seule.xml", "absent.xml", "."));

TEST(TNativeXmlRefusedMemory, LoadFromMemoryUsesTheSameRules) {
    TNativeXmlOMB xml("R");
    EXPECT_THROW(xml.LoadFromMemory("", "vide"), XmlLoadError);
    EXPECT_THROW(xml.LoadFromMemory("<R>", "ouvert"), XmlLoadError);
    xml.LoadFromMemory("<R a='1'/>", "court");
    EXPECT_EQ(xml.Root().ReadAttributeInteger("a", 0), 1);
}

}  // namespace
}  // namespace quorvane::testing
