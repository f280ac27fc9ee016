#include "xml/MarkupGuard.h"

#include <cstddef>
#include <cstring>

namespace quorvane {
namespace {

// Position of the first c at or after from, or the end.
std::size_t Find(std::string_view bytes, std::size_t from, char c) noexcept {
    const void* hit = std::memchr(bytes.data() + from, c, bytes.size() - from);
    return hit == nullptr ? bytes.size()
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - bytes.data());
}

bool IsQuote(char c) noexcept {
    return c == '"' || c == '\'';
}

}  // namespace

bool MarkupGuard::Scan(std::string_view bytes) noexcept {
    std::size_t i = 0;
    while (!exceeded_ && i < bytes.size()) {
        const char c = bytes[i];
        switch (state_) {
            case State::Text:
                // Most of a file is values and text: skip to the next byte that matters.
                i = Find(bytes, i, '<');
                if (i < bytes.size()) {
                    state_ = State::Open;
                    ++i;
                }
                continue;
            case State::Open:
                if (c == '!') {
                    state_ = State::Bang;
                } else if (c == '?') {
                    state_ = State::Pi;
                    resume_ = State::Text;
                    run_ = 0;
                } else if (c == '/') {
                    state_ = State::EndTag;
                } else {
                    state_ = State::StartTag;
                    attributes_ = 0;
                    continue;  // the byte belongs to the tag's name
                }
                break;
            case State::Bang:
                if (c == '-') {
                    state_ = State::BangDash;
                } else if (c == '[') {
                    state_ = State::Cdata;
                    run_ = 0;
                } else {
                    state_ = State::Declaration;
                    continue;
                }
                break;
            case State::BangDash:
                if (c == '-') {
                    state_ = State::Comment;
                    resume_ = State::Text;
                    run_ = 0;
                } else {
                    state_ = State::Declaration;
                    continue;
                }
                break;
            case State::StartTag:
                if (c == '=') {
                    if (++attributes_ > max_) {
                        exceeded_ = true;
                    }
                } else if (IsQuote(c)) {
                    quote_ = c;
                    resume_ = State::StartTag;
                    state_ = State::Quoted;
                } else if (c == '>') {
                    state_ = State::Text;
                }
                break;
            case State::EndTag:
                i = Find(bytes, i, '>');
                if (i < bytes.size()) {
                    state_ = State::Text;
                    ++i;
                }
                continue;
            case State::Quoted:
                i = Find(bytes, i, quote_);
                if (i < bytes.size()) {
                    state_ = resume_;
                    ++i;
                }
                continue;
            case State::Comment:
                if (c == '-') {
                    run_ = run_ < 2 ? static_cast<std::uint8_t>(run_ + 1) : run_;
                } else if (c == '>' && run_ >= 2) {
                    state_ = resume_;
                } else {
                    run_ = 0;
                }
                break;
            case State::Cdata:
                if (c == ']') {
                    run_ = run_ < 2 ? static_cast<std::uint8_t>(run_ + 1) : run_;
                } else if (c == '>' && run_ >= 2) {
                    state_ = State::Text;
                } else {
                    run_ = 0;
                }
                break;
            case State::Pi:
                if (c == '>' && run_ != 0) {
                    state_ = resume_;
                } else {
                    run_ = c == '?' ? 1 : 0;
                }
                break;
            case State::Declaration:
                if (IsQuote(c)) {
                    quote_ = c;
                    resume_ = State::Declaration;
                    state_ = State::Quoted;
                } else if (c == '[') {
                    state_ = State::Subset;
                } else if (c == '>') {
                    state_ = State::Text;
                }
                break;
            case State::Subset:
                if (IsQuote(c)) {
                    quote_ = c;
                    resume_ = State::Subset;
                    state_ = State::Quoted;
                } else if (c == '<') {
                    state_ = State::SubsetOpen;
                } else if (c == ']') {
                    state_ = State::Declaration;
                }
                break;
            case State::SubsetOpen:
                if (c == '!') {
                    state_ = State::SubsetBang;
                } else if (c == '?') {
                    state_ = State::Pi;
                    resume_ = State::Subset;
                    run_ = 0;
                } else {
                    state_ = State::SubsetDeclaration;
                    continue;
                }
                break;
            case State::SubsetBang:
                if (c == '-') {
                    state_ = State::SubsetBangDash;
                } else {
                    state_ = State::SubsetDeclaration;
                    continue;
                }
                break;
            case State::SubsetBangDash:
                if (c == '-') {
                    state_ = State::Comment;
                    resume_ = State::Subset;
                    run_ = 0;
                } else {
                    state_ = State::SubsetDeclaration;
                    continue;
                }
                break;
            case State::SubsetDeclaration:
                if (IsQuote(c)) {
                    quote_ = c;
                    resume_ = State::SubsetDeclaration;
                    state_ = State::Quoted;
                } else if (c == '>') {
                    state_ = State::Subset;
                }
                break;
        }
        ++i;
    }
    return !exceeded_;
}

}  // namespace quorvane
