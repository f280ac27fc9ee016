#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace quorvane::testing {

// A fresh folder per test, removed afterwards (permissions restored first so that tests that
// make it read-only still clean up).
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvane-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::abort();
        }
        path_ = tmpl;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            // A link's target may lie outside the folder (a file of the source tree): leave it.
            if (!it->is_symlink(ec)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
            }
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    // The folder as the program spells folders: ending with "/".
    std::string folder() const { return path_.string() + "/"; }

  private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// A stand-in for the desktop's viewer in `bin`: it records each path it is asked to open, one per
// line, in `record`. The record is replaced by a rename so that a test polling for it never reads
// it half-written.
inline void WriteViewerStandIn(const std::filesystem::path& bin,
                               const std::filesystem::path& record) {
    const auto script = bin / "xdg-open";
    WriteFile(
        script,
        "#!/bin/sh\nf='" + record.string() +
            "'\n{ cat \"$f\" 2>/dev/null; echo \"$@\"; } > \"$f.$$\" && mv \"$f.$$\" \"$f\"\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
}

// Running as root ignores file permissions; tests that rely on a refused access skip then.
inline bool PermissionsAreEnforced() {
    return ::geteuid() != 0;
}

}  // namespace quorvane::testing
