#include "database/Table.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <utility>

#include "base/LinkRule.h"
#include "base/TextConversion.h"
#include "database/DbError.h"
#include "database/NetDirLock.h"
#include "database/Session.h"

namespace quorvane {

namespace {

constexpr std::size_t kMaxBatch = 256;

bool IsNullValue(const TStoredValue& v) {
    return std::holds_alternative<std::monostate>(v);
}

// The store's folders are named by the shared settings: a table is reached through trusted
// links only, and SQLite gets the path without them. Empty when no regular file lies there.
std::string TablePathWithoutLinks(const std::string& path) {
    const WalkedPath walked = WalkPath(path, true);
    struct stat info {};
    if (!walked.Valid() ||
        ::fstatat(walked.Folder.Get(), walked.Name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode)) {
        return {};
    }
    return walked.Path;
}

}  // namespace

// ---- TTable: life ---------------------------------------------------------------------------

TTable::TTable(std::string aliasName, std::string tableFileName)
    : TTable(std::move(aliasName), std::move(tableFileName), Session()) {}

TTable::TTable(std::string aliasName, std::string tableFileName, TSession& session)
    : alias_(std::move(aliasName)),
      fileName_(std::move(tableFileName)),
      sqlName_(std::filesystem::path(fileName_).stem().string()),
      session_(&session) {}

TTable::~TTable() {
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; callers that care call Close themselves.
    }
}

std::string TTable::DatabaseDirectory() const {
    return session_->AliasDirectory(alias_);
}

bool TTable::Exists() const {
    return !TablePathWithoutLinks((std::filesystem::path(DatabaseDirectory()) / fileName_).string())
                .empty();
}

void TTable::Open(TOpenMode mode) {
    if (Active()) {
        return;
    }
    const std::string directory = DatabaseDirectory();
    const std::string path =
        TablePathWithoutLinks((std::filesystem::path(directory) / fileName_).string());
    if (path.empty()) {
        throw EDBEngineError("La table " + fileName_ + " n'existe pas dans " + directory);
    }
    try {
        mode_ = mode;
        if (mode == TOpenMode::ReadWrite) {
            writeTurn_ = session_->AcquireWriteTurn(fileName_);
        }
        // Readers open the file for writing too, when they may: a process killed in the middle
        // of a span leaves a hot journal that only a writable connection can roll back, and a
        // read-only one would refuse the table until then. query_only keeps them from writing.
        sqlite3* raw = nullptr;
        // A connection is only ever used by the thread of its table: SQLite's own locking of it
        // would be paid on every call for nothing.
        // NOFOLLOW: a link put at the table's name since the walk is refused.
        const int rc = sqlite3_open_v2(
            path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
            nullptr);
        db_.reset(raw);
        if (rc != SQLITE_OK) {
            ThrowSqliteError(db_.get(), rc, fileName_);
        }
        // The file's identity, to tell at commit that the path still names it. The stat may meet
        // a file that replaced the one just opened; CheckSameFile then asks SQLite, which knows
        // the inode it holds.
        path_ = path;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            throw EDBStorageError("La table " + fileName_ +
                                  " a été supprimée par une autre application à son ouverture");
        }
        fileDevice_ = static_cast<std::uint64_t>(info.st_dev);
        fileInode_ = static_cast<std::uint64_t>(info.st_ino);
        CheckSameFile();
        sqlite3_extended_result_codes(db_.get(), 1);
        sqlite3_busy_timeout(db_.get(), static_cast<int>(session_->BusyTimeout().count()));
        if (mode == TOpenMode::ReadWrite && sqlite3_db_readonly(db_.get(), "main") == 1) {
            throw EDBEngineError("La table " + fileName_ + " est en lecture seule");
        }
        // 64 MB of page cache: the indexed locates of a large integration stay in memory.
        Execute(db_.get(), "PRAGMA cache_size = -65536", fileName_);
        Execute(db_.get(), "PRAGMA foreign_keys = ON", fileName_);
        if (session_->LeavesNoFiles()) {
            KeepChangesInMemory();
        }
        // Every row of this table written through the connection, by the layer or by the
        // table's triggers and cascades, so that the lookups know when they fell behind.
        sqlite3_update_hook(
            db_.get(),
            [](void* self, int, const char* database, const char* table, sqlite3_int64) {
                auto* owner = static_cast<TTable*>(self);
                if (std::strcmp(database, "main") == 0 &&
                    EqualsIgnoreAsciiCase(table, owner->sqlName_)) {
                    ++owner->rowsChanged_;
                }
            },
            this);
        if (mode == TOpenMode::ReadWrite) {
            Execute(db_.get(), "BEGIN IMMEDIATE", fileName_);
            // Waiting for the write lock is when a replacement is most likely to slip in.
            CheckSameFile();
        } else {
            Execute(db_.get(), "PRAGMA query_only = ON", fileName_);
        }
        schema_ = TTableSchema::Load(db_.get(), sqlName_, fileName_);
        const auto& columns = schema_->Columns();
        fields_.clear();
        fieldIndex_.clear();
        for (std::size_t i = 0; i < columns.size(); ++i) {
            fields_.push_back(TField(*this, i, columns[i]));
            fieldIndex_.emplace(columns[i].Name, i);
        }
        spanLost_.clear();
        First();
    } catch (...) {
        CloseConnection();
        throw;
    }
}

