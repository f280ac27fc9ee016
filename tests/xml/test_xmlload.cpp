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

TEST(XmlLoadLimits, NamespaceDeclarationsAreCountedInScope) {
    // `count` declarations on the root, then `nested` on one child: `count` + `nested` in scope.
    const auto make = [](std::uint32_t count, std::uint32_t nested) {
        std::string text = "<R";
        for (std::uint32_t i = 0; i < count; ++i) {
            text += " xmlns:p" + std::to_string(i) + "=\"u\"";
        }
        text += "><E";
        for (std::uint32_t i = 0; i < nested; ++i) {
            text += " xmlns:q" + std::to_string(i) + "=\"u\"";
        }
        return text + "/></R>";
    };
    EXPECT_EQ(Refusal(make(kMaxNamespaceDeclarations, 0)), "");
    EXPECT_EQ(Refusal(make(60, 40)), "");
    for (const auto& [count, nested] :
         {std::pair{kMaxNamespaceDeclarations + 1, 0U}, std::pair{60U, 41U}, std::pair{0U, 101U}}) {
        EXPECT_NE(Refusal(make(count, nested)).find("espaces de noms"), std::string::npos)
            << count << "+" << nested;
    }
    // Siblings each declaring their own prefix never have more than one in scope.
    std::string siblings = "<R>";
    for (int i = 0; i < 5000; ++i) {
        siblings += "<x:L xmlns:x=\"urn:l\" n=\"" + std::to_string(i) + "\"/>";
    }
    EXPECT_EQ(Refusal(siblings + "</R>"), "");
}

TEST(XmlLoadLimits, OnlyEncodingsWhoseMarkupIsAscii) {
    TNativeXmlOMB xml("R");
    xml.LoadFromMemory("<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><R a=\"\xA4\"/>", "l9");
    EXPECT_EQ(xml.Root().ReadAttribute("a", ""), "€");
    xml.LoadFromMemory("\xEF\xBB\xBF<R a=\"\xC3\xA9\"/>", "bom");
    EXPECT_EQ(xml.Root().ReadAttribute("a", ""), "é");

    xml.LoadFromMemory("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><R a=\"\xC3\xA9\"/>",
                       "bom+utf8");
    EXPECT_EQ(xml.Root().ReadAttribute("a", ""), "é");
    // A mark that says otherwise than the declaration: read either way, accents would change.
    for (const char* declared : {"windows-1252", "ISO-8859-1", "US-ASCII"}) {
        EXPECT_NE(Refusal(std::string("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"") + declared +
                          "\"?><R a=\"\xC3\xA9\"/>")
                      .find(std::string("contredit l'encodage déclaré ") + declared),
                  std::string::npos)
            << declared;
    }
    for (const char* mark : {"\xFF\xFE", "\xFE\xFF"}) {
        EXPECT_NE(
            Refusal(std::string(mark) + "<?xml version=\"1.0\" encoding=\"windows-1252\"?><R/>")
                .find("encodage non pris en charge"),
            std::string::npos);
    }

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
