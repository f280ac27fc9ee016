#pragma once

#include <filesystem>
#include <string>

namespace quorvane::testing {

// Writes `bytes` as they are, creating the parent folders.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// A file of tests/data/, as bytes; throws when it is missing, so a renamed sample cannot pass
// for an empty one.
std::string TestData(const std::string& relativePath);

// A stand-in for the desktop's viewer in `bin`: it records each path it is asked to open, one per
// line, in `record`. The record is replaced by a rename so that a test polling for it never reads
// it half-written.
void WriteViewerStandIn(const std::filesystem::path& bin, const std::filesystem::path& record);

// Running as root ignores file permissions; tests that rely on a refused access skip then.
bool PermissionsAreEnforced();

}  // namespace quorvane::testing
