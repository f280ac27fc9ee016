#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "xml/XmlParse.h"

// A narrow, name-based view of one head-office XML file, held as a CompactDocument.
//
// Handles never own nodes. Each one carries a weak reference to the tree of its document:
// freeing or replacing the tree ends it, and a handle of an ended tree throws std::logic_error
// on every use instead of reading freed memory.
namespace quorvane {

class TNativeXmlOMB;
class TXMLNodeListOMB;

// One loaded (or fresh) tree and the document object it belongs to.
struct XmlTree;

// An attribute name looked up once in a tree, for reading it on many nodes of that tree (the
// lines of a file) without looking the name up each time. Used on a node of another tree, it is
// looked up again there: it can only be slower, never wrong.
class TXMLAttributeName {
  public:
    explicit TXMLAttributeName(std::string name) : name_(std::move(name)) {}
    const std::string& Name() const noexcept { return name_; }

  private:
    friend class TXMLNodeOMB;
    std::string name_;
    // The tree of the last look-up. Held weakly: while it is held, no other tree can take the
    // same identity, so a match is the same tree.
    std::weak_ptr<XmlTree> tree_;
    std::uint32_t id_ = 0;
};

class TXMLNodeOMB {
    // Only the document and other handles can name the key, so only they make live handles.
    struct Key {
        explicit Key() = default;
    };

  public:
    TXMLNodeOMB(Key, const std::shared_ptr<XmlTree>& tree, std::uint32_t node)
        : tree_(tree.get()), alive_(tree), node_(node) {}
    // A handle that stands for nothing; every look-up on it throws std::logic_error.
    TXMLNodeOMB() = default;

    // The document this handle belongs to, or null once its tree is gone.
    TNativeXmlOMB* Xml() const noexcept;
    // False once the document was destroyed or reloaded (or for a default-built handle).
    bool IsValid() const noexcept { return tree_ != nullptr && !alive_.expired(); }

    // The node's own name, qualified by its prefix ("p:Ligne"); "#document" for the document.
    std::string NodeName() const;

    // First direct child element of that name (case included), or null.
    std::unique_ptr<TXMLNodeOMB> FindChild(std::string_view name) const;
    // Same result as FindChild, by a walk of the child list from its first node.
    std::unique_ptr<TXMLNodeOMB> ScanChild(std::string_view name) const;
    // Appends a new empty element as last child and returns a handle on it.
    // A handle is a reference: adding through a const handle changes the tree, not the handle.
    std::unique_ptr<TXMLNodeOMB> AddChild(std::string_view name) const;
    std::unique_ptr<TXMLNodeOMB> GetOrAddChild(std::string_view name) const;

    // Position (from 0) of the first attribute of that name in document order, or -1.
    int IndexOfAttribute(std::string_view name) const;
    // Value of the attribute at a position; the empty text outside 0 .. AttributeCount() - 1.
    std::string AttributeText(int index) const;
    int AttributeCount() const;
    // Value of the named attribute; def when absent (an empty value stays empty).
    std::string ReadAttribute(std::string_view name, const std::string& def) const;
    // The value of the first attribute of that name, found in one walk and not copied; the view
    // lasts as long as the document's tree. False when the node has no such attribute.
    bool FindAttribute(std::string_view name, std::string_view& value) const {
        return FindValue(Checked(), name, value);
    }
    // Same, for a name looked up once for many nodes.
    bool FindAttribute(TXMLAttributeName& name, std::string_view& value) const;
    // The named attribute as a whole number; def when absent or not a whole number.
    std::int32_t ReadAttributeInteger(std::string_view name, std::int32_t def) const;
    // Calls visit(name, value) for every attribute in document order. The views last only for
    // the call.
    void ForEachAttribute(
        const std::function<void(std::string_view name, std::string_view value)>& visit) const;

    // Appends to list a handle for every direct child element of that name, in document order.
    void ChildrenByName(std::string_view name, TXMLNodeListOMB& list) const;

  private:
    friend class TNativeXmlOMB;

    // The tree, after checking that it still exists.
    XmlTree& Checked() const;
    std::unique_ptr<TXMLNodeOMB> Wrap(std::uint32_t node) const;
    // The first child element bearing the name, or the tree's no-node value.
    std::uint32_t FirstChildNamed(const XmlTree& tree, std::string_view name) const;
    // The value of the first attribute bearing the name, if there is one.
    bool FindValue(const XmlTree& tree, std::string_view name, std::string_view& value) const;

    // Raw pointer for the look-ups, weak reference to know that it still points at something:
    // checking expiry is a plain load, where locking would be two atomic updates per call.
    XmlTree* tree_ = nullptr;
    std::weak_ptr<XmlTree> alive_;
    std::uint32_t node_ = 0;
};

// An owning list of node handles.
class TXMLNodeListOMB {
  public:
    TXMLNodeListOMB() = default;
    // A list may hold a handle for every line of a file: it moves, it is never copied.
    TXMLNodeListOMB(const TXMLNodeListOMB&) = delete;
    TXMLNodeListOMB& operator=(const TXMLNodeListOMB&) = delete;
    TXMLNodeListOMB(TXMLNodeListOMB&&) = default;
    TXMLNodeListOMB& operator=(TXMLNodeListOMB&&) = default;

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    // The handle at a position below Count(), or null.
    TXMLNodeOMB* Item(int index) const noexcept;
    // Appends the handle; a null handle is ignored.
    void Add(std::unique_ptr<TXMLNodeOMB> node);

  private:
    friend class TXMLNodeOMB;

    // Handles held by value: a million lines make a million handles, and one allocation each
    // would cost more than the handles themselves. A deque never moves what it holds, so a
    // pointer from Item stays valid while the list lives, whatever is added after it. The list
    // owns its handles, and a const list hands them out as the pointer-holding list it replaces
    // did.
    mutable std::deque<TXMLNodeOMB> items_;
};

class TNativeXmlOMB {
  public:
    // A fresh document: encoding "windows-1252" and one empty root element named rootName.
    // The owner is only recorded; the document is owned by this object alone.
    explicit TNativeXmlOMB(std::string rootName, const void* owner = nullptr);
    ~TNativeXmlOMB();
    TNativeXmlOMB(const TNativeXmlOMB&) = delete;
    TNativeXmlOMB& operator=(const TNativeXmlOMB&) = delete;

    // Replaces the whole document by the file's content. On failure raises XmlLoadError and
    // leaves the previous document, Root and DocNode as they were.
    void LoadFromFile(const std::string& path);
    // Same rules for a document held in memory; name only appears in error messages.
    void LoadFromMemory(std::string_view bytes, const std::string& name);

    // After a load: the top-level element named RootName, else the document node itself.
    // Read-only so that nobody re-points them but the document itself.
    const TXMLNodeOMB& Root() const noexcept { return root_; }
    const TXMLNodeOMB& DocNode() const noexcept { return docNode_; }

    const std::string& RootName() const noexcept { return rootName_; }
    const void* Owner() const noexcept { return owner_; }
    // Encoding named by the XML declaration ("windows-1252" for a fresh document).
    std::string Encoding() const;

  private:
    // Installs a document, ends the previous tree, re-points DocNode and Root.
    void Adopt(CompactDocument document);

    std::string rootName_;
    const void* owner_ = nullptr;
    std::shared_ptr<XmlTree> tree_;
    TXMLNodeOMB docNode_;
    TXMLNodeOMB root_;
};

}  // namespace quorvane
