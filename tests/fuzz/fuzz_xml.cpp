// Load-and-walk of arbitrary bytes through the XML wrapper, the way the integration reads a
// head-office file; and the same bytes loaded again in small pieces, which must give the same
// document or a refusal again. Built as a libFuzzer target, and as an ordinary test that replays
// the sample files of tests/data/xml and the demo's head-office files.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "xml/Tnativexml.h"
#include "xml/XmlParse.h"

namespace {

using quorvane::CompactDocument;

bool SameElement(const CompactDocument& a, const CompactDocument& b, CompactDocument::NodeId x,
                 CompactDocument::NodeId y) {
    if (x == CompactDocument::kNoNode || y == CompactDocument::kNoNode) {
        return x == y;
    }
    if (x != CompactDocument::kDocumentNode && a.NameText(a.NameOf(x)) != b.NameText(b.NameOf(y))) {
        return false;
    }
    auto ax = a.Attributes(x);
    auto by = b.Attributes(y);
    while (true) {
        const bool more = ax.Next();
        if (more != by.Next()) {
            return false;
        }
        if (!more) {
            break;
        }
        if (a.NameText(ax.Name()) != b.NameText(by.Name()) || ax.Value() != by.Value()) {
            return false;
        }
    }
    CompactDocument::NodeId cx = a.FirstChild(x);
    CompactDocument::NodeId cy = b.FirstChild(y);
    for (; cx != CompactDocument::kNoNode && cy != CompactDocument::kNoNode;
         cx = a.NextSibling(cx), cy = b.NextSibling(cy)) {
        if (!SameElement(a, b, cx, cy)) {
            return false;
        }
    }
    return cx == cy;
}

// However the file is cut into pieces, the loader reads the same document, or refuses it.
void LoadInPieces(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > 64 * 1024) {
        return;
    }
    const std::size_t piece = 1 + static_cast<unsigned char>(bytes.back()) % 13;
    std::optional<CompactDocument> whole;
    std::optional<CompactDocument> cut;
    try {
        whole = quorvane::LoadXmlBytes(bytes, "entier");
    } catch (const quorvane::XmlLoadError&) {
    }
    try {
        cut = quorvane::LoadXmlBytes(bytes, "morceaux", piece);
    } catch (const quorvane::XmlLoadError&) {
    }
    if (whole.has_value() != cut.has_value()) {
        __builtin_trap();
    }
    if (whole && (whole->Encoding() != cut->Encoding() ||
                  !SameElement(*whole, *cut, CompactDocument::kDocumentNode,
                               CompactDocument::kDocumentNode))) {
        __builtin_trap();
    }
}

void Walk(const quorvane::TXMLNodeOMB& node) {
    std::vector<std::string> names;
    node.ForEachAttribute([&](std::string_view name, std::string_view value) {
        names.emplace_back(name);
        (void)value.size();
    });
    for (const std::string& name : names) {
        const int index = node.IndexOfAttribute(name);
        if (index < 0 || node.AttributeText(index) != node.ReadAttribute(name, "\x01")) {
            __builtin_trap();
        }
        (void)node.ReadAttributeInteger(name, -1);
    }
    if (node.AttributeText(static_cast<int>(names.size())) != "" || node.AttributeText(-1) != "") {
        __builtin_trap();
    }
}

void LoadAndWalk(std::string_view bytes) {
    quorvane::TNativeXmlOMB xml("RemisesAchat");
    try {
        xml.LoadFromMemory(bytes, "fuzz");
    } catch (const quorvane::XmlLoadError&) {
        return;
    }
    const quorvane::TXMLNodeOMB& root = xml.Root();
    Walk(root);
    if (auto version = root.FindChild("Version")) {
        (void)version->ReadAttribute("Numero", "");
    }
    if (auto configuration = root.FindChild("Configuration")) {
        (void)configuration->ReadAttributeInteger("ViderExterne", 0);
    }
    auto lignes = root.ScanChild("Lignes");
    quorvane::TXMLNodeListOMB lines;
    if (lignes != nullptr) {
        lignes->ChildrenByName("Ligne", lines);
        for (int i = 0; i < lines.Count(); ++i) {
            Walk(*lines.Item(i));
        }
        (void)lignes->GetOrAddChild("Ligne");
    }
    // Reloading ends every handle taken on the previous tree.
    xml.LoadFromMemory("<RemisesAchat/>", "fuzz");
    if (lines.Count() > 0) {
        try {
            Walk(*lines.Item(0));
            __builtin_trap();
        } catch (const std::logic_error&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    LoadAndWalk(bytes);
    LoadInPieces(bytes);
    return 0;
}
