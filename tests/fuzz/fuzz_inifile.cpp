// The settings-file reader and writer over arbitrary file bytes: every read the program makes,
// then one write whose key must read back as the reader takes values, while every other line
// keeps its text.
// The input is the file; when it holds a NUL byte, what follows the last one names the
// section, key and value of the write, separated by 0x01 bytes.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/IniFile.h"
#include "base/TextConversion.h"

namespace {

const std::filesystem::path& FilePath() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("quorvane-fuzz-ini-" + std::to_string(::getpid()) + ".ini");
    return path;
}

void Store(const std::string& bytes) {
    std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string Load() {
    std::ifstream in(FilePath(), std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// The lines' texts, each ended by CR LF, a lone LF or a lone CR, as the reader ends them.
std::vector<std::string> LineTexts(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const auto end = bytes.find_first_of("\r\n", start);
        lines.push_back(bytes.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

std::string Without(std::string_view text, std::string_view refused) {
    std::string out;
    for (const char c : text) {
        if (refused.find(c) == std::string_view::npos) {
            out += c;
        }
    }
    return out;
}

std::string TrimBlanks(std::string text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void ReadEverything(const quorvane::TIniFile& ini) {
    struct Key {
        const char* section;
        const char* key;
    };
    static const Key kBooleans[] = {{"Quorvane", "Remise_Achat"}, {"Quorvane", "Personnalisation"},
                                    {"Quorvane", "Message"},      {"Quorvane", "Document"},
                                    {"Ombrelin", "Ombrelin"},     {"Ombrelin", "Remise_Achat"}};
    static const Key kTexts[] = {{"Quorvane", "TypeEnvoi"}, {"Quorvane_URI", "URI"},
                                 {"Quorvane_FTP", "Login"}, {"Quorvane_FTP", "Mdp"},
                                 {"Quorvane_FTP", "Host"},  {"Ombrelin", "TypeEnvoi"},
                                 {"Ombrelin_URI", "URI"},   {"Ombrelin", "CheminOmbbde"}};
    for (const Key& k : kBooleans) {
        const bool a = ini.ReadBool(k.section, k.key, false);
        const bool b = ini.ReadBool(k.section, k.key, true);
        // A value present and read as a number gives the same answer whatever the default.
        if (ini.ReadInteger(k.section, k.key, 7) != 7 && a != b) {
            __builtin_trap();
        }
    }
    for (const Key& k : kTexts) {
        const std::string value = ini.ReadString(k.section, k.key, "\x01");
        if (value != "\x01" && value != ini.ReadString(k.section, k.key, "")) {
            __builtin_trap();
        }
    }
    (void)ini.ReadInteger("Quorvane_FTP", "Port", 21);
}

void CheckWrite(quorvane::TIniFile& ini, const std::string& before, const std::string& section,
                const std::string& key, const std::string& value) {
    try {
        ini.WriteString(section, key, value);
    } catch (const quorvane::IniWriteError&) {
        __builtin_trap();  // a plain file in the temporary folder can always be written
    }
    // Written as it stands; reading takes off the blanks at its ends and one pair of matching
    // quotes around it.
    std::string expected = TrimBlanks(quorvane::Cp1252ToUtf8(quorvane::Utf8ToCp1252(value)));
    if (expected.size() >= 2 && (expected.front() == '"' || expected.front() == '\'') &&
        expected.back() == expected.front()) {
        expected = expected.substr(1, expected.size() - 2);
    }
    if (ini.ReadString(section, key, "\x01") != expected) {
        __builtin_trap();
    }
    // The write changed one line or added one or two; every other line is as it was.
    const auto old = LineTexts(before);
    const auto now = LineTexts(Load());
    if (now.size() < old.size() || now.size() > old.size() + 2) {
        __builtin_trap();
    }
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t differences = 0;
    while (i < old.size() && j < now.size()) {
        if (old[i] == now[j]) {
            ++i, ++j;
        } else if (now.size() - j > old.size() - i) {
            ++j, ++differences;  // an added line
        } else {
            ++i, ++j, ++differences;  // the changed line
        }
    }
    differences += now.size() - j;
    if (differences > 2 || (now.size() == old.size() && differences > 1)) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string file = input;
    std::string section = "Quorvane_FTP";
    std::string key = "Host";
    std::string value = "ftp.exemple.fr";
    if (const auto nul = input.rfind('\0'); nul != std::string::npos) {
        file = input.substr(0, nul);
        std::vector<std::string> parts(1);
        for (const char c : input.substr(nul + 1)) {
            if (c == '\x01' && parts.size() < 3) {
                parts.emplace_back();
            } else {
                parts.back() += c;
            }
        }
        parts.resize(3);
        // Names as the windows write them: no line breaks, and nothing that would make a key
        // line read as a section line or a comment.
        section = TrimBlanks(Without(quorvane::Cp1252ToUtf8(parts[0]), "\r\n[]"));
        key = TrimBlanks(Without(quorvane::Cp1252ToUtf8(parts[1]), "\r\n[]=;"));
        value = Without(quorvane::Cp1252ToUtf8(parts[2]), "\r\n");
    }
    Store(file);
    quorvane::TIniFile ini(FilePath());
    ReadEverything(ini);
    CheckWrite(ini, file, section, key, value);
    return 0;
}
