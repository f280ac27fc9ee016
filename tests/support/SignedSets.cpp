#include "support/SignedSets.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "support/TestFiles.h"

namespace quorvane::testing {
namespace {

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("échec de : " + command);
    }
}

}  // namespace

MinisignKey::MinisignKey(const std::filesystem::path& folder) : secretKey_(folder / "siege.key") {
    std::filesystem::create_directories(folder);
    const auto publicKey = folder / "siege.pub";
    Run("minisign -G -f -W -p " + Quoted(publicKey) + " -s " + Quoted(secretKey_));
    std::istringstream lines(ReadFile(publicKey));
    std::getline(lines, publicLine_);  // the untrusted comment
    std::getline(lines, publicLine_);
}

void MinisignKey::Sign(const std::filesystem::path& file, bool legacy,
                       const std::string& trustedComment) const {
    Run(std::string("minisign -S ") + (legacy ? "-l " : "") + "-s " + Quoted(secretKey_) + " -t " +
        Quoted(trustedComment) + " -m " + Quoted(file));
}

void MinisignKey::Publish(const std::filesystem::path& folder, std::uint64_t generation,
                          const std::string& expire) const {
    Run(Quoted(QUORVANE_SOURCE_DIR "/tools/publish-manifest.sh") + " -s " + Quoted(secretKey_) +
        " -g " + std::to_string(generation) + " -e " + Quoted(expire) + " " + Quoted(folder));
}

}  // namespace quorvane::testing
