#include "base/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/AtomicFile.h"
#include "base/PosixFile.h"
#include "base/SharedFolder.h"
#include "base/TextConversion.h"

namespace quorvane {
namespace {

// One line of the file and the bytes that ended it: CR LF, a lone LF or a lone CR, as the
// profile reader of the store world ends lines; empty for a last line without an ending.
struct Line {
    std::string text;
    std::string ending;
};

std::vector<Line> SplitLines(std::string_view bytes) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const auto end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({std::string(bytes.substr(start)), ""});
            break;
        }
        const std::size_t length = bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        lines.push_back({std::string(bytes.substr(start, end - start)),
                         std::string(bytes.substr(end, length))});
        start = end + length;
    }
    return lines;
}

// A file saved as UTF-8 by an editor that marks it so: its text is UTF-8, not Windows-1252.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

struct Content {
    bool utf8 = false;
    std::string_view text;  // without the mark
};

Content Decode(std::string_view bytes) {
    if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        return {true, bytes.substr(kUtf8Mark.size())};
    }
    return {false, bytes};
}

// A last line without an ending is ended before a line is added after it; otherwise the new line
// would be glued to it and the write lost on reading. In a file of CR LF or LF lines, a last
// line ending with a lone CR most likely lost its LF: it is completed to CR LF, which reads the
// same.
void EndLastLine(Line& line, const std::string& eol) {
    if (line.ending.empty()) {
        line.ending = eol;
    } else if (line.ending == "\r" && eol != "\r") {
        line.ending = "\r\n";
    }
}

