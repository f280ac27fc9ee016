#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "database/DbError.h"
#include "database/NetDirLock.h"
#include "database/Session.h"
#include "database/Table.h"
#include "support/SqliteDirect.h"
#include "support/TempDir.h"

namespace quorvane::testing {
namespace {

class TableSpanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Session().Reset();
        Session().AddStandardAlias("OmbrelinAdministration", dir.Path().string(), "");
        Session().SetBusyTimeout(std::chrono::milliseconds(300));
        const SqliteHandle db = OpenSqlite(File());
        ExecSql(db.get(),
                "CREATE TABLE Message (Numero INTEGER PRIMARY KEY, Externe SHORT, "
                "Titre TEXT);"
                "WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s "
                "WHERE n < 200) INSERT INTO Message SELECT n, n % 2 * 5, 'm' || n FROM s;");
    }
    void TearDown() override { Session().Reset(); }
    std::filesystem::path File() const { return dir.Path() / "Message.DB"; }
    std::string Content() const {
        const SqliteHandle db = OpenSqlite(File());
        return One(db.get(), "SELECT count(*), sum(Numero), group_concat(Titre) FROM Message");
    }

    static void InsertTitles(TTable& table, int count) {
        for (int i = 0; i < count; ++i) {
            table.Insert();
            table.FieldByName("Externe").SetAsString("5");
            table.FieldByName("Titre").SetAsString("nouveau");
            table.Post();
        }
    }

    TempDir dir;
};

TEST_F(TableSpanTest, AProcessKilledMidSpanLeavesTheTableAsBefore) {
    const std::string before = Content();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        try {
            TTable table("OmbrelinAdministration", "Message.DB");
            table.Open();
            if (!table.Locate({FieldCondition::Equal("Externe", 5)})) {
                ::_exit(2);
            }
            do {
                table.Delete();
            } while (table.LocateNext({FieldCondition::Equal("Externe", 5)}));
            // More than the 64 MB page cache holds, so SQLite has already written pages into
            // the table file itself when the process dies.
            for (int i = 0; i < 70000; ++i) {
                table.Insert();
                table.FieldByName("Titre").SetAsString(std::string(1024, 'x'));
                table.Post();
            }
            const char byte = 'r';
            (void)!::write(ready[1], &byte, 1);
            ::pause();
        } catch (...) {
        }
        ::_exit(1);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "Message.DB-journal"));
    EXPECT_GT(std::filesystem::file_size(File()), 1'000'000u);

    // A reader comes first: it must still see the table as it was before the span.
    TTable reader("OmbrelinAdministration", "Message.DB");
    reader.Open(TOpenMode::ReadOnly);
    int readCount = 0;
    for (; !reader.Eof(); reader.Next()) {
        ++readCount;
    }
    reader.Close();
    EXPECT_EQ(readCount, 200);

    TTable table("OmbrelinAdministration", "Message.DB");
    table.Open();
    int count = 0;
    for (; !table.Eof(); table.Next()) {
        ++count;
    }
    table.Close();
    EXPECT_EQ(count, 200);
    EXPECT_EQ(Content(), before);
}

TEST_F(TableSpanTest, AnAbandonedSpanKeepsNothingAndAClosedOneEverything) {
    const std::string before = Content();
    {
        TTable table("OmbrelinAdministration", "Message.DB");
        table.Open();
        ASSERT_TRUE(table.Locate({FieldCondition::Equal("Numero", 7)}));
        table.Delete();
        InsertTitles(table, 2);
        table.Abandon();
        EXPECT_FALSE(table.Active());
    }
    EXPECT_EQ(Content(), before);
    {
        TTable table("OmbrelinAdministration", "Message.DB");
        table.Open();
        ASSERT_TRUE(table.Locate({FieldCondition::Equal("Numero", 7)}));
        table.Delete();
        InsertTitles(table, 2);
        // Destroyed while open: the span is kept, as Close would have kept it.
    }
    const SqliteHandle db = OpenSqlite(File());
    EXPECT_EQ(
        One(db.get(), "SELECT count(*), sum(Numero = 7), sum(Titre = 'nouveau') FROM Message"),
        "201|0|2");
}

