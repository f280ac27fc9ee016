// The writing and positioning half of TTable: records inserted, deleted, located and numbered.
#include <algorithm>
#include <utility>

#include "database/DbError.h"
#include "database/Table.h"

namespace quorvane {

std::string MaskKey(const std::vector<bool>& mask) {
    std::string key;
    for (const bool b : mask) {
        key += b ? '1' : '0';
    }
    return key;
}

void TTable::BeginRecord() {
    const int rc =
        sqlite3_step(Cached("S", [] { return std::string("SAVEPOINT quorvane_record"); }));
    if (rc != SQLITE_DONE) {
        ThrowSqliteError(db_.get(), rc, fileName_);
    }
}

void TTable::WriteRecord(sqlite3_stmt* stmt) {
    BeginRecord();
    const std::uint64_t changesBefore = rowsChanged_;
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) {
        FailRecord(rc);
    }
    CheckOwnChangesOnly(changesBefore);
}

void TTable::EndRecord() {
    const int rc = sqlite3_step(Cached("R", [] { return std::string("RELEASE quorvane_record"); }));
    if (rc != SQLITE_DONE) {
        FailRecord(rc);
    }
}

void TTable::FailRecord(int rc) {
    const std::string cause = DescribeSqliteError(db_.get(), rc, fileName_);
    const bool storage =
        IsStorageFailure(sqlite3_extended_errcode(db_.get())) || IsStorageFailure(rc);
    for (auto& [key, stmt] : statements_) {
        sqlite3_reset(stmt.get());
    }
    if (sqlite3_get_autocommit(db_.get()) != 0) {
        // SQLite undid the whole transaction (a disk error, a trigger asking for ROLLBACK):
        // the records written since Open are gone, and nothing may pretend otherwise.
        spanLost_ = cause;
        CheckSpan();
    }
    sqlite3_exec(db_.get(), "ROLLBACK TO quorvane_record; RELEASE quorvane_record", nullptr,
                 nullptr, nullptr);
    if (storage) {
        throw EDBStorageError(cause);
    }
    throw EDBEngineError(cause);
}

void TTable::Insert() {
    RequireWritable();
    if (!inserting_) {
        // Nothing reads the current record while inserting: it waits aside, whole, for Cancel.
        beforeInsert_ = std::move(current_);
        current_.reset();
        beforeInsertRowid_ = postedRowid_;
    }
    inserting_ = true;
    newValues_.assign(fields_.size(), TStoredValue{});
    assigned_.assign(fields_.size(), false);
}

void TTable::Cancel() {
    RequireOpen();
    if (!inserting_) {
        return;
    }
    inserting_ = false;
    current_ = std::move(beforeInsert_);
    postedRowid_ = beforeInsertRowid_;
    beforeInsert_.reset();
    beforeInsertRowid_.reset();
}

void TTable::Post() {
    RequireWritable();
    if (!inserting_) {
        throw EDBEngineError("La table " + fileName_ + " n'est pas en mode insertion");
    }
    sqlite3_stmt* insert =
        Cached("I" + MaskKey(assigned_), [&] { return schema_->InsertSql(assigned_); });
    for (std::size_t i = 0; i < newValues_.size(); ++i) {
        if (assigned_[i]) {
            // The new record's values stay as they are until the statement has run.
            BindValueInPlace(insert, static_cast<int>(i + 1), newValues_[i]);
        }
    }
    WriteRecord(insert);
    if (const int added = AddToLookups(sqlite3_last_insert_rowid(db_.get()));
        added != SQLITE_DONE) {
        FailRecord(added);
    }
    EndRecord();

    // The stored record becomes current, found again by its rowid or, without one, its key.
    inserting_ = false;
    beforeInsert_.reset();
    StartReadingAgain();
    beforeInsertRowid_.reset();
    current_.reset();
    if (!schema_->RowidExpression().empty()) {
        postedRowid_ = sqlite3_last_insert_rowid(db_.get());
    } else {
        Row key{newValues_};
        const std::size_t parts = schema_->KeyPositions().size();
        const auto mask = NullMask(key.values, parts);
        sqlite3_stmt* find = Cached("K" + MaskKey(mask), [&] {
            return schema_->SelectSql(schema_->KeyEqualsSql(mask), "1");
        });
        BindKey(find, key, parts);
        current_ = QueryOne(find);
    }
}

void TTable::Delete() {
    RequireWritable();
    RequireBrowsing();
    Materialize();
    if (!current_) {
        throw EDBEngineError("La table " + fileName_ + " n'a pas d'enregistrement courant");
    }
    const std::size_t parts = schema_->KeyPositions().size();
    const auto mask = NullMask(current_->values, parts);
    sqlite3_stmt* remove = Cached("D" + MaskKey(mask), [&] {
        return "DELETE FROM " + schema_->QuotedTable() + " WHERE " + schema_->KeyEqualsSql(mask);
    });
    BindKey(remove, *current_, parts);
    WriteRecord(remove);
    if (const int removed = RemoveFromLookups(*current_); removed != SQLITE_DONE) {
        FailRecord(removed);
    }
    EndRecord();

    deletedAt_ = std::move(current_);
    current_.reset();
    ahead_.clear();
    aheadPos_ = 0;
    batch_ = 1;
    followDeleted_ = true;
}

std::int64_t TTable::RecNo() {
    RequireOpen();
    if (!inserting_) {
        Materialize();
    }
    const Row* row = nullptr;
    Row pending;
    std::size_t parts = schema_->KeyPositions().size();
    if (inserting_) {
        const bool rowidKey =
            schema_->PrimaryKeyParts() == parts && !schema_->RowidExpression().empty();
        const auto& positions = schema_->KeyPositions();
        if (!schema_->HasPrimaryKey() ||
            (rowidKey && std::holds_alternative<std::monostate>(newValues_[positions[0]]))) {
            row = nullptr;  // insertion order, or a rowid still to come: after every record
        } else {
            pending.values = newValues_;
            pending.values.resize(schema_->SelectedCount());
            // A rowid still to come sorts after every record of an equal key.
            parts = schema_->PrimaryKeyParts();
            row = &pending;
        }
    } else if (current_) {
        row = &*current_;
    } else {
        return 0;
    }
    sqlite3_stmt* count = nullptr;
    if (row == nullptr) {
        count = Cached("C", [&] { return schema_->CountSql(""); });
    } else {
        const auto mask = NullMask(row->values, parts);
        count = Cached("B" + std::to_string(parts) + MaskKey(mask),
                       [&] { return schema_->CountSql(schema_->KeyBeforeSql(mask, parts)); });
        BindKey(count, *row, parts);
    }
    const int rc = sqlite3_step(count);
    const std::int64_t before = rc == SQLITE_ROW ? sqlite3_column_int64(count, 0) : 0;
    sqlite3_reset(count);
    if (rc != SQLITE_ROW) {
        ThrowSqliteError(db_.get(), rc, fileName_);
    }
    return before + 1;
}

}  // namespace quorvane
