#include "xml/XmlParse.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

// parser.h first: dict.h does not include what it needs.
#include <libxml/parser.h>

#include <libxml/dict.h>
#include <libxml/encoding.h>
#include <libxml/entities.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <libxml/xmlerror.h>

#include "base/SharedFolder.h"
#include "xml/MarkupGuard.h"
#include "xml/XmlEncoding.h"
#include "xml/XmlErrorSink.h"

namespace quorvane {
namespace {

// Pieces the file is read and handed to the parser in: large enough that the per-call cost
// vanishes, small enough that memory stays flat.
constexpr std::size_t kPieceSize = 256 * 1024;

std::string_view View(const xmlChar* text) {
    return text == nullptr ? std::string_view()
                           : std::string_view(reinterpret_cast<const char*>(text));
}

[[noreturn]] void Fail(const std::string& name, const std::string& reason) {
    throw XmlLoadError("Erreur de chargement du fichier " + name + " : " + reason);
}

// ---- the load ----

struct ContextFree {
    void operator()(xmlParserCtxt* ctxt) const noexcept {
        // In SAX mode libxml2 still records entity declarations in a document of its own
        // ("SAX compatibility mode"), which the context does not free.
        if (ctxt->myDoc != nullptr) {
            xmlFreeDoc(ctxt->myDoc);
            ctxt->myDoc = nullptr;
        }
        xmlFreeParserCtxt(ctxt);
    }
};

struct NamePair {
    const xmlChar* prefix;
    const xmlChar* local;
    bool operator==(const NamePair&) const = default;
};
struct NamePairHash {
    std::size_t operator()(const NamePair& p) const noexcept {
        const std::hash<const void*> h;
        return h(p.prefix) * 31 + h(p.local);
    }
};

// One load: the SAX callbacks fill the document; a refusal stops the parser at once.
class Loader {
  public:
    explicit Loader(std::string name) : name_(std::move(name)), guard_(kMaxAttributesPerElement) {
        open_.reserve(64);
        open_.push_back({CompactDocument::kDocumentNode, CompactDocument::kNoNode, 0});
    }

    // The next piece of the file.
    void Feed(std::string_view piece) {
        if (stopped_) {
            return;
        }
        if (!guard_.Scan(piece)) {
            Refuse("plus de " + std::to_string(kMaxAttributesPerElement) +
                   " attributs dans un élément");
            return;
        }
        if (ctxt_ == nullptr) {
            // The encoding is checked on the file's first bytes, however the file is cut.
            head_.append(piece);
            if (head_.size() >= kHeadSize) {
                Start();
            }
            return;
        }
        PushAll(piece);
    }

    CompactDocument Finish() {
        if (ctxt_ == nullptr && !stopped_) {
            if (head_.empty()) {
                Fail(name_, "le fichier est vide");
            }
            Start();
        }
        if (!stopped_) {
            Push(nullptr, 0, true);
        }
        if (!refusal_.empty()) {
            Fail(name_, refusal_);
        }
        if (sink_.failed || ctxt_->wellFormed == 0 || ctxt_->instate != XML_PARSER_EOF) {
            Fail(name_, sink_.first.empty() ? std::string("document XML mal formé") : sink_.first);
        }
        if (document_.FirstChild(CompactDocument::kDocumentNode) == CompactDocument::kNoNode) {
            Fail(name_, "aucun élément");
        }
        if (ctxt_->encoding != nullptr) {
            document_.SetEncoding(std::string(View(ctxt_->encoding)));
        } else if (ctxt_->input != nullptr && ctxt_->input->encoding != nullptr) {
            document_.SetEncoding(std::string(View(ctxt_->input->encoding)));
        }
        return std::move(document_);
    }

    ErrorSink& Sink() noexcept { return sink_; }

  private:
    // Deliberately absent: XML_PARSE_NOENT, XML_PARSE_DTDLOAD, XML_PARSE_DTDATTR,
    // XML_PARSE_HUGE.
    static constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

    // Enough of the start of the file for its XML declaration (a longer one is refused).
    static constexpr std::size_t kHeadSize = 4096;

