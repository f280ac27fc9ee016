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
// Values cross this interface as UTF-8; the file holds Windows-1252 bytes. Lines may end with LF
// or CR LF. A write rewrites the file through a temporary file and a rename, so a crash leaves
// either the old or the new file, never half of one, and every other line keeps its bytes.
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
