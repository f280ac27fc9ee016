#include "xml/XmlErrorSink.h"

#include <algorithm>
#include <string>

// parser.h first: dict.h does not include what it needs.
#include <libxml/parser.h>

namespace quorvane {
namespace {

// Errors raised without a context (encoding conversion, memory): thread-wide handler.
void OnThreadError(void* userData, xmlErrorPtr error) noexcept {
    static_cast<ErrorSink*>(userData)->Take(error);
}

void IgnoreGenericError(void* /*ctx*/, const char* /*msg*/, ...) noexcept {}

}  // namespace

void ErrorSink::Take(const xmlError* error) noexcept {
    if (error == nullptr || error->level < XML_ERR_ERROR) {
        return;
    }
    try {
        if (!failed && error->message != nullptr) {
            first = error->message;
            // Some messages carry the offending bytes on a second line.
            std::replace(first.begin(), first.end(), '\n', ' ');
            while (!first.empty() && first.back() == ' ') {
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

ThreadErrorRedirect::ThreadErrorRedirect(ErrorSink& sink)
    : structured_(xmlStructuredError),
      structuredContext_(xmlStructuredErrorContext),
      generic_(xmlGenericError),
      genericContext_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(&sink, OnThreadError);
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
}

ThreadErrorRedirect::~ThreadErrorRedirect() {
    xmlSetStructuredErrorFunc(structuredContext_, structured_);
    xmlSetGenericErrorFunc(genericContext_, generic_);
}

}  // namespace quorvane
