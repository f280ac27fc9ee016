#include "xml/XmlEncoding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include <libxml/encoding.h>

#include "base/TextConversion.h"

namespace quorvane {
namespace {

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

}  // namespace

void RegisterCp1252Decoder() {
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

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return a == (b >= 'a' && b <= 'z' ? static_cast<char>(b - 'a' + 'A') : b);
           });
}

bool IsNumber(std::string_view text) {
    return !text.empty() && text.size() <= 2 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The encoding named by the XML declaration at the start of the file, empty without one.
// nullopt when a declaration starts but cannot be read within the first piece of the file.
std::optional<std::string> DeclaredEncoding(std::string_view start) {
    if (start.starts_with("\xEF\xBB\xBF")) {
        start.remove_prefix(3);
    }
    if (!start.starts_with("<?xml") || start.size() < 6 || !IsBlank(start[5])) {
        return std::string();
    }
    const std::size_t end = start.find("?>");
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = start.substr(5, end - 5);
    std::string encoding;
    // Pseudo-attributes: name = "value" or 'value', separated by blanks.
    while (true) {
        while (!rest.empty() && IsBlank(rest.front())) {
            rest.remove_prefix(1);
        }
        if (rest.empty()) {
            return encoding;
        }
        std::size_t n = 0;
        while (n < rest.size() && rest[n] != '=' && !IsBlank(rest[n])) {
            ++n;
        }
        const std::string_view attrName = rest.substr(0, n);
        rest.remove_prefix(n);
        while (!rest.empty() && IsBlank(rest.front())) {
            rest.remove_prefix(1);
        }
        if (rest.empty() || rest.front() != '=') {
            return std::nullopt;
        }
        rest.remove_prefix(1);
        while (!rest.empty() && IsBlank(rest.front())) {
            rest.remove_prefix(1);
        }
        if (rest.empty() || (rest.front() != '"' && rest.front() != '\'')) {
            return std::nullopt;
        }
        const std::size_t close = rest.find(rest.front(), 1);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        if (attrName == "encoding") {
            encoding = std::string(rest.substr(1, close - 1));
        }
        rest.remove_prefix(close + 1);
    }
}

}  // namespace

bool IsAdmittedEncoding(std::string_view name) {
    for (const std::string_view exact :
         {"UTF-8", "UTF8", "US-ASCII", "ASCII", "ISO-LATIN-1", "LATIN1", "ISO LATIN 1"}) {
        if (name.size() == exact.size() && StartsWithNoCase(name, exact)) {
            return true;
        }
    }
    for (const std::string_view family : {"ISO-8859-", "ISO8859-", "ISO_8859-"}) {
        if (StartsWithNoCase(name, family)) {
            return IsNumber(name.substr(family.size()));
        }
    }
    for (const std::string_view family : {"WINDOWS-125", "CP125"}) {
        if (StartsWithNoCase(name, family)) {
            return name.size() == family.size() + 1 && name.back() >= '0' && name.back() <= '8';
        }
    }
    return false;
}

std::string RefusedEncoding(std::string_view start) {
    std::array<unsigned char, 4> first{};
    std::memcpy(first.data(), start.data(), std::min<std::size_t>(start.size(), first.size()));
    const xmlCharEncoding detected =
        start.size() >= 4 ? xmlDetectCharEncoding(first.data(), 4) : XML_CHAR_ENCODING_NONE;
    if (detected != XML_CHAR_ENCODING_NONE && detected != XML_CHAR_ENCODING_UTF8) {
        return "encodage non pris en charge";
    }
    const std::optional<std::string> declared = DeclaredEncoding(start);
    if (!declared) {
        return "déclaration XML illisible";
    }
    if (!declared->empty() && !IsAdmittedEncoding(*declared)) {
        return "encodage non pris en charge : " + *declared;
    }
    // An editor that saved the file as UTF-8 with a byte-order mark and kept the old declaration:
    // read either way, every accent would come out wrong without a word.
    const auto named = [&](std::string_view exact) {
        return declared->size() == exact.size() && StartsWithNoCase(*declared, exact);
    };
    const bool utf8Declared = declared->empty() || named("UTF-8") || named("UTF8");
    if (start.starts_with("\xEF\xBB\xBF") && !utf8Declared) {
        return "la marque d'ordre des octets UTF-8 contredit l'encodage déclaré " + *declared;
    }
    return std::string();
}

}  // namespace quorvane
