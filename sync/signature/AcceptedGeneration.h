#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

// The newest generation of the head office's signed set this program folder has accepted, kept
// in one small file so that an older set brought back later is refused. Nothing when the file
// does not exist or holds no whole number.
std::optional<std::uint64_t> ReadAcceptedGeneration(const std::string& path);
// Replaces the file at once (written beside it and renamed in); the failure's text, or nothing.
std::optional<std::string> RecordAcceptedGeneration(const std::string& path,
                                                    std::uint64_t generation);

}  // namespace quorvane
