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

void MarkupGuard::Enter(State section, State resume) noexcept {
    state_ = section;
    resume_ = resume;
    run_ = 0;
}

void MarkupGuard::EnterQuoted(char quote) noexcept {
    quote_ = quote;
    resume_ = state_;
    state_ = State::Quoted;
}

bool MarkupGuard::AfterBangDash(char c, State resume, State declaration) noexcept {
    if (c == '-') {
        Enter(State::Comment, resume);
        return true;
    }
    state_ = declaration;
    return false;
}

void MarkupGuard::SectionByte(char c, char closer) noexcept {
    if (c == closer) {
        run_ = run_ < 2 ? static_cast<std::uint8_t>(run_ + 1) : run_;
    } else if (c == '>' && run_ >= 2) {
        state_ = resume_;
    } else {
        run_ = 0;
    }
}

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
                    Enter(State::Pi, State::Text);
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
                    Enter(State::Cdata, State::Text);
                } else {
                    state_ = State::Declaration;
                    continue;
                }
                break;
            case State::BangDash:
                if (!AfterBangDash(c, State::Text, State::Declaration)) {
                    continue;
                }
                break;
            case State::StartTag:
                if (c == '=') {
                    if (++attributes_ > max_) {
                        exceeded_ = true;
                    }
                } else if (IsQuote(c)) {
                    EnterQuoted(c);
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
                SectionByte(c, '-');
                break;
            case State::Cdata:
                SectionByte(c, ']');
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
                    EnterQuoted(c);
                } else if (c == '[') {
                    state_ = State::Subset;
                } else if (c == '>') {
                    state_ = State::Text;
                }
                break;
            case State::Subset:
                if (IsQuote(c)) {
                    EnterQuoted(c);
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
                    Enter(State::Pi, State::Subset);
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
                if (!AfterBangDash(c, State::Subset, State::SubsetDeclaration)) {
                    continue;
                }
                break;
            case State::SubsetDeclaration:
                if (IsQuote(c)) {
                    EnterQuoted(c);
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
