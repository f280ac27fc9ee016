#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/LinkRule.h"
#include "base/SharedFolder.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

// The tests run as root in CI and as a developer elsewhere; "someone else" is an account that
// is neither.
uid_t Stranger() {
    return ::geteuid() == 65534 ? 65533 : 65534;
}

TEST(LinkRuleTest, TrustedLinksAreFollowedAtEveryStepAndThePathComesBackWithoutThem) {
    TempDir dir;
    fs::create_directories(dir.Path() / "publication" / "v2");
    WriteFile(dir.Path() / "publication" / "v2" / "remise_achat.xml", "<Quorvane/>");
    fs::create_directory_symlink("v2", dir.Path() / "publication" / "courante");
    fs::create_directory(dir.Path() / "source");
    fs::create_symlink(dir.Path() / "publication" / "courante" / "remise_achat.xml",
                       dir.Path() / "source" / "remise_achat.xml");
    fs::create_directory_symlink(dir.Path() / "source", dir.Path() / "raccourci");
    for (const char* folder : {"", "publication", "publication/v2", "source"}) {
        ::chmod((dir.Path() / folder).c_str(), 0755);
    }
    const fs::path link = dir.Path() / "raccourci" / "remise_achat.xml";
    EXPECT_EQ(ReadFileBytes(link).value_or(""), "<Quorvane/>");
    const WalkedPath walked = WalkPath(link, true);
    ASSERT_TRUE(walked.Valid());
    EXPECT_EQ(walked.Path, fs::canonical(link).string());
    // Not following the last entry: the caller replaces the link itself.
    EXPECT_EQ(WalkPath(link, false).Path,
              (fs::canonical(dir.Path() / "source") / "remise_achat.xml").string());
}

TEST(LinkRuleTest, ALinkOfSomeoneElseOrInAFolderOthersMayWriteIsNotFollowed) {
    TempDir dir;
    WriteFile(dir.Path() / "secret", "prive");
    fs::create_directories(dir.Path() / "partage" / "plus-loin");
    ::chmod((dir.Path() / "partage").c_str(), 02775);
    // As the last entry, and as a folder on the way.
    fs::create_symlink(dir.Path() / "secret", dir.Path() / "partage" / "fichier");
    fs::create_directory_symlink(dir.Path(), dir.Path() / "partage" / "dossier");
    EXPECT_FALSE(OpenFileToRead(dir.Path() / "partage" / "fichier").Valid());
    EXPECT_EQ(errno, ELOOP);
    EXPECT_FALSE(OpenFileToRead(dir.Path() / "partage" / "dossier" / "secret").Valid());
    EXPECT_FALSE(OpenFolder(dir.Path() / "partage" / "dossier").Valid());
    // The folder closed again, the links are followed; then one handed to someone else is not.
    ::chmod((dir.Path() / "partage").c_str(), 0755);
    EXPECT_TRUE(OpenFileToRead(dir.Path() / "partage" / "fichier").Valid());
    EXPECT_TRUE(OpenFolder(dir.Path() / "partage" / "dossier").Valid());
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown((dir.Path() / "partage" / "fichier").c_str(), Stranger(),
                           static_cast<gid_t>(-1)),
                  0);
        EXPECT_FALSE(OpenFileToRead(dir.Path() / "partage" / "fichier").Valid());
        ASSERT_EQ(::lchown((dir.Path() / "partage" / "fichier").c_str(), 0, static_cast<gid_t>(-1)),
                  0);
        ASSERT_EQ(::chown((dir.Path() / "partage").c_str(), Stranger(), static_cast<gid_t>(-1)), 0);
        EXPECT_FALSE(OpenFileToRead(dir.Path() / "partage" / "fichier").Valid());
    }
}

TEST(LinkRuleTest, OnlyRegularFilesAreReadAndNothingIsWaitedOn) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir.Path() / "tube").c_str(), 0600), 0);
    EXPECT_FALSE(OpenFileToRead(dir.Path() / "tube").Valid());
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(OpenFileToRead("/dev/zero").Valid());
    EXPECT_FALSE(OpenFileToRead(dir.Path()).Valid());
    EXPECT_EQ(errno, EISDIR);
    // A loop of trusted links ends.
    fs::create_symlink("b", dir.Path() / "a");
    fs::create_symlink("a", dir.Path() / "b");
    EXPECT_FALSE(OpenFileToRead(dir.Path() / "a").Valid());
    EXPECT_EQ(errno, ELOOP);
}

}  // namespace
}  // namespace quorvane::testing
