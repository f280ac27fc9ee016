// The compact document against the libxml2 tree the wrapper was built on before, file by file:
// every element name, attribute name and value and their order must be the same, and a file
// one refuses the other refuses too. The only files the compact loader refuses and the tree
// accepted are those its limits are about (DTD declarations, attribute and namespace counts,
// encodings it cannot guard), and each of those is named in the test.
//
// The tree walk below is the previous loader, kept here only to compare against.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

// parser.h first: tree.h alone misses declarations.
#include <libxml/parser.h>

#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include "support/TestFiles.h"
#include "xml/Tnativexml.h"
#include "xml/XmlParse.h"

namespace fs = std::filesystem;

namespace quorvane::testing {
namespace {

struct Element {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<Element> children;
    bool operator==(const Element&) const = default;
};

struct Loaded {
    bool ok = false;
    std::string error;
    std::string encoding;
    std::vector<Element> top;
};

// ---- the previous loader: libxml2's tree ----

struct DocFree {
    void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};
struct CtxtFree {
    void operator()(xmlParserCtxt* ctxt) const noexcept { xmlFreeParserCtxt(ctxt); }
};

// As the previous loader did: any error of level ERROR or worse refuses the file.
void OnContextError(void* userData, xmlErrorPtr error) {
    auto* ctxt = static_cast<xmlParserCtxt*>(userData);
    if (error != nullptr && error->level >= XML_ERR_ERROR) {
        *static_cast<bool*>(ctxt->_private) = true;
    }
}
void OnThreadError(void* userData, xmlErrorPtr error) {
    if (error != nullptr && error->level >= XML_ERR_ERROR) {
        *static_cast<bool*>(userData) = true;
    }
}

std::string Qualified(const xmlNs* ns, const xmlChar* local) {
    std::string name;
    if (ns != nullptr && ns->prefix != nullptr) {
        name.append(reinterpret_cast<const char*>(ns->prefix)).push_back(':');
    }
    return name.append(reinterpret_cast<const char*>(local));
}

Element FromTree(const xmlDoc* doc, const xmlNode* node) {
    Element e{Qualified(node->ns, node->name), {}, {}};
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        xmlChar* value = xmlNodeListGetString(const_cast<xmlDoc*>(doc), a->children, 1);
        e.attributes.emplace_back(Qualified(a->ns, a->name),
                                  value != nullptr ? reinterpret_cast<const char*>(value) : "");
        xmlFree(value);
    }
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            e.children.push_back(FromTree(doc, child));
        }
    }
    return e;
}

bool IsExternal(const xmlEntity& entity) {
    return entity.etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY ||
           entity.etype == XML_EXTERNAL_GENERAL_UNPARSED_ENTITY ||
           entity.etype == XML_EXTERNAL_PARAMETER_ENTITY;
}

