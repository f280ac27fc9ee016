// The loader's limits: what it refuses, and that what lies just inside them still loads.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "xml/MarkupGuard.h"
#include "xml/Tnativexml.h"
#include "xml/XmlParse.h"

namespace quorvane::testing {
namespace {

std::string Attributes(std::uint32_t count, const std::string& value = "v") {
    std::string text;
    for (std::uint32_t i = 0; i < count; ++i) {
        text += " a" + std::to_string(i) + "=\"" + value + "\"";
    }
    return text;
}

// The refusal's reason, or "" when the bytes load.
std::string Refusal(const std::string& bytes) {
    try {
        TNativeXmlOMB xml("R");
        xml.LoadFromMemory(bytes, "essai");
        return "";
    } catch (const XmlLoadError& error) {
        return error.what();
    }
}

// Markup where '=', '>' and quotes appear outside any start tag, or inside quotes, and must not
// be counted; then a start tag of three attributes.
const std::string kTricky =
    "<?xml version=\"1.0\" encoding='UTF-8'?><?pi a=b c=\"d>\"?>\n"
    "<!DOCTYPE R [ <!-- a=b ] > \" --> <?p x=y?> ]>\n"
    "<!-- a=b <R c=d> - -> -->"
    "<R x=\"a=b>c\" y='\"=>' ><![CDATA[ <S a=b c=d> ]] ]]>t=u>v"
    "<S a=\"1\"\tb = '2'\nc=\"3\"/></R>";

TEST(MarkupGuard, CountsOnlyAttributesOfStartTagsWhereverThePiecesSplit) {
    for (std::size_t split = 0; split <= kTricky.size(); ++split) {
        const std::string_view all(kTricky);
        MarkupGuard exact(3);
        EXPECT_TRUE(exact.Scan(all.substr(0, split)) && exact.Scan(all.substr(split)))
            << "split at " << split;
        MarkupGuard tight(2);
        EXPECT_FALSE(tight.Scan(all.substr(0, split)) && tight.Scan(all.substr(split)))
            << "split at " << split;
    }
    // The same bytes one at a time.
    MarkupGuard bytewise(2);
    bool ok = true;
    for (const char c : kTricky) {
        ok = bytewise.Scan(std::string_view(&c, 1)) && ok;
    }
    EXPECT_FALSE(ok);
    // And the tricky file is one the parser reads as the guard does.
    EXPECT_EQ(Refusal(kTricky), "");
}

TEST(XmlLoadLimits, AttributesUpToTheLimitLoadOneMoreIsRefused) {
    const auto make = [](std::uint32_t count, const std::string& value) {
        return "<R><Lignes><Ligne" + Attributes(count, value) + "/></Lignes></R>";
    };
    TNativeXmlOMB xml("R");
    xml.LoadFromMemory(make(kMaxAttributesPerElement, "v"), "mille");
    auto ligne = xml.Root().FindChild("Lignes")->FindChild("Ligne");
    ASSERT_NE(ligne, nullptr);
    EXPECT_EQ(ligne->AttributeCount(), 1000);
    EXPECT_EQ(ligne->IndexOfAttribute("a999"), 999);

    EXPECT_NE(Refusal(make(kMaxAttributesPerElement + 1, "v")).find("plus de 1000 attributs"),
              std::string::npos);
    // A tag larger than the pieces the file is handed over in, over the limit only in its
    // last piece.
    const std::string wide(400, 'x');
    EXPECT_NE(Refusal(make(kMaxAttributesPerElement + 1, wide)).find("attributs"),
              std::string::npos);
    EXPECT_EQ(Refusal(make(kMaxAttributesPerElement, wide)), "");
}

TEST(XmlLoadLimits, ADoctypeMayOnlyNameTheRoot) {
    const std::string body = "<R a=\"&amp;&#233;\"/>";
    EXPECT_EQ(Refusal("<!DOCTYPE R>" + body), "");
    EXPECT_EQ(Refusal("<!DOCTYPE R [ <!-- rien --> <?pi?> ]>" + body), "");
    const std::pair<const char*, const char*> refused[] = {
        {"<!DOCTYPE R [<!ENTITY e \"x\">]>", "déclaration d'entité refusée"},
        {"<!DOCTYPE R [<!ENTITY % p \"x\">]>", "déclaration d'entité refusée"},
        {"<!DOCTYPE R [<!ATTLIST R a CDATA \"défaut\">]>", "déclaration DTD refusée"},
        {"<!DOCTYPE R [<!ELEMENT R ANY>]>", "déclaration DTD refusée"},
        {"<!DOCTYPE R [<!NOTATION n SYSTEM \"n\">]>", "déclaration DTD refusée"},
        {"<!DOCTYPE R SYSTEM \"r.dtd\">", "DTD externe refusée"},
    };
    for (const auto& [doctype, reason] : refused) {
        const std::string error = Refusal(doctype + body);
        EXPECT_NE(error.find(reason), std::string::npos) << doctype << " -> " << error;
    }
}

TEST(XmlLoadLimits, NestingDeeperThanTheLimitIsRefused) {
    const auto nested = [](std::uint32_t depth) {
        std::string open;
        std::string close;
        for (std::uint32_t i = 0; i < depth; ++i) {
            open += "<R>";
            close += "</R>";
        }
        return open + close;
    };
    EXPECT_EQ(Refusal(nested(quorvane::kMaxElementDepth)), "");
    EXPECT_NE(Refusal(nested(quorvane::kMaxElementDepth + 1)).find("niveaux"), std::string::npos);
    // Never closed: refused at the limit, not after a million levels.
    std::string endless;
    for (int i = 0; i < 1000000; ++i) {
        endless += "<R>";
    }
    EXPECT_NE(Refusal(endless).find("niveaux"), std::string::npos);
}

TEST(XmlLoadLimits, NamespaceDeclarationsAreCountedOverTheWholeFile) {
    const auto make = [](std::uint32_t count) {
        std::string text = "<R>";
        for (std::uint32_t i = 0; i < count; ++i) {
            text += "<p" + std::to_string(i) + ":E xmlns:p" + std::to_string(i) + "=\"u\"/>";
        }
        return text + "</R>";
    };
    EXPECT_EQ(Refusal(make(kMaxNamespaceDeclarations)), "");
    EXPECT_NE(Refusal(make(kMaxNamespaceDeclarations + 1)).find("espaces de noms"),
              std::string::npos);
}

TEST(XmlLoadLimits, OnlyEncodingsWhoseMarkupIsAscii) {
    TNativeXmlOMB xml("R");
    xml.LoadFromMemory("<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><R a=\"\xA4\"/>", "l9");
    EXPECT_EQ(xml.Root().ReadAttribute("a", ""), "€");
    xml.LoadFromMemory("\xEF\xBB\xBF<R a=\"\xC3\xA9\"/>", "bom");
    EXPECT_EQ(xml.Root().ReadAttribute("a", ""), "é");

    const std::string utf16le("\xFF\xFE<\0R\0/\0>\0", 10);
    EXPECT_NE(Refusal(utf16le).find("encodage non pris en charge"), std::string::npos);
    // UTF-7 writes '<' as "+ADw-": the guard would see no tag at all.
    EXPECT_NE(Refusal("<?xml version=\"1.0\" encoding=\"UTF-7\"?>+ADw-R/+AD4-")
                  .find("encodage non pris en charge : UTF-7"),
              std::string::npos);
    EXPECT_NE(Refusal("<?xml version=\"1.0\" encoding=\"UTF-16\"?><R/>").find("encodage"),
              std::string::npos);
}

}  // namespace
}  // namespace quorvane::testing
