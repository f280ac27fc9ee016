#include "sync/signature/AcceptedGeneration.h"

#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/AtomicFile.h"

namespace quorvane {

std::optional<std::uint64_t> ReadAcceptedGeneration(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    // A whole number and a line end; anything longer is no file of ours.
    text.resize(32);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    std::uint64_t generation = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, generation);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return generation;
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
