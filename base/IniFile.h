#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace quorvane {

// Raised when the settings file cannot be written; the message is French, for the user.
class IniWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An INI file opened by path, with the profile semantics the store world expects: section and
// key names match without regard to case, the first occurrence counts, a missing file, section
// or key reads as the default, and each write is on disk when it returns.
//
// The file is read as the Windows profile reader reads it: Windows-1252 bytes, or UTF-8 when the
// file starts with the UTF-8 byte-order mark; CR LF, a lone LF and a lone CR all end a line;
// blanks around a name or a value are not part of it, nor is one pair of matching quotes (double
// or single) around a value. Values cross this interface as UTF-8.
//
// A write rewrites the file through a temporary file and a rename, so a crash leaves either the
// old or the new file, never half of one, and every other line keeps its bytes. It writes in the
// file's own encoding and line ending, and writes a value as it stands, without quoting, as the
// profile writer does: blanks at its ends, or a pair of quotes of its own, do not read back.
class TIniFile {
  public:
    explicit TIniFile(std::filesystem::path path);

    const std::filesystem::path& FileName() const { return path_; }
    bool Exists() const;

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    std::int32_t ReadInteger(const std::string& section, const std::string& key,
                             std::int32_t defaultValue) const;
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

  private:
    std::filesystem::path path_;
};

}  // namespace quorvane