    static Loader& Of(void* ctx) noexcept { return *static_cast<Loader*>(ctx); }

    void Start() {
        // Only the first kHeadSize bytes count, so that the verdict never depends on the
        // size of the pieces.
        const std::string refused = RefusedEncoding(std::string_view(head_).substr(0, kHeadSize));
        if (!refused.empty()) {
            Fail(name_, refused);
        }
        // libxml2 detects the encoding from the first four bytes it is given.
        const std::size_t first = std::min<std::size_t>(head_.size(), 4);
        ctxt_.reset(xmlCreatePushParserCtxt(&Handler(), this, head_.data(), static_cast<int>(first),
                                            nullptr));
        if (ctxt_ == nullptr) {
            Fail(name_, "mémoire insuffisante");
        }
        xmlCtxtUseOptions(ctxt_.get(), kOptions);
        PushAll(std::string_view(head_).substr(first));
        std::string().swap(head_);
    }

    void PushAll(std::string_view bytes) {
        for (std::size_t offset = 0; offset < bytes.size() && !stopped_; offset += kPieceSize) {
            Push(bytes.data() + offset, std::min(bytes.size() - offset, kPieceSize), false);
        }
    }

    void Push(const char* bytes, std::size_t size, bool last) {
        xmlParseChunk(ctxt_.get(), bytes, static_cast<int>(size), last ? 1 : 0);
        if (sink_.failed || ctxt_->instate == XML_PARSER_EOF) {
            stopped_ = true;
        }
        // The guard read the bytes as ASCII markup: the parser must not have switched to an
        // encoding where they mean something else (the declaration was checked already; this
        // holds whatever path the parser took).
        const xmlParserInputBuffer* buffer = ctxt_->input != nullptr ? ctxt_->input->buf : nullptr;
        if (buffer != nullptr && buffer->encoder != nullptr &&
            (buffer->encoder->name == nullptr || !IsAdmittedEncoding(buffer->encoder->name))) {
            Refuse("encodage non pris en charge");
        }
    }

    void Refuse(std::string reason) noexcept {
        if (refusal_.empty()) {
            try {
                refusal_ = std::move(reason);
            } catch (...) {
                refusal_ = "refusé";
            }
        }
        stopped_ = true;
        if (ctxt_ != nullptr) {
            xmlStopParser(ctxt_.get());
        }
    }

    CompactDocument::NameId NameOf(const xmlChar* prefix, const xmlChar* local) {
        const NamePair key{prefix, local};
        if (const auto found = nameCache_.find(key); found != nameCache_.end()) {
            return found->second;
        }
        std::string qualified;
        if (prefix != nullptr) {
            qualified.append(View(prefix)).push_back(':');
        }
        qualified.append(View(local));
        const CompactDocument::NameId id = document_.Intern(qualified);
        // Names from the parser's dictionary stay where they are for the whole parse, so
        // their addresses can stand for them.
        xmlDict* dict = ctxt_->dict;
        if (dict != nullptr && xmlDictOwns(dict, local) == 1 &&
            (prefix == nullptr || xmlDictOwns(dict, prefix) == 1)) {
            nameCache_.emplace(key, id);
        }
        return id;
    }

    // With entity substitution off, libxml2 hands an ampersand in a value over as "&#38;",
    // for a tree builder to decode. No other reference can remain, since no entity can be
    // declared; one that did would be refused rather than read as text.
    static bool Decode(std::string_view raw, std::string& out) {
        out.clear();
        std::size_t at = 0;
        while (true) {
            const std::size_t amp = raw.find('&', at);
            out.append(raw.substr(at, amp - at));
            if (amp == std::string_view::npos) {
                return true;
            }
            if (raw.substr(amp, 5) != "&#38;") {
                return false;
            }
            out.push_back('&');
            at = amp + 5;
        }
    }