TEST_F(TableSpanTest, ALockedFileIsWaitedForABoundedTimeThenRefused) {
    const SqliteHandle other = OpenSqlite(File());
    ExecSql(other.get(), "BEGIN IMMEDIATE; DELETE FROM Message WHERE Numero = 1;");
    TTable table("OmbrelinAdministration", "Message.DB");
    const auto start = std::chrono::steady_clock::now();
    try {
        table.Open();
        FAIL() << "opened a locked table";
    } catch (const EDBEngineError& e) {
        EXPECT_STREQ(e.what(), "La table Message.DB est verrouillée par une autre application");
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_FALSE(table.Active());
    ExecSql(other.get(), "ROLLBACK");
    table.Open();
    EXPECT_TRUE(table.Active());
    table.Close();
}

TEST_F(TableSpanTest, CloseRaisesWhenTheCommitFailsAndNothingIsKept) {
    const std::string before = Content();
    TTable table("OmbrelinAdministration", "Message.DB");
    table.Open();
    InsertTitles(table, 3);
    // A reader in the middle of its own transaction keeps the commit from taking the file.
    const SqliteHandle reader = OpenSqlite(File());
    ExecSql(reader.get(), "BEGIN; SELECT count(*) FROM Message;");
    try {
        table.Close();
        FAIL() << "Close reported a commit that did not happen";
    } catch (const EDBEngineError& e) {
        EXPECT_STREQ(e.what(),
                     "L'enregistrement des modifications de la table Message.DB a échoué : La "
                     "table Message.DB est verrouillée par une autre application");
    }
    EXPECT_FALSE(table.Active());
    ExecSql(reader.get(), "COMMIT");
    EXPECT_EQ(Content(), before);
}

TEST_F(TableSpanTest, ATransactionUndoneByTheTableIsReportedAtEveryStepAndAtClose) {
    {
        const SqliteHandle db = OpenSqlite(File());
        ExecSql(db.get(),
                "CREATE TRIGGER Message_annule BEFORE INSERT ON Message "
                "WHEN NEW.Titre = 'annule' BEGIN SELECT RAISE(ROLLBACK, 'tout annuler'); "
                "END;");
    }
    const std::string before = Content();
    TTable table("OmbrelinAdministration", "Message.DB");
    table.Open();
    InsertTitles(table, 2);
    table.Insert();
    table.FieldByName("Titre").SetAsString("annule");
    const std::string lost =
        "Les modifications de la table Message.DB depuis son ouverture ont été annulées : "
        "Enregistrement refusé par la table Message.DB : tout annuler";
    try {
        table.Post();
        FAIL();
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.what(), lost);
    }
    table.Cancel();
    EXPECT_THROW(InsertTitles(table, 1), EDBEngineError);
    try {
        table.Close();
        FAIL();
    } catch (const EDBEngineError& e) {
        EXPECT_EQ(e.what(), lost);
    }
    EXPECT_EQ(Content(), before);
}

TEST_F(TableSpanTest, WritersThroughTheSameNetDirTakeTurns) {
    TempDir netDir;
    Session().SetNetFileDir(netDir.Path().string());
    // Another process, as far as flock is concerned: its own open file description.
    TSession otherProcess;
    otherProcess.AddStandardAlias("OmbrelinAdministration", dir.Path().string(), "");
    otherProcess.SetNetFileDir(netDir.Path().string());
    otherProcess.SetBusyTimeout(std::chrono::milliseconds(200));

    TTable mine("OmbrelinAdministration", "Message.DB");
    mine.Open();
    // A second table of this process shares the turn instead of waiting for itself.
    const auto again = Session().AcquireWriteTurn("Perso.DB");
    EXPECT_NE(again, nullptr);
    EXPECT_TRUE(std::filesystem::exists(netDir.Path() / TNetDirLock::kFileName));
    TTable theirs("OmbrelinAdministration", "Message.DB", otherProcess);
    try {
        theirs.Open();
        FAIL();
    } catch (const EDBEngineError& e) {
        EXPECT_STREQ(e.what(), "La table Message.DB est verrouillée par une autre application");
    }
    // Reading needs no turn.
    theirs.Open(TOpenMode::ReadOnly);
    EXPECT_EQ(theirs.FieldByName("Titre").AsString(), "m1");
    theirs.Close();
    mine.Close();
    EXPECT_EQ(Session().AcquireWriteTurn("Message.DB"), again);  // still held by `again`
}

TEST_F(TableSpanTest, TheTurnIsReleasedWhenTheLastWriterCloses) {
    TempDir netDir;
    Session().SetNetFileDir(netDir.Path().string());
    TSession otherProcess;
    otherProcess.AddStandardAlias("OmbrelinAdministration", dir.Path().string(), "");
    otherProcess.SetNetFileDir(netDir.Path().string());
    otherProcess.SetBusyTimeout(std::chrono::milliseconds(200));
    {
        TTable mine("OmbrelinAdministration", "Message.DB");
        mine.Open();
        InsertTitles(mine, 1);
        mine.Close();
    }
    TTable theirs("OmbrelinAdministration", "Message.DB", otherProcess);
    theirs.Open();
    InsertTitles(theirs, 1);
    theirs.Close();
    const SqliteHandle db = OpenSqlite(File());
    EXPECT_EQ(One(db.get(), "SELECT count(*) FROM Message WHERE Titre = 'nouveau'"), "2");
}

}  // namespace
}  // namespace quorvane::testing