Loaded LoadAsTree(const std::string& bytes) {
    quorvane::PrepareXmlParser();  // the same Windows-1252 decoder
    Loaded result;
    if (bytes.empty()) {
        return result;
    }
    bool errors = false;
    std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(xmlNewParserCtxt());
    ctxt->_private = &errors;
    ctxt->sax->serror = OnContextError;
    xmlSetStructuredErrorFunc(&errors, OnThreadError);
    std::unique_ptr<xmlDoc, DocFree> doc(xmlCtxtReadMemory(
        ctxt.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
        XML_PARSE_NONET | XML_PARSE_COMPACT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    const bool failed = doc == nullptr || ctxt->wellFormed == 0 || errors;
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    if (failed || doc->extSubset != nullptr) {
        return result;
    }
    if (const xmlDtd* dtd = doc->intSubset) {
        if (dtd->ExternalID != nullptr || dtd->SystemID != nullptr) {
            return result;
        }
        for (const xmlNode* decl = dtd->children; decl != nullptr; decl = decl->next) {
            if (decl->type == XML_ENTITY_DECL &&
                IsExternal(*reinterpret_cast<const xmlEntity*>(decl))) {
                return result;
            }
        }
    }
    result.ok = true;
    result.encoding = doc->encoding != nullptr ? reinterpret_cast<const char*>(doc->encoding) : "";
    for (const xmlNode* n = doc->children; n != nullptr; n = n->next) {
        if (n->type == XML_ELEMENT_NODE) {
            result.top.push_back(FromTree(doc.get(), n));
        }
    }
    return result;
}

// ---- the compact document ----

Element FromCompact(const CompactDocument& doc, CompactDocument::NodeId node) {
    Element e{std::string(doc.NameText(doc.NameOf(node))), {}, {}};
    auto attributes = doc.Attributes(node);
    while (attributes.Next()) {
        e.attributes.emplace_back(doc.NameText(attributes.Name()), attributes.Value());
    }
    for (auto child = doc.FirstChild(node); child != CompactDocument::kNoNode;
         child = doc.NextSibling(child)) {
        e.children.push_back(FromCompact(doc, child));
    }
    return e;
}

Loaded LoadAsCompact(const std::string& bytes) {
    Loaded result;
    try {
        const CompactDocument doc = quorvane::LoadXmlBytes(bytes, "comparé");
        result.ok = true;
        result.encoding = doc.Encoding();
        for (auto n = doc.FirstChild(CompactDocument::kDocumentNode); n != CompactDocument::kNoNode;
             n = doc.NextSibling(n)) {
            result.top.push_back(FromCompact(doc, n));
        }
    } catch (const XmlLoadError& error) {
        result.error = error.what();
    }
    return result;
}

// The wrapper's own look-ups on a loaded element agree with the tree's element.
void ExpectWrapperReads(const TXMLNodeOMB& node, const Element& expected) {
    ASSERT_EQ(node.NodeName(), expected.name);
    ASSERT_EQ(node.AttributeCount(), static_cast<int>(expected.attributes.size()));
    for (std::size_t i = 0; i < expected.attributes.size(); ++i) {
        const auto& [name, value] = expected.attributes[i];
        EXPECT_EQ(node.IndexOfAttribute(name), static_cast<int>(i)) << name;
        EXPECT_EQ(node.AttributeText(static_cast<int>(i)), value) << name;
        EXPECT_EQ(node.ReadAttribute(name,
                                     "\x01"
                                     "absent"),
                  value)
            << name;
    }
    std::map<std::string, std::vector<const Element*>> byName;
    for (const Element& child : expected.children) {
        byName[child.name].push_back(&child);
    }
    for (const auto& [name, children] : byName) {
        TXMLNodeListOMB list;
        node.ChildrenByName(name, list);
        ASSERT_EQ(list.Count(), static_cast<int>(children.size())) << name;
        for (int i = 0; i < list.Count(); ++i) {
            ExpectWrapperReads(*list.Item(i), *children[static_cast<std::size_t>(i)]);
        }
        ASSERT_NE(node.FindChild(name), nullptr);
        EXPECT_EQ(node.FindChild(name)->NodeName(), name);
    }
}

// The reasons for which the compact loader may refuse a file the tree accepted.
bool IsLimitRefusal(const std::string& error) {
    for (const char* reason : {"déclaration d'entité refusée", "déclaration DTD refusée",
                               "attributs dans un élément", "déclarations d'espaces de noms",
                               "encodage non pris en charge", "contredit l'encodage déclaré"}) {
        if (error.find(reason) != std::string::npos) {
            return true;
        }
    }
    return false;
}

struct Tally {
    int same = 0;
    int bothRefused = 0;
    std::vector<std::string> narrowed;
};

void Compare(const std::string& label, const std::string& bytes, Tally& tally) {
    SCOPED_TRACE(label);
    const Loaded tree = LoadAsTree(bytes);
    const Loaded compact = LoadAsCompact(bytes);
    if (!tree.ok) {
        EXPECT_FALSE(compact.ok) << "the compact loader accepts a file the tree refused";
        ++tally.bothRefused;
        return;
    }
    if (!compact.ok) {
        EXPECT_TRUE(IsLimitRefusal(compact.error)) << compact.error;
        tally.narrowed.push_back(label);
        return;
    }
    EXPECT_EQ(compact.encoding, tree.encoding);
    ASSERT_EQ(compact.top, tree.top);
    ++tally.same;
    ASSERT_EQ(tree.top.size(), 1u);
    TNativeXmlOMB xml(tree.top[0].name);
    xml.LoadFromMemory(bytes, label);
    ExpectWrapperReads(xml.Root(), tree.top[0]);
}

// ---- generated files ----

class Generator {
  public:
    explicit Generator(unsigned variant) : random_(variant) {}

    std::string Document() {
        const int encoding = Pick(3);
        std::string text;
        if (encoding == 0) {
            text += "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
        } else if (encoding == 1) {
            text += "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n";
        } else {
            text += "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";
        }
        if (Pick(5) == 0) {
            text += "<!DOCTYPE Racine>\n";
        }
        if (Pick(3) == 0) {
            text += "<!-- en-tête <Faux a=\"1\"/> -->\n<?traitement x=\"y\"?>\n";
        }
        ns_ = Pick(4) == 0;
        text += Elem("Racine", 0, encoding == 1);
        return text + "\n<!-- fin -->\n";
    }

  private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string Value(bool utf8) {
        static const char* const kPieces[] = {"",
                                              " ",
                                              "a",
                                              "Crème",
                                              "&amp;",
                                              "&lt;&gt;",
                                              "&quot;&apos;",
                                              "&#233;",
                                              "&#x20AC;",
                                              "&#38;#38;",
                                              "x\ty",
                                              "l1\nl2",
                                              "\r\n",
                                              "&#9;&#10;&#13;",
                                              "=>",
                                              "'",
                                              "ÉTÉ",
                                              "œ€",
                                              "  deux  blancs  ",
                                              "1,50",
                                              "-2",
                                              "&#x1F600;"};
        std::string v;
        const int n = Pick(4);
        for (int i = 0; i < n; ++i) {
            std::string piece = kPieces[Pick(static_cast<int>(std::size(kPieces)))];
            if (piece == "'" || piece == "\"") {
                piece = "&apos;";
            }
            v += piece;
        }
        if (!utf8) {
            // Written as a Windows-1252 or Latin-1 editor would: one byte per character.
            std::string narrow;
            for (std::size_t i = 0; i < v.size(); ++i) {
                const auto c = static_cast<unsigned char>(v[i]);
                if (c < 0x80) {
                    narrow.push_back(v[i]);
                } else if (c == 0xC3 && i + 1 < v.size()) {
                    narrow.push_back(static_cast<char>(static_cast<unsigned char>(v[++i]) + 0x40));
                } else {
                    // € and œ have no one-byte form in Latin-1: a byte of the upper half.
                    narrow.push_back(static_cast<char>(0x80 + Pick(0x80)));
                    while (i + 1 < v.size() &&
                           (static_cast<unsigned char>(v[i + 1]) & 0xC0) == 0x80) {
                        ++i;
                    }
                }
            }
            v = narrow;
        }
        return v;
    }

    std::string Elem(const std::string& name, int depth, bool utf8) {
        static const char* const kNames[] = {"Ligne", "Lignes",  "Version", "Configuration",
                                             "ligne", "Élément", "x-y.z",   "_a"};
        std::string text = "<" + name;
        if (depth == 0 && ns_) {
            text += " xmlns:q=\"urn:q\" xmlns=\"urn:defaut\"";
        }
        const int attributes = Pick(6);
        bool lang = false;
        for (int i = 0; i < attributes; ++i) {
            std::string attr =
                std::string(kNames[Pick(static_cast<int>(std::size(kNames)))]) + std::to_string(i);
            if (ns_ && Pick(3) == 0) {
                attr = "q:" + attr;
            }
            if (Pick(8) == 0) {
                if (lang) {
                    continue;
                }
                attr = "xml:lang";
                lang = true;
            }
            if (!utf8) {
                attr.erase(std::remove_if(attr.begin(), attr.end(),
                                          [](char c) { return (c & 0x80) != 0; }),
                           attr.end());
                if (attr.empty() || attr[0] == '-' || attr[0] == '.' ||
                    (attr[0] >= '0' && attr[0] <= '9')) {
                    attr = "n" + attr;
                }
            }
            const char quote = Pick(2) == 0 ? '"' : '\'';
            text += (Pick(2) == 0 ? " " : "\r\n\t") + attr + (Pick(2) == 0 ? "=" : " = ") + quote +
                    Value(utf8) + quote;
        }
        const int children = depth > 6 ? 0 : Pick(5);
        if (children == 0 && Pick(2) == 0) {
            return text + "/>";
        }
        text += ">";
        for (int i = 0; i < children; ++i) {
            switch (Pick(5)) {
                case 0:
                    text += "<!-- commentaire <b a='1'> -->";
                    break;
                case 1:
                    text += "<![CDATA[<Ligne Faux=\"1\"/>]]>";
                    break;
                case 2:
                    text += "texte &amp; &#233; " + std::string(utf8 ? "é" : "\xE9");
                    break;
                default:
                    break;
            }
            std::string child = kNames[Pick(static_cast<int>(std::size(kNames)))];
            if (!utf8 && child == "Élément") {
                child = "Element";
            }
            if (ns_ && Pick(3) == 0) {
                child = "q:" + child;
            }
            text += Elem(child, depth + 1, utf8);
        }
        return text + "</" + name + ">";
    }

    std::mt19937 random_;
    bool ns_ = false;
};

std::vector<std::pair<std::string, std::string>> HandMadeFiles() {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n";
    std::string thousand = "<R><Ligne";
    std::string thousandOne;
    for (int i = 0; i < 1000; ++i) {
        thousand += " a" + std::to_string(i) + "=\"\xE9" + std::to_string(i) + "\"";
    }
    thousandOne = thousand + " z=\"1\"/></R>";
    thousand += "/></R>";
    // 150 declarations in scope at once, then 150 that each leave scope with their element.
    std::string manyNs = "<R";
    for (int i = 0; i < 150; ++i) {
        manyNs += " xmlns:p" + std::to_string(i) + "=\"u\"";
    }
    manyNs += "/>";
    std::string siblingNs = "<R>";
    for (int i = 0; i < 150; ++i) {
        siblingNs += "<p" + std::to_string(i) + ":E xmlns:p" + std::to_string(i) + "=\"u\"/>";
    }
    siblingNs += "</R>";
    const auto nested = [](int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i) {
            text += "<a>";
        }
        for (int i = 0; i < depth; ++i) {
            text += "</a>";
        }
        return text;
    };
    std::string laughs = "<!DOCTYPE R [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) {
            laughs += "&l" + std::to_string(i - 1) + ";";
        }
        laughs += "\">";
    }
    laughs += "]><R a=\"&l9;\"/>";
    return {
        {"1000 attributes", decl + thousand},
        {"1001 attributes", decl + thousandOne},
        {"150 namespace declarations in scope", manyNs},
        {"150 namespace declarations in turn", siblingNs},
        {"utf-8 mark, windows-1252 declared",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"windows-1252\"?><R a=\"\xC3\xA9\"/>"},
        {"257 levels", nested(257)},
        {"258 levels", nested(258)},
        {"billion laughs", laughs},
        {"internal entity", "<!DOCTYPE R [<!ENTITY e \"Soci&#233;t&#233;\">]><R a=\"&e;\"/>"},
        {"attribute default", "<!DOCTYPE R [<!ATTLIST R d CDATA \"d\">]><R a=\"1\"/>"},
        {"element declaration", "<!DOCTYPE R [<!ELEMENT R EMPTY>]><R/>"},
        {"utf-16", std::string("\xFF\xFE<\0R\0 \0a\0=\0\"\0\xE9\0\"\0/\0>\0", 22)},
        {"11 MB attribute", "<R a=\"" + std::string(11 * 1024 * 1024, 'x') + "\"/>"},
        {"60,000-character element name", "<R><" + std::string(60000, 'n') + "/></R>"},
        {"60,000-character attribute name", "<R " + std::string(60000, 'n') + "=\"1\"/>"},
        {"20 MB comment", "<R><!--" + std::string(20 * 1024 * 1024, 'c') + "--></R>"},
        {"undeclared entity", "<R a=\"&inconnue;\"/>"},
        {"lone ampersand", "<R a=\"x & y\"/>"},
        {"duplicate attribute", "<R a=\"1\" a=\"2\"/>"},
        {"two roots", "<R/><S/>"},
        {"undeclared prefix", "<R><p:L/></R>"},
        {"attributes split across pieces",
         "<R><L a=\"" + std::string(300000, 'y') + "\" b=\"&amp;\" c=\"\"/><M/></R>"},
    };
}