    void StartElement(const xmlChar* localname, const xmlChar* prefix, int nbNamespaces,
                      int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
        // open_ holds the document node and every element above this one.
        if (open_.size() > kMaxElementDepth) {
            Refuse("plus de " + std::to_string(kMaxElementDepth) + " niveaux d'éléments");
            return;
        }
        // Declarations leave scope with their element: a generator may declare a prefix on
        // every line of a file of any length.
        const std::uint64_t inScope =
            open_.back().namespacesInScope + static_cast<std::uint64_t>(std::max(nbNamespaces, 0));
        if (inScope > kMaxNamespaceDeclarations) {
            Refuse("plus de " + std::to_string(kMaxNamespaceDeclarations) +
                   " déclarations d'espaces de noms");
            return;
        }
        block_.Clear();
        // Defaulted attributes come last; the file's own are the only ones read (none can be
        // declared anyway).
        const int own = nbAttributes - nbDefaulted;
        for (int i = 0; i < own; ++i) {
            const xmlChar** a = attributes + 5 * i;
            const auto* begin = reinterpret_cast<const char*>(a[3]);
            std::string_view value(begin, static_cast<std::size_t>(a[4] - a[3]));
            if (value.find('&') != std::string_view::npos) {
                if (!Decode(value, decoded_)) {
                    Refuse("référence d'entité non résolue");
                    return;
                }
                value = decoded_;
            }
            block_.Add(NameOf(a[1], a[0]), value);
        }
        OpenElement& parent = open_.back();
        const CompactDocument::NodeId node =
            document_.AppendAfter(parent.node, parent.lastChild, NameOf(prefix, localname), block_);
        parent.lastChild = node;
        open_.push_back({node, CompactDocument::kNoNode, inScope});
    }

    // ---- SAX callbacks: nothing may escape them but a refusal ----

    static void OnStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                               const xmlChar* /*uri*/, int nbNamespaces,
                               const xmlChar** /*namespaces*/, int nbAttributes, int nbDefaulted,
                               const xmlChar** attributes) noexcept {
        Loader& loader = Of(ctx);
        try {
            loader.StartElement(localname, prefix, nbNamespaces, nbAttributes, nbDefaulted,
                                attributes);
        } catch (...) {
            loader.Refuse("mémoire insuffisante");
        }
    }
    static void OnEndElement(void* ctx, const xmlChar* /*localname*/, const xmlChar* /*prefix*/,
                             const xmlChar* /*uri*/) noexcept {
        Loader& loader = Of(ctx);
        if (loader.open_.size() > 1) {
            loader.open_.pop_back();
        }
    }
    static void OnSubset(void* ctx, const xmlChar* /*name*/, const xmlChar* externalId,
                         const xmlChar* systemId) noexcept {
        if (externalId != nullptr || systemId != nullptr) {
            Of(ctx).Refuse("DTD externe refusée");
        }
    }
    static void OnEntityDecl(void* ctx, const xmlChar* /*name*/, int /*type*/,
                             const xmlChar* /*publicId*/, const xmlChar* /*systemId*/,
                             xmlChar* /*content*/) noexcept {
        Of(ctx).Refuse("déclaration d'entité refusée");
    }
    static void OnUnparsedEntityDecl(void* ctx, const xmlChar* /*name*/,
                                     const xmlChar* /*publicId*/, const xmlChar* /*systemId*/,
                                     const xmlChar* /*notation*/) noexcept {
        Of(ctx).Refuse("déclaration d'entité refusée");
    }
    static void OnAttributeDecl(void* ctx, const xmlChar* /*elem*/, const xmlChar* /*name*/,
                                int /*type*/, int /*def*/, const xmlChar* /*defaultValue*/,
                                xmlEnumerationPtr tree) noexcept {
        // The handler owns the enumeration.
        xmlFreeEnumeration(tree);
        Of(ctx).Refuse("déclaration DTD refusée");
    }
    static void OnElementDecl(void* ctx, const xmlChar* /*name*/, int /*type*/,
                              xmlElementContentPtr /*content*/) noexcept {
        Of(ctx).Refuse("déclaration DTD refusée");
    }
    static void OnNotationDecl(void* ctx, const xmlChar* /*name*/, const xmlChar* /*publicId*/,
                               const xmlChar* /*systemId*/) noexcept {
        Of(ctx).Refuse("déclaration DTD refusée");
    }
    // Only the five predefined entities exist for this parser.
    static xmlEntityPtr OnGetEntity(void* /*ctx*/, const xmlChar* name) noexcept {
        return xmlGetPredefinedEntity(name);
    }
    static xmlEntityPtr OnGetParameterEntity(void* /*ctx*/, const xmlChar* /*name*/) noexcept {
        return nullptr;
    }
    static void OnError(void* ctx, xmlErrorPtr error) noexcept {
        Loader& loader = Of(ctx);
        loader.sink_.Take(error);
        if (loader.sink_.failed && !loader.stopped_) {
            // The first error decides; the parser must not go on with the rest of the file.
            loader.stopped_ = true;
            if (loader.ctxt_ != nullptr) {
                xmlStopParser(loader.ctxt_.get());
            }
        }
    }

