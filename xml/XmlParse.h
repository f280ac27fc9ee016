#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "xml/CompactDocument.h"

// Reading a head-office file into a CompactDocument with libxml2's push parser (SAX), the file
// streamed in pieces: the parser never builds a tree of its own and the file is never held
// whole. The rules every file is read with:
// - no network, no DTD or external entity ever loaded, libxml2's own size limits;
// - a DOCTYPE may name the root element and nothing more: any declaration in it (an entity
//   above all, whose references would be expanded on reading) refuses the file, as does an
//   external DTD; the predefined entities and character references are decoded;
// - elements nested at most kMaxElementDepth deep;
// - at most kMaxAttributesPerElement attributes in one element, and at most
//   kMaxNamespaceDeclarations namespace declarations in scope at any element (its own and its
//   ancestors'): beyond them libxml2's checks grow with the square of the count;
// - encodings in which markup is plain ASCII bytes only (UTF-8, US-ASCII, ISO-8859-n,
//   Windows-125n);
// - nothing written on stderr.
namespace quorvane {

inline constexpr std::uint32_t kMaxAttributesPerElement = 1000;
// The depth libxml2 allows when it builds a tree (its push parser checks none).
inline constexpr std::uint32_t kMaxElementDepth = 257;
inline constexpr std::uint32_t kMaxNamespaceDeclarations = 100;

// Raised for every failure to load a document: unreadable, empty or malformed file, bad or
// refused encoding, DTD declarations, external DTD, too many attributes, too deep.
class XmlLoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The file at path; XmlLoadError when it is missing, not a regular file, unreadable or refused.
CompactDocument LoadXmlFile(const std::string& path);

// The same rules for a document held in memory; name only appears in error messages. The
// bytes are handed to the parser in pieces of pieceSize bytes (0: the size a file is read in);
// how a file is cut never changes the result.
CompactDocument LoadXmlBytes(std::string_view bytes, const std::string& name,
                             std::size_t pieceSize = 0);

// Makes libxml2 ready and registers the program's Windows-1252 decoder (done by every load;
// for code that uses libxml2 directly next to the loader).
void PrepareXmlParser();

}  // namespace quorvane
