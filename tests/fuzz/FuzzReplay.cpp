// Replays a fuzz target's saved inputs in the ordinary build, so that an input that once failed
// (a committed starting input, or a finding copied into the corpus) keeps being checked by
// every test run, under the sanitizers too, without clang's fuzzer runtime.
// QUORVANE_FUZZ_CORPUS lists the folders to replay, separated by "|"; QUORVANE_FUZZ_SUITE names
// the test suite after the target.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> CorpusFolders() {
    std::vector<std::filesystem::path> folders;
    std::stringstream list(QUORVANE_FUZZ_CORPUS);
    for (std::string folder; std::getline(list, folder, '|');) {
        if (!folder.empty()) {
            folders.emplace_back(folder);
        }
    }
    return folders;
}

TEST(QUORVANE_FUZZ_SUITE, EverySavedInputRunsCleanly) {
    int inputs = 0;
    for (const auto& folder : CorpusFolders()) {
        ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            SCOPED_TRACE(entry.path().string());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
            ++inputs;
        }
    }
    // An empty or misplaced corpus would make this test pass without replaying anything.
    EXPECT_GE(inputs, 3);
}

}  // namespace
