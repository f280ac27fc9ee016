#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "base/SharedFolder.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "sync/RunLock.h"

namespace quorvane::testing {
namespace {

// Each Take opens the lock file anew, so two in one process stand for two runs.
TEST(RunLockTest, OneRunAtATimeOnAFileOfTheFolderThatTheNextRunTakesOver) {
    TempDir dir;
    const auto lockFile = dir.Path() / kFichierVerrou;
    std::optional<RunLock> first = RunLock::Take(dir.Folder());
    EXPECT_EQ(first->State(), RunLock::Result::Held);
    EXPECT_TRUE(RunLock::Take(dir.Folder()).HeldByAnotherRun());
    struct stat info {};
    ASSERT_EQ(::lstat(lockFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);  // a private folder: the owner's only
    first.reset();
    EXPECT_EQ(RunLock::Take(dir.Folder()).State(), RunLock::Result::Held);
}

TEST(RunLockTest, WhatStandsAtTheLocksNameIsReplacedNotFollowed) {
    TempDir dir;
    const auto lockFile = dir.Path() / kFichierVerrou;
    WriteFile(dir.Path() / "autre", "intact");
    std::filesystem::create_symlink(dir.Path() / "ailleurs", lockFile);
    EXPECT_EQ(RunLock::Take(dir.Folder()).State(), RunLock::Result::Held);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "ailleurs"));
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(lockFile)));

    std::filesystem::remove(lockFile);
    std::filesystem::create_hard_link(dir.Path() / "autre", lockFile);
    const RunLock held = RunLock::Take(dir.Folder());
    EXPECT_EQ(held.State(), RunLock::Result::Held);
    EXPECT_EQ(std::filesystem::hard_link_count(dir.Path() / "autre"), 1u);
    EXPECT_EQ(ReadFile(dir.Path() / "autre"), "intact");
}

TEST(SharedFolderTest, ALinkIsFollowedInAPrivateFolderOnly) {
    TempDir dir;
    WriteFile(dir.Path() / "fichier", "contenu");
    std::filesystem::create_directory(dir.Path() / "prive");
    std::filesystem::create_symlink(dir.Path() / "fichier", dir.Path() / "prive" / "lien");
    ::chmod((dir.Path() / "prive").c_str(), 0700);
    EXPECT_FALSE(WritableByOthers(dir.Path() / "prive"));
    EXPECT_TRUE(OpenFileToRead(dir.Path() / "prive" / "lien").Valid());
    ::chmod((dir.Path() / "prive").c_str(), 02775);
    EXPECT_TRUE(WritableByOthers(dir.Path() / "prive"));
    EXPECT_FALSE(OpenFileToRead(dir.Path() / "prive" / "lien").Valid());
    EXPECT_TRUE(OpenFileToRead(dir.Path() / "fichier").Valid());
    // A pipe is no file to read, and no reader waits on it.
    ASSERT_EQ(::mkfifo((dir.Path() / "tube").c_str(), 0600), 0);
    EXPECT_FALSE(OpenFileToRead(dir.Path() / "tube").Valid());
}

}  // namespace
}  // namespace quorvane::testing