void TTable::Close() {
    if (!Active()) {
        return;
    }
    std::string failure;
    if (mode_ == TOpenMode::ReadWrite) {
        if (!spanLost_.empty()) {
            failure = "Les modifications de la table " + fileName_ +
                      " depuis son ouverture ont été annulées : " + spanLost_;
        } else {
            for (auto& [key, stmt] : statements_) {
                sqlite3_reset(stmt.get());
            }
            try {
                // Committed into a file the path no longer names, the work would be lost
                // without a word: the transaction is rolled back instead.
                CheckSameFile();
                const int rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
                if (rc != SQLITE_OK) {
                    failure = "L'enregistrement des modifications de la table " + fileName_ +
                              " a échoué : " + DescribeSqliteError(db_.get(), rc, fileName_);
                } else {
                    // Replaced between the check and the commit: the table at the path did not
                    // receive the changes either.
                    CheckSameFile();
                }
            } catch (const EDBStorageError& e) {
                failure = e.what();
            }
        }
    }
    CloseConnection();
    if (!failure.empty()) {
        throw EDBEngineError(failure);
    }
}

void TTable::KeepChangesInMemory() {
    // The rollback journal kept in memory and no page written to the file before a commit: a
    // dry run, which never commits, creates no journal file and leaves the table's file as it
    // was even if it is killed. A table already in WAL mode keeps it: changing it would write.
    const SqliteStmt query = Prepare(db_.get(), "PRAGMA journal_mode", fileName_);
    const unsigned char* mode =
        sqlite3_step(query.get()) == SQLITE_ROW ? sqlite3_column_text(query.get(), 0) : nullptr;
    if (mode == nullptr || !EqualsIgnoreAsciiCase(reinterpret_cast<const char*>(mode), "wal")) {
        Execute(db_.get(), "PRAGMA journal_mode = MEMORY", fileName_);
    }
    Execute(db_.get(), "PRAGMA cache_spill = OFF", fileName_);
}

void TTable::CloseConnection() noexcept {
    statements_.clear();
    if (db_ && sqlite3_get_autocommit(db_.get()) == 0) {
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    db_.reset();
    writeTurn_.reset();
    fields_.clear();
    fieldIndex_.clear();
    schema_.reset();
    current_.reset();
    postedRowid_.reset();
    beforeInsertRowid_.reset();
    deletedAt_.reset();
    followDeleted_ = false;
    ahead_.clear();
    aheadPos_ = 0;
    inserting_ = false;
    beforeInsert_.reset();
    lookups_.clear();  // their temporary tables went with the connection
    plans_.clear();
}

// ---- TTable: checks and helpers --------------------------------------------------------------

void TTable::CheckSameFile() const {
    RequireOpen();
    // SQLite compares the inode it holds with the path's; the device is compared here.
    int moved = 0;
    if (sqlite3_file_control(db_.get(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK) {
        moved = 0;
    }
    struct stat info {};
    if (moved != 0 || ::stat(path_.c_str(), &info) != 0 ||
        static_cast<std::uint64_t>(info.st_dev) != fileDevice_ ||
        static_cast<std::uint64_t>(info.st_ino) != fileInode_) {
        throw EDBStorageError("La table " + fileName_ +
                              " a été remplacée, déplacée ou supprimée par une autre application "
                              "depuis son ouverture");
    }
}

void TTable::RequireOpen() const {
    if (!Active()) {
        throw EDBEngineError("La table " + fileName_ + " n'est pas ouverte");
    }
}

void TTable::RequireWritable() const {
    RequireOpen();
    if (mode_ != TOpenMode::ReadWrite) {
        throw EDBEngineError("La table " + fileName_ + " est ouverte en lecture seule");
    }
    CheckSpan();
}

void TTable::RequireBrowsing() const {
    RequireOpen();
    if (inserting_) {
        throw EDBEngineError("La table " + fileName_ + " est en mode insertion");
    }
}

void TTable::CheckSpan() const {
    if (!spanLost_.empty()) {
        // Nothing written after this could be kept: the whole span has to be given up.
        throw EDBStorageError("Les modifications de la table " + fileName_ +
                              " depuis son ouverture ont été annulées : " + spanLost_);
    }
}

std::vector<bool> TTable::NullMask(const std::vector<TStoredValue>& values,
                                   std::size_t parts) const {
    std::vector<bool> mask(parts);
    const auto& positions = schema_->KeyPositions();
    for (std::size_t i = 0; i < parts; ++i) {
        mask[i] = IsNullValue(values[positions[i]]);
    }
    return mask;
}

void TTable::BindKey(sqlite3_stmt* stmt, const Row& row, std::size_t parts) const {
    const auto& positions = schema_->KeyPositions();
    for (std::size_t i = 0; i < parts; ++i) {
        BindValue(stmt, static_cast<int>(i + 1), row.values[positions[i]]);
    }
}

TTable::Row TTable::ReadRow(sqlite3_stmt* stmt) const {
    const std::size_t count = schema_->SelectedCount();
    Row row;
    row.values.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        row.values.push_back(ColumnValue(stmt, static_cast<int>(i)));
    }
    return row;
}

void TTable::FillBuffer(sqlite3_stmt* stmt) {
    ahead_.clear();
    aheadPos_ = 0;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        ahead_.push_back(ReadRow(stmt));
    }
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) {
        ThrowSqliteError(db_.get(), rc, fileName_);
    }
    exhausted_ = ahead_.size() < batch_;
    // Reads grow to full batches while a scan goes on; a write starts again from one record,
    // so locate-and-delete work does not read ahead records it will never visit.
    batch_ = std::min(batch_ * 2, kMaxBatch);
}

