#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <vector>

#include "base/AtomicFile.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"

namespace quorvane::testing {
namespace {

std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicFileTest, FinalNameAppearsOnlyOnCommitAndTemporaryIsNamedAfterIt) {
    TempDir dir;
    const auto target = dir.Path() / "statut.json";
    WriteFile(target, "ancien");
    AtomicFile file(target);
    const std::string temporary = file.Path().filename().string();
    EXPECT_EQ(AtomicFileFinalName(temporary), std::optional<std::string_view>("statut.json"))
        << temporary;
    EXPECT_EQ(file.Path().parent_path(), dir.Path());
    file.Write("nouveau");
    EXPECT_EQ(ReadFile(target), "ancien");
    file.Commit();
    EXPECT_EQ(ReadFile(target), "nouveau");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"statut.json"});
}

TEST(AtomicFileTest, AbandonedOrForgottenFileLeavesTheFinalNameAsItWas) {
    TempDir dir;
    const auto target = dir.Path() / "remise_achat.xml";
    WriteFile(target, "ancien");
    {
        AtomicFile file(target);
        file.Write("moitié");
        file.Abandon();
        file.Abandon();
    }
    {
        AtomicFile file(target);
        file.Write("moitié");
    }
    EXPECT_EQ(ReadFile(target), "ancien");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"remise_achat.xml"});
}

TEST(AtomicFileTest, ReadOnlyFileOrFolderIsNotReplacedEvenByRoot) {
    TempDir dir;
    const auto target = dir.Path() / "QuorvaneClient.ini";
    WriteFile(target, "ancien");
    for (const auto& [marked, mode] : {std::pair{target, 0444}, std::pair{dir.Path(), 0555}}) {
        std::filesystem::permissions(marked, std::filesystem::perms(mode));
        std::optional<AtomicFileError> refused;
        try {
            AtomicFile file(target);
            file.RefuseReadOnlyTarget();
            file.Write("nouveau");
            file.Commit();
        } catch (const AtomicFileError& error) {
            refused = error;
        }
        std::filesystem::permissions(marked, std::filesystem::perms(mode | 0200));
        ASSERT_TRUE(refused.has_value()) << marked;
        EXPECT_EQ(refused->code().value(), EACCES);
        EXPECT_EQ(ReadFile(target), "ancien");
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"QuorvaneClient.ini"});
    }
}

TEST(AtomicFileTest, RefusedRenameTellsItsStepAndLeavesNoTemporary) {
    TempDir dir;
    const auto target = dir.Path() / "occupe";
    std::filesystem::create_directories(target / "dedans");
    AtomicFile file(target);
    file.Write("x");
    try {
        file.Commit();
        FAIL() << "a non-empty folder was replaced";
    } catch (const AtomicFileError& e) {
        EXPECT_EQ(e.step(), AtomicFileError::Step::Replace);
        EXPECT_EQ(e.path(), target);
        EXPECT_NE(e.code().value(), 0);
    }
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"occupe"});
}

TEST(AtomicFileTest, MissingFolderIsACreationFailure) {
    TempDir dir;
    try {
        AtomicFile file(dir.Path() / "absent" / "f");
        FAIL() << "created in a missing folder";
    } catch (const AtomicFileError& e) {
        EXPECT_EQ(e.step(), AtomicFileError::Step::Create);
        EXPECT_EQ(e.code().value(), ENOENT);
        EXPECT_EQ(e.path().parent_path(), dir.Path() / "absent");
    }
}

TEST(AtomicFileTest, LinkAtTheFinalNameIsReplacedNotFollowed) {
    TempDir dir;
    const auto outside = dir.Path() / "ailleurs";
    WriteFile(outside, "intact");
    const auto target = dir.Path() / "lien";
    std::filesystem::create_symlink(outside, target);
    AtomicFile file(target);
    file.Write("nouveau");
    file.Commit();
    EXPECT_FALSE(std::filesystem::is_symlink(target));
    EXPECT_EQ(ReadFile(target), "nouveau");
    EXPECT_EQ(ReadFile(outside), "intact");
}

TEST(AtomicFileTest, CreationModeIsNarrowedByTheUmaskButSetModeIsExact) {
    TempDir dir;
    const mode_t previous = ::umask(077);
    {
        AtomicFile file(dir.Path() / "a", 0666);
        file.Commit();
        AtomicFile exact(dir.Path() / "b", 0600);
        exact.SetMode(0644);
        exact.Commit();
    }
    ::umask(previous);
    struct stat a {};
    struct stat b {};
    ASSERT_EQ(::stat((dir.Path() / "a").c_str(), &a), 0);
    ASSERT_EQ(::stat((dir.Path() / "b").c_str(), &b), 0);
    EXPECT_EQ(a.st_mode & 0777, 0600u);
    EXPECT_EQ(b.st_mode & 0777, 0644u);
}

TEST(AtomicFileTest, FinalNameIsReadOnlyFromTheProgramsOwnTemporaryNames) {
    EXPECT_EQ(AtomicFileFinalName(".message.xml.partiel-Ab12Cd"),
              std::optional<std::string_view>("message.xml"));
    for (const char* other :
         {"message.xml.partiel-Ab12Cd", ".message.xml.partiel-Ab12C",
          ".message.xml.partiel-Ab12Cd7", ".message.xml.partiel-Ab-2Cd", ".message.xml.tmp", "."}) {
        EXPECT_FALSE(AtomicFileFinalName(other)) << other;
    }
}

}  // namespace
}  // namespace quorvane::testing
