#include "sync/signature/AcceptedGeneration.h"

#include <cstring>

#include "base/AtomicFile.h"
#include "base/SharedFolder.h"
#include "sync/signature/Manifest.h"

namespace quorvane {

std::optional<std::uint64_t> ReadAcceptedGeneration(const std::string& path) {
    // A whole number and a line end; anything longer is no file of ours. In the shared program
    // folder: never through a planted link, never waiting on a pipe.
    std::string text = ReadFileBytes(path, 32).value_or("");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return ParseGeneration(text);
}

std::optional<std::string> RecordAcceptedGeneration(const std::string& path,
                                                    std::uint64_t generation) {
    try {
        AtomicFile file(path);
        file.Write(std::to_string(generation) + "\n");
        file.Commit();
    } catch (const AtomicFileError& e) {
        return e.path().string() + " : " + std::strerror(e.code().value());
    }
    return std::nullopt;
}

}  // namespace quorvane