void TTable::FetchAfter(const Row& row) {
    const std::size_t parts = schema_->KeyPositions().size();
    const auto mask = NullMask(row.values, parts);
    sqlite3_stmt* stmt = Cached("A" + MaskKey(mask), [&] {
        return schema_->SelectSql(schema_->KeyAfterSql(mask), "?" + std::to_string(parts + 1));
    });
    BindKey(stmt, row, parts);
    sqlite3_bind_int64(stmt, static_cast<int>(parts + 1), static_cast<std::int64_t>(batch_));
    FillBuffer(stmt);
}

std::optional<TTable::Row> TTable::QueryOne(sqlite3_stmt* stmt) {
    const std::size_t keep = batch_;
    batch_ = 1;
    FillBuffer(stmt);
    batch_ = keep;
    std::optional<Row> row;
    if (!ahead_.empty()) {
        row = std::move(ahead_.front());
    }
    ahead_.clear();
    exhausted_ = false;
    return row;
}

void TTable::StartReadingAgain() noexcept {
    deletedAt_.reset();
    followDeleted_ = false;
    ahead_.clear();
    aheadPos_ = 0;
    exhausted_ = false;
    batch_ = 1;
}

void TTable::Materialize() {
    if (followDeleted_) {
        followDeleted_ = false;
        batch_ = 1;
        FetchAfter(*deletedAt_);
        if (!ahead_.empty()) {
            current_ = std::move(ahead_[0]);
            aheadPos_ = 1;
        }
        return;
    }
    if (!postedRowid_) {
        return;
    }
    sqlite3_stmt* find =
        Cached("P", [&] { return schema_->SelectSql(schema_->RowidExpression() + " = ?1", "1"); });
    sqlite3_bind_int64(find, 1, *postedRowid_);
    postedRowid_.reset();
    current_ = QueryOne(find);
}

// ---- TTable: moving --------------------------------------------------------------------------

void TTable::First() {
    RequireBrowsing();
    deletedAt_.reset();
    followDeleted_ = false;
    batch_ = 1;
    sqlite3_stmt* stmt = Cached("F", [&] { return schema_->SelectSql("", "?1"); });
    sqlite3_bind_int64(stmt, 1, static_cast<std::int64_t>(batch_));
    FillBuffer(stmt);
    current_.reset();
    postedRowid_.reset();
    if (!ahead_.empty()) {
        current_ = std::move(ahead_[0]);
        aheadPos_ = 1;
    }
}

void TTable::Next() {
    RequireBrowsing();
    Materialize();
    deletedAt_.reset();
    if (!current_) {
        return;
    }
    if (aheadPos_ >= ahead_.size()) {
        if (exhausted_) {
            current_.reset();
            return;
        }
        FetchAfter(*current_);
    }
    if (aheadPos_ < ahead_.size()) {
        current_ = std::move(ahead_[aheadPos_++]);
    } else {
        current_.reset();
    }
}

bool TTable::Eof() {
    RequireOpen();
    if (!inserting_ && followDeleted_) {
        Materialize();
    }
    return !inserting_ && !current_ && !postedRowid_;
}

TField& TTable::Fields(std::size_t index) {
    RequireOpen();
    if (index >= fields_.size()) {
        throw EDBEngineError("La table " + fileName_ + " n'a pas de champ à la position " +
                             std::to_string(index));
    }
    return fields_[index];
}

TField& TTable::FieldByName(std::string_view name) {
    RequireOpen();
    const auto found = fieldIndex_.find(std::string(name));
    if (found == fieldIndex_.end()) {
        throw EDBEngineError("Le champ " + std::string(name) + " n'existe pas dans la table " +
                             fileName_);
    }
    return fields_[found->second];
}

}  // namespace quorvane
