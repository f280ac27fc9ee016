#include "xml/CompactDocument.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace quorvane {
namespace {

// Lengths and name ids as LEB128: one byte for nearly every name id and short value, where a
// fixed header would cost eight bytes an attribute, some 50 MB on a million-line file.
void PutNumber(std::string& out, std::uint64_t n) {
    while (n >= 0x80) {
        out.push_back(static_cast<char>((n & 0x7F) | 0x80));
        n >>= 7;
    }
    out.push_back(static_cast<char>(n));
}

std::uint64_t GetNumber(const unsigned char*& at) noexcept {
    std::uint64_t n = 0;
    unsigned shift = 0;
    while ((*at & 0x80) != 0) {
        n |= std::uint64_t{*at & 0x7Fu} << shift;
        shift += 7;
        ++at;
    }
    n |= std::uint64_t{*at} << shift;
    ++at;
    return n;
}

}  // namespace

void AttributeBlock::Add(std::uint32_t name, std::string_view value) {
    PutNumber(bytes_, name);
    PutNumber(bytes_, value.size());
    bytes_.append(value);
    ++count_;
}

bool CompactDocument::AttributeReader::Next() noexcept {
    if (left_ == 0) {
        return false;
    }
    --left_;
    name_ = static_cast<NameId>(GetNumber(at_));
    const auto length = static_cast<std::size_t>(GetNumber(at_));
    value_ = std::string_view(reinterpret_cast<const char*>(at_), length);
    at_ += length;
    return true;
}

CompactDocument::CompactDocument() {
    NewElement(kNoName, AttributeBlock());
}

CompactDocument::NameId CompactDocument::Intern(std::string_view name) {
    if (const auto found = nameIds_.find(name); found != nameIds_.end()) {
        return found->second;
    }
    const auto id = static_cast<NameId>(nameStore_.size());
    const std::string& stored = nameStore_.emplace_back(name);
    try {
        nameIds_.emplace(stored, id);
    } catch (...) {
        nameStore_.pop_back();
        throw;
    }
    return id;
}

CompactDocument::NameId CompactDocument::FindName(std::string_view name) const {
    const auto found = nameIds_.find(name);
    return found == nameIds_.end() ? kNoName : found->second;
}

const unsigned char* CompactDocument::Store(std::string_view bytes) {
    if (bytes.empty()) {
        return nullptr;
    }
    if (bytes.size() > kArenaChunk / 4) {
        // A large block gets a chunk of its own; the current chunk stays open for the next.
        auto own = std::make_unique_for_overwrite<unsigned char[]>(bytes.size());
        std::memcpy(own.get(), bytes.data(), bytes.size());
        arena_.push_back(std::move(own));
        return arena_.back().get();
    }
    if (bytes.size() > freeLeft_) {
        arena_.push_back(std::make_unique_for_overwrite<unsigned char[]>(kArenaChunk));
        free_ = arena_.back().get();
        freeLeft_ = kArenaChunk;
    }
    unsigned char* at = free_;
    std::memcpy(at, bytes.data(), bytes.size());
    free_ += bytes.size();
    freeLeft_ -= bytes.size();
    return at;
}

CompactDocument::NodeId CompactDocument::NewElement(NameId name, const AttributeBlock& attributes) {
    if (count_ >= kMaxNodes) {
        throw std::length_error("too many elements for one document");
    }
    if ((count_ >> kElementShift) >= elements_.size()) {
        elements_.push_back(std::make_unique_for_overwrite<Element[]>(kElementsPerChunk));
    }
    const unsigned char* stored = Store(attributes.Bytes());
    const auto id = static_cast<NodeId>(count_);
    At(id) = Element{stored, name, attributes.Count(), kNoNode, kNoNode};
    ++count_;
    return id;
}

CompactDocument::NodeId CompactDocument::AppendAfter(NodeId parent, NodeId lastChild, NameId name,
                                                     const AttributeBlock& attributes) {
    const NodeId id = NewElement(name, attributes);
    if (lastChild == kNoNode) {
        At(parent).firstChild = id;
    } else {
        At(lastChild).nextSibling = id;
    }
    return id;
}

CompactDocument::NodeId CompactDocument::Append(NodeId parent, NameId name) {
    NodeId last = kNoNode;
    for (NodeId child = FirstChild(parent); child != kNoNode; child = NextSibling(child)) {
        last = child;
    }
    return AppendAfter(parent, last, name, AttributeBlock());
}

}  // namespace quorvane