TEST(XmlDifferential, SampleBrokenAndDemoFilesReadTheSameAsTheTree) {
    Tally tally;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(std::string(QUORVANE_TEST_DATA))) {
        if (entry.is_regular_file() && entry.path().extension() == ".xml") {
            files.push_back(entry.path());
        }
    }
    for (const auto& entry :
         fs::directory_iterator(std::string(QUORVANE_SOURCE_DIR) + "/demo/headoffice")) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        Compare(file.string(), ReadFile(file), tally);
    }
    // 9 samples and the 6 demo files; the broken ones.
    EXPECT_GE(tally.same, 15);
    EXPECT_GE(tally.bothRefused, 20);
    // A file the tree read and the compact loader refuses: only the one with an internal entity.
    ASSERT_EQ(tally.narrowed.size(), 1u);
    EXPECT_NE(tally.narrowed[0].find("entite_interne.xml"), std::string::npos);
}

TEST(XmlDifferential, HostileAndHandMadeFiles) {
    Tally tally;
    for (const auto& [label, bytes] : HandMadeFiles()) {
        Compare(label, bytes, tally);
    }
    const std::vector<std::string> narrowed{"1001 attributes",
                                            "150 namespace declarations in scope",
                                            "utf-8 mark, windows-1252 declared",
                                            "internal entity",
                                            "attribute default",
                                            "element declaration",
                                            "utf-16"};
    EXPECT_EQ(tally.narrowed, narrowed);
    EXPECT_EQ(tally.same, 4);
}

TEST(XmlDifferential, GeneratedFilesReadTheSameAsTheTree) {
    Tally tally;
    for (unsigned variant = 1; variant <= 400; ++variant) {
        Generator generator(variant);
        Compare("generated " + std::to_string(variant), generator.Document(), tally);
        if (HasFatalFailure()) {
            return;
        }
    }
    EXPECT_TRUE(tally.narrowed.empty());
    // Nearly all generated files are well formed; the rest must be refused by both.
    EXPECT_GE(tally.same, 380);
}

}  // namespace
}  // namespace quorvane::testing