// One pair of matching quotes around a value is not part of it.
std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::optional<std::string_view> SectionName(std::string_view line) {
    const auto t = TrimBlanks(line);
    if (t.size() >= 2 && t.front() == '[') {
        const auto close = t.find(']');
        if (close != std::string_view::npos) {
            return TrimBlanks(t.substr(1, close - 1));
        }
    }
    return std::nullopt;
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> SplitKeyValue(std::string_view line) {
    const auto t = TrimBlanks(line);
    if (t.empty() || t.front() == ';') {
        return std::nullopt;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyValue{TrimBlanks(t.substr(0, eq)), TrimBlanks(t.substr(eq + 1))};
}

// Finds the value of section/key in the file's text; names and value in the file's own encoding.
std::optional<std::string> Lookup(std::string_view text, std::string_view section,
                                  std::string_view key) {
    bool inSection = false;
    for (const auto& line : SplitLines(text)) {
        if (const auto name = SectionName(line.text)) {
            if (inSection) {
                // Only the first section of that name counts.
                return std::nullopt;
            }
            inSection = EqualsIgnoreAsciiCase(*name, section);
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (const auto kv = SplitKeyValue(line.text); kv && EqualsIgnoreAsciiCase(kv->key, key)) {
            return std::string(Unquote(kv->value));
        }
    }
    return std::nullopt;
}

// The value of section/key as UTF-8, names given as UTF-8.
std::optional<std::string> LookupUtf8(const std::string& bytes, const std::string& section,
                                      const std::string& key) {
    const Content content = Decode(bytes);
    if (content.utf8) {
        return Lookup(content.text, section, key);
    }
    const auto value = Lookup(content.text, Utf8ToCp1252(section), Utf8ToCp1252(key));
    if (!value) {
        return std::nullopt;
    }
    return Cp1252ToUtf8(*value);
}

[[noreturn]] void ThrowWriteError(const std::filesystem::path& path, int err) {
    throw IniWriteError("Impossible d'écrire le fichier de paramètres " + path.string() + " : " +
                        std::strerror(err));
}

// A new file is readable by its owner only: it carries the FTP password in clear. In a folder
// shared with a group (set-group-ID and group-writable, as the package lays out the program's
// folder), the group's other members run the program too and must read it: it is theirs as
// well, and still no one else's. An existing file keeps its permissions.
void ReplaceFileAtomically(const std::filesystem::path& path, const std::string& bytes) {
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat folder {};
    if (::stat(path.has_parent_path() ? path.parent_path().c_str() : ".", &folder) == 0 &&
        (folder.st_mode & S_ISGID) != 0 && (folder.st_mode & S_IWGRP) != 0) {
        mode |= S_IRGRP | S_IWGRP;
    }
    struct stat st {};
    // Not a link's target's: a link put at the name would hand its permissions on.
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
    }
    try {
        AtomicFile file(path, S_IRUSR | S_IWUSR);
        file.RefuseReadOnlyTarget();
        file.Write(bytes);
        file.SetMode(mode);
        file.Commit();
    } catch (const AtomicFileError& e) {
        ThrowWriteError(path, e.code().value());
    }
}

}  // namespace

TIniFile::TIniFile(std::filesystem::path path) : path_(std::move(path)) {}

bool TIniFile::Exists() const {
    // A file that cannot be read is "inaccessible" to the run, not one whose every key is at
    // its default: the run would otherwise do nothing and report nothing. So is a link another
    // user put in a shared folder.
    return OpenFileToRead(path_).Valid();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const auto bytes = ReadFileBytes(path_);
    if (!bytes) {
        return defaultValue;
    }
    const auto value = LookupUtf8(*bytes, section, key);
    return value ? *value : defaultValue;
}

std::int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                   std::int32_t defaultValue) const {
    const auto bytes = ReadFileBytes(path_);
    if (!bytes) {
        return defaultValue;
    }
    const auto value = LookupUtf8(*bytes, section, key);
    return value ? StrToIntDef(*value, defaultValue) : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    const std::string bytes = ReadFileBytes(path_).value_or("");
    const Content content = Decode(bytes);
    // A file marked as UTF-8 is written in UTF-8, so that its other lines keep their meaning.
    const auto encode = [&](const std::string& text) {
        return content.utf8 ? text : Utf8ToCp1252(text);
    };
    const std::string sectionBytes = encode(section);
    const std::string keyBytes = encode(key);
    const std::string valueBytes = encode(value);
    auto lines = SplitLines(content.text);

    // The line ending the file already uses is kept for lines this write adds.
    std::string eol = "\r\n";
    if (!lines.empty() && (lines.front().ending == "\n" || lines.front().ending == "\r")) {
        eol = lines.front().ending;
    }

    std::optional<std::size_t> sectionLine;
    std::optional<std::size_t> lastKeyOfSection;
    std::optional<std::size_t> keyLine;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionName(lines[i].text)) {
            if (sectionLine) {
                break;
            }
            if (EqualsIgnoreAsciiCase(*name, sectionBytes)) {
                sectionLine = i;
                lastKeyOfSection = i;
            }
            continue;
        }
        if (!sectionLine) {
            continue;
        }
        if (const auto kv = SplitKeyValue(lines[i].text)) {
            lastKeyOfSection = i;
            if (EqualsIgnoreAsciiCase(kv->key, keyBytes)) {
                keyLine = i;
                break;
            }
        }
    }

    if (keyLine) {
        // The key keeps its spelling; only the value changes.
        const auto kv = SplitKeyValue(lines[*keyLine].text);
        lines[*keyLine].text = std::string(kv->key) + "=" + valueBytes;
    } else if (sectionLine) {
        const std::size_t at = *lastKeyOfSection;
        EndLastLine(lines[at], eol);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at + 1),
                     Line{keyBytes + "=" + valueBytes, eol});
    } else {
        if (!lines.empty()) {
            EndLastLine(lines.back(), eol);
        }
        lines.push_back({"[" + sectionBytes + "]", eol});
        lines.push_back({keyBytes + "=" + valueBytes, eol});
    }

    std::string out(content.utf8 ? kUtf8Mark : std::string_view());
    out.reserve(bytes.size() + 64);
    for (const auto& line : lines) {
        out += line.text;
        out += line.ending;
    }
    ReplaceFileAtomically(path_, out);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key,
                            std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

}  // namespace quorvane
