#include "xml/XmlParse.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <libxml/encoding.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include "config/TextConversion.h"

namespace quorvane {
namespace {

// libxml2's messages, collected instead of printed.
struct ErrorSink {
    std::string first;
    bool failed = false;

    void Take(const xmlError* error) noexcept {
        if (error == nullptr || error->level < XML_ERR_ERROR) {
            return;
        }
        try {
            if (!failed && error->message != nullptr) {
                first = error->message;
                // Some messages carry the offending bytes on a second line.
                for (char& c : first) {
                    if (c == '\n') {
                        c = ' ';
                    }
                }
                while (!first.empty() && (first.back() == '\n' || first.back() == ' ')) {
                    first.pop_back();
                }
                if (error->line > 0) {
                    first += " (ligne " + std::to_string(error->line) + ")";
                }
            }
        } catch (...) {
            // Out of memory while keeping the text: the failure itself is still recorded.
        }
        failed = true;
    }
};

// Errors raised on the parser context: libxml2 hands over the context itself.
void OnContextError(void* userData, xmlErrorPtr error) noexcept {
    auto* ctxt = static_cast<xmlParserCtxt*>(userData);
    if (ctxt != nullptr && ctxt->_private != nullptr) {
        static_cast<ErrorSink*>(ctxt->_private)->Take(error);
    }
}

// Errors raised without a context (encoding conversion, memory): thread-wide handler.
void OnThreadError(void* userData, xmlErrorPtr error) noexcept {
    static_cast<ErrorSink*>(userData)->Take(error);
}

void IgnoreGenericError(void* /*ctx*/, const char* /*msg*/, ...) noexcept {}

// Routes libxml2's thread-wide error output to the sink for one parse, then restores it.
class ThreadErrorRedirect {
  public:
    explicit ThreadErrorRedirect(ErrorSink& sink)
        : structured_(xmlStructuredError),
          structuredContext_(xmlStructuredErrorContext),
          generic_(xmlGenericError),
          genericContext_(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(&sink, OnThreadError);
        xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
    }
    ~ThreadErrorRedirect() {
        xmlSetStructuredErrorFunc(structuredContext_, structured_);
        xmlSetGenericErrorFunc(genericContext_, generic_);
    }
    ThreadErrorRedirect(const ThreadErrorRedirect&) = delete;
    ThreadErrorRedirect& operator=(const ThreadErrorRedirect&) = delete;

  private:
    xmlStructuredErrorFunc structured_;
    void* structuredContext_;
    xmlGenericErrorFunc generic_;
    void* genericContext_;
};

struct ContextFree {
    void operator()(xmlParserCtxt* ctxt) const noexcept { xmlFreeParserCtxt(ctxt); }
};

// Windows-1252 to UTF-8 for libxml2, by the program's own table: iconv refuses the five bytes
// the code page leaves undefined (a whole file would be lost for one stray byte) and depends on
// gconv modules being installed.
struct Utf8Char {
    unsigned char length = 0;
    unsigned char bytes[3] = {};
};
// Filled once from Cp1252ToUtf8, so the mapping stays the program's single one.
Utf8Char cp1252Table[256];

int Cp1252Input(unsigned char* out, int* outlen, const unsigned char* in, int* inlen) noexcept {
    const int room = *outlen;
    const int available = *inlen;
    int used = 0;
    int written = 0;
    while (used < available) {
        const unsigned char byte = in[used];
        if (byte < 0x80) {
            if (written == room) {
                break;
            }
            out[written++] = byte;
        } else {
            const Utf8Char& c = cp1252Table[byte];
            if (room - written < c.length) {
                break;
            }
            for (unsigned char k = 0; k < c.length; ++k) {
                out[written++] = c.bytes[k];
            }
        }
        ++used;
    }
    *outlen = written;
    *inlen = used;
    return written;
}

void RegisterCp1252() {
    for (int b = 0; b < 256; ++b) {
        const std::string utf8 = Cp1252ToUtf8(std::string(1, static_cast<char>(b)));
        Utf8Char& c = cp1252Table[b];
        c.length = static_cast<unsigned char>(std::min<std::size_t>(utf8.size(), 3));
        std::memcpy(c.bytes, utf8.data(), c.length);
    }
    // libxml2 keeps the handlers for the process and looks names up in upper case.
    xmlNewCharEncodingHandler("WINDOWS-1252", Cp1252Input, nullptr);
    xmlNewCharEncodingHandler("CP1252", Cp1252Input, nullptr);
}

[[noreturn]] void Fail(const std::string& name, const std::string& reason) {
    throw XmlLoadError("Erreur de chargement du fichier " + name + " : " + reason);
}

bool IsExternal(const xmlEntity& entity) {
    return entity.etype == XML_EXTERNAL_GENERAL_PARSED_ENTITY ||
           entity.etype == XML_EXTERNAL_GENERAL_UNPARSED_ENTITY ||
           entity.etype == XML_EXTERNAL_PARAMETER_ENTITY;
}

// The parser never fetches these (no DTD loading, no entity substitution, no network), but a
// head-office file that points outside itself is not one we trust to mean what it says.
void RefuseExternalReferences(const xmlDoc& doc, const std::string& name) {
    if (doc.extSubset != nullptr) {
        Fail(name, "sous-ensemble DTD externe refusé");
    }
    const xmlDtd* dtd = doc.intSubset;
    if (dtd == nullptr) {
        return;
    }
    if (dtd->ExternalID != nullptr || dtd->SystemID != nullptr) {
        Fail(name, "DTD externe refusée");
    }
    for (const xmlNode* decl = dtd->children; decl != nullptr; decl = decl->next) {
        if (decl->type == XML_ENTITY_DECL &&
            IsExternal(*reinterpret_cast<const xmlEntity*>(decl))) {
            Fail(name, "entité externe refusée");
        }
    }
}

}  // namespace

std::string ReadXmlFileBytes(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        Fail(path, "fichier introuvable");
    }
    if (!std::filesystem::is_regular_file(status)) {
        Fail(path, "ce n'est pas un fichier");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail(path, "fichier illisible");
    }
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        Fail(path, "fichier illisible");
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad() || static_cast<std::uintmax_t>(in.gcount()) != size) {
        Fail(path, "erreur de lecture");
    }
    return bytes;
}

XmlDocPtr ParseXmlBytes(std::string_view bytes, const std::string& name) {
    static std::once_flag initialized;
    std::call_once(initialized, [] {
        xmlInitParser();
        RegisterCp1252();
    });

    if (bytes.empty()) {
        Fail(name, "le fichier est vide");
    }
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        Fail(name, "fichier trop volumineux");
    }

    ErrorSink sink;
    const ThreadErrorRedirect redirect(sink);
    std::unique_ptr<xmlParserCtxt, ContextFree> ctxt(xmlNewParserCtxt());
    if (ctxt == nullptr) {
        Fail(name, "mémoire insuffisante");
    }
    ctxt->_private = &sink;
    ctxt->sax->serror = OnContextError;

    // Deliberately absent: XML_PARSE_NOENT, XML_PARSE_DTDLOAD, XML_PARSE_HUGE. COMPACT keeps
    // short texts inside their nodes, which makes large files markedly faster to load.
    constexpr int options =
        XML_PARSE_NONET | XML_PARSE_COMPACT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    XmlDocPtr doc(xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()),
                                    nullptr, nullptr, options));
    if (doc == nullptr || sink.failed || ctxt->wellFormed == 0) {
        Fail(name, sink.first.empty() ? std::string("document XML mal formé") : sink.first);
    }
    RefuseExternalReferences(*doc, name);
    return doc;
}

}  // namespace quorvane
