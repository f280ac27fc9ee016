#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What the wrapper keeps of a head-office file: elements with their names, their attributes
// (names and values, in document order) and their element children. Nothing else of the file
// is kept: no text, comments or namespaces.
//
// A million-line file must stay near its own size in memory, so names are interned once,
// attribute names and values sit in an arena as UTF-8 (a short length-prefixed record per
// attribute), and elements are small fixed records linked by index. Elements are only ever
// appended; nothing is removed or rewritten.
namespace quorvane {

// The attributes of one element, built in a reusable buffer before the element is added.
class AttributeBlock {
  public:
    void Clear() noexcept {
        bytes_.clear();
        count_ = 0;
    }
    void Add(std::uint32_t name, std::string_view value);
    std::uint32_t Count() const noexcept { return count_; }
    std::string_view Bytes() const noexcept { return bytes_; }

  private:
    std::string bytes_;
    std::uint32_t count_ = 0;
};

class CompactDocument {
  public:
    using NodeId = std::uint32_t;
    using NameId = std::uint32_t;
    static constexpr NodeId kNoNode = 0xFFFFFFFFu;
    static constexpr NameId kNoName = 0xFFFFFFFFu;
    // The document node: parent of the top-level elements, without name or attributes.
    static constexpr NodeId kDocumentNode = 0;
    // Ids run from 0 up; the largest leaves kNoNode free.
    static constexpr std::uint64_t kMaxNodes = 0xFFFFFFF0u;

    CompactDocument();
    CompactDocument(CompactDocument&&) noexcept = default;
    CompactDocument& operator=(CompactDocument&&) noexcept = default;
    CompactDocument(const CompactDocument&) = delete;
    CompactDocument& operator=(const CompactDocument&) = delete;

    // ---- names ----
    NameId Intern(std::string_view name);
    // The id of a name some node bears, or kNoName: a name nobody bears needs no walk at all.
    NameId FindName(std::string_view name) const;
    std::string_view NameText(NameId name) const { return nameStore_[name]; }

    // ---- elements ----
    std::size_t NodeCount() const noexcept { return count_; }
    NameId NameOf(NodeId node) const { return At(node).name; }
    NodeId FirstChild(NodeId node) const { return At(node).firstChild; }
    NodeId NextSibling(NodeId node) const { return At(node).nextSibling; }
    std::uint32_t AttributeCount(NodeId node) const { return At(node).attributeCount; }

    // Adds an element as the child that follows lastChild (kNoNode: the first child) of parent.
    // lastChild must be the parent's current last child; the loader keeps it at hand.
    NodeId AppendAfter(NodeId parent, NodeId lastChild, NameId name,
                       const AttributeBlock& attributes);
    // Adds an element without attributes as the last child of parent, walking to find it.
    NodeId Append(NodeId parent, NameId name);

    // Walks one element's attributes in document order.
    class AttributeReader {
      public:
        // Moves to the next attribute; false after the last one.
        bool Next() noexcept;
        NameId Name() const noexcept { return name_; }
        std::string_view Value() const noexcept { return value_; }

      private:
        friend class CompactDocument;
        AttributeReader(const unsigned char* at, std::uint32_t count) : at_(at), left_(count) {}
        const unsigned char* at_;
        std::uint32_t left_;
        NameId name_ = kNoName;
        std::string_view value_;
    };
    AttributeReader Attributes(NodeId node) const {
        const Element& e = At(node);
        return AttributeReader(e.attributes, e.attributeCount);
    }

    // Encoding named by the file's XML declaration (empty without one).
    const std::string& Encoding() const noexcept { return encoding_; }
    void SetEncoding(std::string encoding) { encoding_ = std::move(encoding); }

  private:
    struct Element {
        const unsigned char* attributes;  // into the arena; null without attributes
        NameId name;
        std::uint32_t attributeCount;
        NodeId firstChild;
        NodeId nextSibling;
    };
    static constexpr unsigned kElementShift = 16;
    static constexpr std::size_t kElementsPerChunk = std::size_t{1} << kElementShift;
    static constexpr std::size_t kArenaChunk = std::size_t{1} << 20;

    const Element& At(NodeId node) const {
        return elements_[node >> kElementShift][node & (kElementsPerChunk - 1)];
    }
    Element& At(NodeId node) {
        return elements_[node >> kElementShift][node & (kElementsPerChunk - 1)];
    }
    NodeId NewElement(NameId name, const AttributeBlock& attributes);
    const unsigned char* Store(std::string_view bytes);

    // Fixed-size chunks, so that growing never copies what is already there (a doubling
    // vector would hold the old and the new copy at its peak).
    std::vector<std::unique_ptr<Element[]>> elements_;
    std::size_t count_ = 0;
    std::vector<std::unique_ptr<unsigned char[]>> arena_;
    unsigned char* free_ = nullptr;
    std::size_t freeLeft_ = 0;
    // Interned names: the deque keeps every string where it is, so the views stay valid.
    std::deque<std::string> nameStore_;
    std::unordered_map<std::string_view, NameId> nameIds_;
    std::string encoding_;
};

}  // namespace quorvane
