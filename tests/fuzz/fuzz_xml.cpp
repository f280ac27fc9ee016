// Load-and-walk of arbitrary bytes through the XML wrapper, the way the integration reads a
// head-office file. Built as a libFuzzer target, and as an ordinary test that replays the
// sample files of tests/data/xml and the demo's head-office files.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "xml/Tnativexml.h"

namespace {

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
    LoadAndWalk(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