    static xmlSAXHandler& Handler() {
        static xmlSAXHandler handler = [] {
            xmlSAXHandler h;
            std::memset(&h, 0, sizeof h);
            h.initialized = XML_SAX2_MAGIC;
            h.startElementNs = OnStartElement;
            h.endElementNs = OnEndElement;
            h.internalSubset = OnSubset;
            h.externalSubset = OnSubset;
            h.entityDecl = OnEntityDecl;
            h.unparsedEntityDecl = OnUnparsedEntityDecl;
            h.attributeDecl = OnAttributeDecl;
            h.elementDecl = OnElementDecl;
            h.notationDecl = OnNotationDecl;
            h.getEntity = OnGetEntity;
            h.getParameterEntity = OnGetParameterEntity;
            h.serror = OnError;
            return h;
        }();
        return handler;
    }

    struct OpenElement {
        CompactDocument::NodeId node;
        CompactDocument::NodeId lastChild;
        std::uint64_t namespacesInScope;
    };

    std::string name_;
    ErrorSink sink_;
    MarkupGuard guard_;
    std::unique_ptr<xmlParserCtxt, ContextFree> ctxt_;
    CompactDocument document_;
    std::vector<OpenElement> open_;
    std::unordered_map<NamePair, CompactDocument::NameId, NamePairHash> nameCache_;
    AttributeBlock block_;
    std::string decoded_;
    std::string head_;
    std::string refusal_;
    bool stopped_ = false;
};

}  // namespace

void PrepareXmlParser() {
    static std::once_flag initialized;
    std::call_once(initialized, [] {
        xmlInitParser();
        RegisterCp1252Decoder();
    });
}

CompactDocument LoadXmlFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        Fail(path, "fichier introuvable");
    }
    // The download folder may be shared: a link or a pipe put there is not read.
    const UniqueFd in = OpenFileToRead(path);
    if (!in.Valid()) {
        Fail(path, errno == ENOENT   ? "fichier introuvable"
                   : errno == EACCES ? "fichier illisible"
                                     : "ce n'est pas un fichier");
    }
    PrepareXmlParser();
    auto loader = std::make_unique<Loader>(path);
    const ThreadErrorRedirect redirect(loader->Sink());
    std::vector<char> piece(kPieceSize);
    while (true) {
        const auto got = ::read(in.Get(), piece.data(), piece.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            Fail(path, "erreur de lecture");
        }
        if (got == 0) {
            break;
        }
        loader->Feed(std::string_view(piece.data(), static_cast<std::size_t>(got)));
    }
    return loader->Finish();
}

CompactDocument LoadXmlBytes(std::string_view bytes, const std::string& name,
                             std::size_t pieceSize) {
    PrepareXmlParser();
    auto loader = std::make_unique<Loader>(name);
    const ThreadErrorRedirect redirect(loader->Sink());
    const std::size_t piece = pieceSize == 0 ? kPieceSize : pieceSize;
    for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
        loader->Feed(bytes.substr(offset, piece));
    }
    return loader->Finish();
}

}  // namespace quorvane
