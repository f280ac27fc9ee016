#include "sync/retrieval/AsciiLineEnds.h"

namespace quorvane {

void AsciiLineEndDecoder::Decode(std::string_view chunk, std::string& out) {
    out.reserve(out.size() + chunk.size() + 1);
    std::size_t start = 0;
    if (heldCr_) {
        heldCr_ = false;
        if (chunk.empty()) {
            heldCr_ = true;
            return;
        }
        if (chunk.front() != '\n') {
            out.push_back('\r');
        }
    }
    while (start < chunk.size()) {
        const std::size_t cr = chunk.find('\r', start);
        if (cr == std::string_view::npos) {
            out.append(chunk.substr(start));
            return;
        }
        out.append(chunk.substr(start, cr - start));
        if (cr + 1 == chunk.size()) {
            heldCr_ = true;
            return;
        }
        if (chunk[cr + 1] != '\n') {
            out.push_back('\r');
        }
        start = cr + 1;
    }
}

void AsciiLineEndDecoder::Finish(std::string& out) {
    if (heldCr_) {
        out.push_back('\r');
        heldCr_ = false;
    }
}

}  // namespace quorvane
