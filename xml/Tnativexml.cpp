#include "xml/Tnativexml.h"

#include <libxml/tree.h>

#include "base/TextConversion.h"

namespace quorvane {

struct XmlTree {
    TNativeXmlOMB* xml;
    CompactDocument document;
};

namespace {

using NodeId = CompactDocument::NodeId;
constexpr NodeId kNoNode = CompactDocument::kNoNode;
constexpr NodeId kDocumentNode = CompactDocument::kDocumentNode;

bool IsElementName(const std::string& name) {
    return xmlValidateName(reinterpret_cast<const xmlChar*>(name.c_str()), 0) == 0;
}

}  // namespace

// ---- TXMLNodeOMB ----

TNativeXmlOMB* TXMLNodeOMB::Xml() const noexcept {
    return IsValid() ? tree_->xml : nullptr;
}

XmlTree& TXMLNodeOMB::Checked() const {
    if (!IsValid()) {
        throw std::logic_error("Nœud XML utilisé alors que son document a été détruit ou rechargé");
    }
    return *tree_;
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::Wrap(NodeId node) const {
    if (node == kNoNode) {
        return nullptr;
    }
    auto handle = std::make_unique<TXMLNodeOMB>(*this);
    handle->node_ = node;
    return handle;
}

NodeId TXMLNodeOMB::FirstChildNamed(const XmlTree& tree, std::string_view name) const {
    const CompactDocument& doc = tree.document;
    const CompactDocument::NameId wanted = doc.FindName(name);
    if (wanted == CompactDocument::kNoName) {
        return kNoNode;
    }
    for (NodeId child = doc.FirstChild(node_); child != kNoNode; child = doc.NextSibling(child)) {
        if (doc.NameOf(child) == wanted) {
            return child;
        }
    }
    return kNoNode;
}

bool TXMLNodeOMB::FindValue(const XmlTree& tree, std::string_view name,
                            std::string_view& value) const {
    const CompactDocument& doc = tree.document;
    const CompactDocument::NameId wanted = doc.FindName(name);
    if (wanted == CompactDocument::kNoName) {
        return false;
    }
    auto attributes = doc.Attributes(node_);
    while (attributes.Next()) {
        if (attributes.Name() == wanted) {
            value = attributes.Value();
            return true;
        }
    }
    return false;
}

bool TXMLNodeOMB::FindAttribute(TXMLAttributeName& name, std::string_view& value) const {
    const CompactDocument& doc = Checked().document;
    if (name.tree_.owner_before(alive_) || alive_.owner_before(name.tree_)) {
        name.tree_ = alive_;
        name.id_ = doc.FindName(name.name_);
    }
    if (name.id_ == CompactDocument::kNoName) {
        return false;
    }
    auto attributes = doc.Attributes(node_);
    while (attributes.Next()) {
        if (attributes.Name() == name.id_) {
            value = attributes.Value();
            return true;
        }
    }
    return false;
}

std::string TXMLNodeOMB::NodeName() const {
    const XmlTree& tree = Checked();
    if (node_ == kDocumentNode) {
        return "#document";
    }
    return std::string(tree.document.NameText(tree.document.NameOf(node_)));
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::FindChild(std::string_view name) const {
    return Wrap(FirstChildNamed(Checked(), name));
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::ScanChild(std::string_view name) const {
    return Wrap(FirstChildNamed(Checked(), name));
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::AddChild(std::string_view name) const {
    XmlTree& tree = Checked();
    CompactDocument& doc = tree.document;
    const std::string ownName(name);
    if (!IsElementName(ownName)) {
        return nullptr;
    }
    if (node_ == kDocumentNode && doc.FirstChild(kDocumentNode) != kNoNode) {
        // A document has exactly one top-level element; a second would not be XML.
        return nullptr;
    }
    return Wrap(doc.Append(node_, doc.Intern(ownName)));
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::GetOrAddChild(std::string_view name) const {
    auto found = ScanChild(name);
    return found != nullptr ? std::move(found) : AddChild(name);
}

int TXMLNodeOMB::IndexOfAttribute(std::string_view name) const {
    const CompactDocument& doc = Checked().document;
    const CompactDocument::NameId wanted = doc.FindName(name);
    if (wanted == CompactDocument::kNoName) {
        return -1;
    }
    int index = 0;
    auto attributes = doc.Attributes(node_);
    while (attributes.Next()) {
        if (attributes.Name() == wanted) {
            return index;
        }
        ++index;
    }
    return -1;
}

int TXMLNodeOMB::AttributeCount() const {
    return static_cast<int>(Checked().document.AttributeCount(node_));
}

std::string TXMLNodeOMB::AttributeText(int index) const {
    const CompactDocument& doc = Checked().document;
    if (index < 0) {
        return std::string();
    }
    auto attributes = doc.Attributes(node_);
    for (int i = 0; attributes.Next(); ++i) {
        if (i == index) {
            return std::string(attributes.Value());
        }
    }
    return std::string();
}

std::string TXMLNodeOMB::ReadAttribute(std::string_view name, const std::string& def) const {
    std::string_view value;
    return FindValue(Checked(), name, value) ? std::string(value) : def;
}

std::int32_t TXMLNodeOMB::ReadAttributeInteger(std::string_view name, std::int32_t def) const {
    std::string_view value;
    return FindValue(Checked(), name, value) ? TryStrToInt(value).value_or(def) : def;
}

void TXMLNodeOMB::ForEachAttribute(
    const std::function<void(std::string_view name, std::string_view value)>& visit) const {
    const CompactDocument& doc = Checked().document;
    auto attributes = doc.Attributes(node_);
    while (attributes.Next()) {
        visit(doc.NameText(attributes.Name()), attributes.Value());
    }
}

void TXMLNodeOMB::ChildrenByName(std::string_view name, TXMLNodeListOMB& list) const {
    const CompactDocument& doc = Checked().document;
    const CompactDocument::NameId wanted = doc.FindName(name);
    if (wanted == CompactDocument::kNoName) {
        return;
    }
    for (NodeId child = doc.FirstChild(node_); child != kNoNode; child = doc.NextSibling(child)) {
        if (doc.NameOf(child) == wanted) {
            TXMLNodeOMB& added = list.items_.emplace_back(*this);
            added.node_ = child;
        }
    }
}

// ---- TXMLNodeListOMB ----

TXMLNodeOMB* TXMLNodeListOMB::Item(int index) const noexcept {
    if (index < 0 || index >= Count()) {
        return nullptr;
    }
    return &items_[static_cast<std::size_t>(index)];
}

void TXMLNodeListOMB::Add(std::unique_ptr<TXMLNodeOMB> node) {
    if (node != nullptr) {
        items_.push_back(std::move(*node));
    }
}

// ---- TNativeXmlOMB ----

TNativeXmlOMB::TNativeXmlOMB(std::string rootName, const void* owner)
    : rootName_(std::move(rootName)), owner_(owner) {
    CompactDocument fresh;
    fresh.SetEncoding("windows-1252");
    Adopt(std::move(fresh));
    // A name that cannot be an element name leaves Root on the document node.
    if (auto root = docNode_.GetOrAddChild(rootName_)) {
        root_ = *root;
    }
}

TNativeXmlOMB::~TNativeXmlOMB() = default;

void TNativeXmlOMB::LoadFromFile(const std::string& path) {
    Adopt(LoadXmlFile(path));
}

void TNativeXmlOMB::LoadFromMemory(std::string_view bytes, const std::string& name) {
    Adopt(LoadXmlBytes(bytes, name));
}

void TNativeXmlOMB::Adopt(CompactDocument document) {
    // Replacing the only owner ends every handle on the previous tree.
    tree_ = std::make_shared<XmlTree>(XmlTree{this, std::move(document)});
    docNode_ = TXMLNodeOMB(TXMLNodeOMB::Key{}, tree_, kDocumentNode);
    root_ = docNode_;
    if (auto top = docNode_.FindChild(rootName_)) {
        root_ = *top;
    }
}

std::string TNativeXmlOMB::Encoding() const {
    return tree_ == nullptr ? std::string() : tree_->document.Encoding();
}

}  // namespace quorvane
