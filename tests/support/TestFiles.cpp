#include "support/TestFiles.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quorvane::testing {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string TestData(const std::string& relativePath) {
    const std::filesystem::path file = std::filesystem::path(QUORVANE_TEST_DATA) / relativePath;
    if (!std::filesystem::is_regular_file(file)) {
        throw std::runtime_error("missing test data " + file.string());
    }
    return ReadFile(file);
}

void WriteViewerStandIn(const std::filesystem::path& bin, const std::filesystem::path& record) {
    const auto script = bin / "xdg-open";
    WriteFile(
        script,
        "#!/bin/sh\nf='" + record.string() +
            "'\n{ cat \"$f\" 2>/dev/null; echo \"$@\"; } > \"$f.$$\" && mv \"$f.$$\" \"$f\"\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
}

bool PermissionsAreEnforced() {
    return ::geteuid() != 0;
}

}  // namespace quorvane::testing
