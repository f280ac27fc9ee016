#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include <libxml/tree.h>

// Turning file bytes into a libxml2 tree under the rules every head-office file is read with:
// no network, no DTD or external entity ever loaded, libxml2's own size and amplification limits,
// nothing written on stderr.
namespace quorvane {

// Raised for every failure to load a document: unreadable, empty or malformed file, bad
// encoding, external DTD or entity, entity amplification.
class XmlLoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct XmlDocFree {
    void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;

// The whole file, or XmlLoadError when it is missing, not a regular file or unreadable.
std::string ReadXmlFileBytes(const std::string& path);

// Parses a document in the encoding its declaration names (UTF-8 without one). name only
// appears in error messages. Never returns null.
XmlDocPtr ParseXmlBytes(std::string_view bytes, const std::string& name);

}  // namespace quorvane
