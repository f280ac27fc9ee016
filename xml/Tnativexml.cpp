#include "xml/Tnativexml.h"

#include <new>

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include "config/TextConversion.h"

namespace quorvane {
namespace {

std::string_view View(const xmlChar* text) {
    return text == nullptr ? std::string_view()
                           : std::string_view(reinterpret_cast<const char*>(text));
}

const xmlChar* XmlText(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

// Names are compared as the document writes them: prefix, colon, local name, case included.
bool NameIs(const xmlNs* ns, const xmlChar* local, std::string_view name) {
    const std::string_view localName = View(local);
    if (ns == nullptr || ns->prefix == nullptr) {
        return localName == name;
    }
    const std::string_view prefix = View(ns->prefix);
    return name.size() == prefix.size() + 1 + localName.size() && name.starts_with(prefix) &&
           name[prefix.size()] == ':' && name.ends_with(localName);
}

std::string QualifiedName(const xmlNs* ns, const xmlChar* local) {
    std::string result;
    if (ns != nullptr && ns->prefix != nullptr) {
        result.append(View(ns->prefix)).push_back(':');
    }
    result.append(View(local));
    return result;
}

bool IsElementNamed(const xmlNode* node, std::string_view name) {
    return node->type == XML_ELEMENT_NODE && NameIs(node->ns, node->name, name);
}

// Only elements carry attributes; other node kinds (the document above all) have no
// properties field at all.
xmlAttr* FirstAttribute(const xmlNode* node) {
    return node->type == XML_ELEMENT_NODE ? node->properties : nullptr;
}

struct XmlCharFree {
    void operator()(xmlChar* text) const noexcept { xmlFree(text); }
};

// Calls use(value) with the attribute's decoded value. A plain value is a single text node read
// in place; values with entity references go through libxml2's expansion.
template <typename Use>
void WithValue(const xmlAttr* attr, Use&& use) {
    const xmlNode* child = attr->children;
    if (child == nullptr) {
        use(std::string_view());
        return;
    }
    if (child->next == nullptr && child->type == XML_TEXT_NODE) {
        use(View(child->content));
        return;
    }
    std::unique_ptr<xmlChar, XmlCharFree> text(xmlNodeListGetString(attr->doc, child, 1));
    use(View(text.get()));
}

std::string ValueOf(const xmlAttr* attr) {
    std::string value;
    WithValue(attr, [&](std::string_view text) { value.assign(text); });
    return value;
}

const xmlAttr* FindAttribute(const xmlNode* node, std::string_view name) {
    for (const xmlAttr* attr = FirstAttribute(node); attr != nullptr; attr = attr->next) {
        if (NameIs(attr->ns, attr->name, name)) {
            return attr;
        }
    }
    return nullptr;
}

xmlNode* FirstChildElement(const xmlNode* parent, std::string_view name) {
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (IsElementNamed(child, name)) {
            return child;
        }
    }
    return nullptr;
}

}  // namespace

// ---- TXMLNodeOMB ----

TNativeXmlOMB* TXMLNodeOMB::Xml() const noexcept {
    return IsValid() ? xml_ : nullptr;
}

bool TXMLNodeOMB::IsValid() const noexcept {
    return node_ != nullptr && !generation_.expired();
}

xmlNode* TXMLNodeOMB::Checked() const {
    if (!IsValid()) {
        throw std::logic_error("Nœud XML utilisé alors que son document a été détruit ou rechargé");
    }
    return node_;
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::Wrap(xmlNode* node) const {
    if (node == nullptr) {
        return nullptr;
    }
    return std::make_unique<TXMLNodeOMB>(Key{}, xml_, node, generation_);
}

std::string TXMLNodeOMB::NodeName() const {
    const xmlNode* node = Checked();
    if (node->type == XML_DOCUMENT_NODE) {
        return "#document";
    }
    return QualifiedName(node->ns, node->name);
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::FindChild(std::string_view name) const {
    return Wrap(FirstChildElement(Checked(), name));
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::ScanChild(std::string_view name) const {
    return Wrap(FirstChildElement(Checked(), name));
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::AddChild(std::string_view name) const {
    xmlNode* parent = Checked();
    const std::string ownName(name);
    if (xmlValidateName(XmlText(ownName), 0) != 0) {
        return nullptr;
    }
    if (parent->type == XML_DOCUMENT_NODE && xmlDocGetRootElement(parent->doc) != nullptr) {
        // A document has exactly one top-level element; a second would not be XML.
        return nullptr;
    }
    if (parent->type != XML_ELEMENT_NODE && parent->type != XML_DOCUMENT_NODE) {
        return nullptr;
    }
    xmlNode* child = xmlNewDocNode(parent->doc, nullptr, XmlText(ownName), nullptr);
    if (child == nullptr) {
        throw std::bad_alloc();
    }
    return Wrap(xmlAddChild(parent, child));
}

std::unique_ptr<TXMLNodeOMB> TXMLNodeOMB::GetOrAddChild(std::string_view name) const {
    auto found = ScanChild(name);
    return found != nullptr ? std::move(found) : AddChild(name);
}

xmlAttr* TXMLNodeOMB::AttributeAt(int index) const {
    xmlAttr* attr = FirstAttribute(Checked());
    for (int i = 0; attr != nullptr && i < index; ++i) {
        attr = attr->next;
    }
    return index < 0 ? nullptr : attr;
}

int TXMLNodeOMB::IndexOfAttribute(std::string_view name) const {
    int index = 0;
    for (const xmlAttr* attr = FirstAttribute(Checked()); attr != nullptr; attr = attr->next) {
        if (NameIs(attr->ns, attr->name, name)) {
            return index;
        }
        ++index;
    }
    return -1;
}

int TXMLNodeOMB::AttributeCount() const {
    int count = 0;
    for (const xmlAttr* attr = FirstAttribute(Checked()); attr != nullptr; attr = attr->next) {
        ++count;
    }
    return count;
}

std::string TXMLNodeOMB::AttributeText(int index) const {
    const xmlAttr* attr = AttributeAt(index);
    return attr == nullptr ? std::string() : ValueOf(attr);
}

std::string TXMLNodeOMB::ReadAttribute(std::string_view name, const std::string& def) const {
    const xmlAttr* attr = FindAttribute(Checked(), name);
    return attr == nullptr ? def : ValueOf(attr);
}

std::int32_t TXMLNodeOMB::ReadAttributeInteger(std::string_view name, std::int32_t def) const {
    const xmlAttr* attr = FindAttribute(Checked(), name);
    if (attr == nullptr) {
        return def;
    }
    std::int32_t result = def;
    WithValue(attr, [&](std::string_view text) { result = TryStrToInt(text).value_or(def); });
    return result;
}

void TXMLNodeOMB::ForEachAttribute(
    const std::function<void(std::string_view name, std::string_view value)>& visit) const {
    std::string prefixed;
    for (const xmlAttr* attr = FirstAttribute(Checked()); attr != nullptr; attr = attr->next) {
        std::string_view attrName = View(attr->name);
        if (attr->ns != nullptr && attr->ns->prefix != nullptr) {
            prefixed = QualifiedName(attr->ns, attr->name);
            attrName = prefixed;
        }
        WithValue(attr, [&](std::string_view value) { visit(attrName, value); });
    }
}

void TXMLNodeOMB::ChildrenByName(std::string_view name, TXMLNodeListOMB& list) const {
    for (xmlNode* child = Checked()->children; child != nullptr; child = child->next) {
        if (IsElementNamed(child, name)) {
            list.Add(Wrap(child));
        }
    }
}

// ---- TXMLNodeListOMB ----

TXMLNodeOMB* TXMLNodeListOMB::Item(int index) const noexcept {
    if (index < 0 || index >= Count()) {
        return nullptr;
    }
    return items_[static_cast<std::size_t>(index)].get();
}

void TXMLNodeListOMB::Add(std::unique_ptr<TXMLNodeOMB> node) {
    if (node != nullptr) {
        items_.push_back(std::move(node));
    }
}

// ---- TNativeXmlOMB ----

TNativeXmlOMB::TNativeXmlOMB(std::string rootName, const void* owner)
    : rootName_(std::move(rootName)), owner_(owner) {
    XmlDocPtr doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    if (doc == nullptr) {
        throw std::bad_alloc();
    }
    doc->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>("windows-1252"));
    Adopt(std::move(doc));
    // A name that cannot be an element name leaves Root on the document node.
    if (auto root = docNode_.GetOrAddChild(rootName_)) {
        root_ = *root;
    }
}

TNativeXmlOMB::~TNativeXmlOMB() {
    // End the generation first: no handle may see the tree while it is being freed.
    generation_.reset();
    document_.reset();
}

void TNativeXmlOMB::LoadFromFile(const std::string& path) {
    Adopt(ParseXmlBytes(ReadXmlFileBytes(path), path));
}

void TNativeXmlOMB::LoadFromMemory(std::string_view bytes, const std::string& name) {
    Adopt(ParseXmlBytes(bytes, name));
}

void TNativeXmlOMB::Adopt(XmlDocPtr doc) {
    // Every handle on the previous tree is ended before that tree is freed.
    generation_ = std::make_shared<XmlTreeGeneration>();
    document_ = std::move(doc);
    auto* docAsNode = reinterpret_cast<xmlNode*>(document_.get());
    docNode_ = TXMLNodeOMB(TXMLNodeOMB::Key{}, this, docAsNode, generation_);
    xmlNode* top = FirstChildElement(docAsNode, rootName_);
    root_ = top != nullptr ? TXMLNodeOMB(TXMLNodeOMB::Key{}, this, top, generation_) : docNode_;
}

std::string TNativeXmlOMB::Encoding() const {
    return document_ == nullptr ? std::string() : std::string(View(document_->encoding));
}

}  // namespace quorvane
