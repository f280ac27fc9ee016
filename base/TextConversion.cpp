#include "base/TextConversion.h"

#include <array>
#include <limits>

namespace quorvane {
namespace {

// Code points of bytes 0x80..0x9F; the rest of Windows-1252 equals Latin-1.
constexpr std::array<char32_t, 32> kHighTable = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char EncodeCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<char>(static_cast<unsigned char>(cp));
    }
    for (std::size_t i = 0; i < kHighTable.size(); ++i) {
        if (kHighTable[i] == cp) {
            return static_cast<char>(static_cast<unsigned char>(0x80 + i));
        }
    }
    return '?';
}

// One character of a UTF-8 text; a malformed sequence is its first byte alone, not valid.
struct DecodedChar {
    char32_t codePoint;
    std::size_t length;
    bool valid;
};

DecodedChar DecodeUtf8(std::string_view text, std::size_t i) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t len = 0;
    char32_t cp = 0;
    if (b < 0x80) {
        return {b, 1, true};
    }
    if ((b & 0xE0) == 0xC0) {
        len = 2;
        cp = b & 0x1Fu;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3;
        cp = b & 0x0Fu;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4;
        cp = b & 0x07u;
    } else {
        return {b, 1, false};
    }
    if (i + len > text.size()) {
        return {b, 1, false};
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto cont = static_cast<unsigned char>(text[i + k]);
        if ((cont & 0xC0) != 0x80) {
            return {b, 1, false};
        }
        cp = (cp << 6) | (cont & 0x3Fu);
    }
    return {cp, len, true};
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else if (b < 0xA0) {
            AppendUtf8(out, kHighTable[b - 0x80u]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

std::string Utf8ToCp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const DecodedChar c = DecodeUtf8(text, i);
        out += c.valid ? EncodeCp1252(c.codePoint) : '?';
        i += c.length;
    }
    return out;
}

std::optional<std::int64_t> TryStrToInt64(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    // Accumulated as a negative number so that the smallest 64-bit value is reachable.
    std::int64_t value = 0;
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        const int digit = text[i] - '0';
        if (value < (kMin + digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == kMin) {
            return std::nullopt;
        }
        value = -value;
    }
    return value;
}

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
    const auto value = TryStrToInt64(text);
    if (!value || *value > std::numeric_limits<std::int32_t>::max() ||
        *value < std::numeric_limits<std::int32_t>::min()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t defaultValue) {
    return TryStrToInt(text).value_or(defaultValue);
}

std::u32string FoldCase(std::string_view utf8) {
    std::u32string folded;
    folded.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const DecodedChar c = DecodeUtf8(utf8, i);
        char32_t cp = c.codePoint;
        if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)) {
            cp += 0x20;
        } else if (cp == 0x152 || cp == 0x160 || cp == 0x17D) {
            cp += 1;  // Œ, Š, Ž
        } else if (cp == 0x178) {
            cp = 0xFF;  // Ÿ
        }
        folded += cp;
        i += c.length;
    }
    return folded;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a.substr(i, 1)) != AsciiUpper(b.substr(i, 1))) {
            return false;
        }
    }
    return true;
}

}  // namespace quorvane
