#include <gtest/gtest.h>

#include <string>

#include "base/Sha256.h"

namespace quorvane::testing {
namespace {

std::string Hex(const std::string& bytes, std::size_t piece) {
    Sha256 hash;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        hash.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    EXPECT_EQ(hash.Size(), static_cast<std::int64_t>(bytes.size()));
    return hash.HexDigest();
}

// The published test vectors, fed whole and in pieces that split the 64-byte blocks.
TEST(Sha256, KnownVectorsWhateverThePieces) {
    EXPECT_EQ(Hex("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{1000}}) {
        EXPECT_EQ(Hex("abc", piece),
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(Hex(std::string(1000000, 'a'), piece * 77),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
    // The digest so far does not end the hash.
    Sha256 hash;
    hash.Update("ab", 2);
    EXPECT_EQ(hash.HexDigest(), Hex("ab", 2));
    hash.Update("c", 1);
    EXPECT_EQ(hash.HexDigest(), Hex("abc", 3));
}

}  // namespace
}  // namespace quorvane::testing
