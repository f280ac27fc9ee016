#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "database/FieldConversion.h"
#include "database/SqliteSupport.h"
#include "database/TableSchema.h"

namespace quorvane {

class TSession;
class TTable;
class TNetDirLock;

// "0"/"1" per key part, to tell apart the cached statements of each NULL pattern.
std::string MaskKey(const std::vector<bool>& mask);

// One field of an open table. It reads the current record (or the new record being inserted)
// and is assigned on the new record only.
class TField {
  public:
    const std::string& FieldName() const { return column_->Name; }
    TFieldType DataType() const { return column_->Type.Kind.Type; }
    const TFieldKind& Kind() const { return column_->Type.Kind; }
    const std::string& DeclaredType() const { return column_->Type.Declared; }
    TAffinity Affinity() const { return column_->Type.Affinity; }

    bool IsNull() const;
    // NULL reads as the empty text, numbers in plain decimal form.
    std::string AsString() const;
    // NULL reads as 0; raises EDBEngineError when the value is not a whole number of 32 bits.
    std::int32_t AsInteger() const;
    std::int64_t AsLargeInt() const;

    // The text is converted to the field's kind (FieldConversion.h); raises when it does not fit,
    // and when the column would not keep the converted value exactly (DeclaredType.h).
    void SetAsString(std::string_view text);
    // A money value in ten-thousandths.
    void SetAsMoney(std::int64_t tenThousandths);
    void Clear();

  private:
    friend class TTable;
    TField(TTable& table, std::size_t index, const TColumnInfo& column)
        : table_(&table), index_(index), column_(&column) {}
    const TStoredValue& Value() const;

    TTable* table_;
    std::size_t index_;
    const TColumnInfo* column_;
};

// One condition of a locate: a field equal to a text or a whole number, or empty. The conditions
// match what reading the field gives, whatever the column's declared type: a text compares its
// exact text, a whole number the field's value read as a whole number ('05' in a TEXT column
// equals 5); NULL reads as the empty text and as the number 0.
struct FieldCondition {
    enum class Kind { EqualText, EqualInteger, Empty };
    std::string Field;
    Kind Test = Kind::Empty;
    std::string Text;
    std::int64_t Number = 0;

    static FieldCondition Equal(std::string field, std::string text);
    static FieldCondition Equal(std::string field, std::int64_t number);
    static FieldCondition Empty(std::string field);
};

enum class TOpenMode { ReadWrite, ReadOnly };

// A table file of an alias's directory, read in table order (primary key order, else insertion
// order). Between Open and Close in ReadWrite mode every write is part of one transaction, each
// record operation in a savepoint of its own: a refused record is undone alone, and Close commits
// the rest (raising when the commit fails). Every refusal raises EDBEngineError.
class TTable {
  public:
    TTable(std::string aliasName, std::string tableFileName);
    TTable(std::string aliasName, std::string tableFileName, TSession& session);
    ~TTable();
    TTable(const TTable&) = delete;
    TTable& operator=(const TTable&) = delete;

    const std::string& TableName() const { return fileName_; }
    std::string DatabaseDirectory() const;
    bool Exists() const;

    void Open(TOpenMode mode = TOpenMode::ReadWrite);
    // In ReadWrite mode, commits; the commit is refused (everything undone) when the table's
    // path no longer names the file that was written (see CheckSameFile).
    void Close();
    // Raises EDBStorageError when the table's path no longer names the file this open table
    // reads and writes: another application replaced it by a rename, moved or removed it since
    // Open. What was read came from a file nobody else will read, and what is written would go
    // nowhere anyone looks.
    void CheckSameFile() const;
    // Closes without committing: every write since Open is undone.
    void Abandon() noexcept { CloseConnection(); }
    bool Active() const { return db_ != nullptr; }
    void CancelRange() {}  // no range is ever set through this layer

    void First();
    void Next();
    // Not const: right after a Delete it may have to read which record became current.
    bool Eof();
    bool Locate(const std::vector<FieldCondition>& conditions);
    // Goes on after the current record; right after a Delete, the record that became current is
    // still to be looked at, so the search starts with it.
    bool LocateNext(const std::vector<FieldCondition>& conditions);

    std::size_t FieldCount() const { return fields_.size(); }
    TField& Fields(std::size_t index);
    TField& FieldByName(std::string_view name);

    // A new empty record becomes current (a pending one that was never stored is abandoned).
    void Insert();
    void Post();
    void Cancel();
    bool Inserting() const { return inserting_; }
    // Removes the current record; the following one becomes current.
    void Delete();

    // 1-based position of the current record in table order; while inserting, the position the
    // new record would take; 0 when there is no current record.
    std::int64_t RecNo();

  private:
    friend class TField;
    struct Row {
        std::vector<TStoredValue> values;  // every selected column, key included
    };

    void RequireOpen() const;
    void RequireWritable() const;
    void RequireBrowsing() const;
    // The statement cached under `key`, reset and unbound; `makeSql` writes its SQL the first
    // time only, so that a record's work does not rebuild the text of statements it reuses.
    template <typename MakeSql>
    sqlite3_stmt* Cached(const std::string& key, MakeSql&& makeSql) {
        auto found = statements_.find(key);
        if (found == statements_.end()) {
            found = statements_.emplace(key, Prepare(db_.get(), makeSql(), fileName_)).first;
        }
        sqlite3_stmt* stmt = found->second.get();
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        return stmt;
    }
    std::vector<bool> NullMask(const std::vector<TStoredValue>& values, std::size_t parts) const;
    void BindKey(sqlite3_stmt* stmt, const Row& row, std::size_t parts) const;
    // The row `stmt` stands on, every selected column read as stored.
    Row ReadRow(sqlite3_stmt* stmt) const;
    // Fetches up to `limit` rows of `stmt` (already bound) into the read-ahead buffer.
    void FillBuffer(sqlite3_stmt* stmt);
    void FetchAfter(const Row& row);
    std::optional<Row> QueryOne(sqlite3_stmt* stmt);
    // After a record was made current by other means than moving: nothing read ahead stands,
    // no deleted record is followed, and reading starts again from one record.
    void StartReadingAgain() noexcept;
    // A condition as the locate works with it: its column, and an empty text asked for as Empty.
    struct Condition {
        std::size_t column = 0;
        FieldCondition::Kind kind = FieldCondition::Kind::Empty;
        std::string_view text;
        std::int64_t number = 0;
    };
    // The records by what their fields read as, for conditions whose SQL comparison differs
    // from the reading (a whole number in a TEXT column): a temporary table of the connection,
    // filled in one pass and kept up to date by Post and Delete.
    struct Lookup {
        std::string signature;  // the conditions' columns and kinds
        std::string name;
        std::vector<Condition> shape;
        // Something besides the layer's own record changed the table (a trigger, a cascade):
        // the lookup is filled again before it is used.
        bool stale = false;
    };

    // How a set of conditions reads in SQL, the same for every locate of the same fields, kinds
    // and zero-or-not numbers: the terms' SQL and where each bound value comes from.
    struct LocatePlan {
        enum class BindFrom { Text, NumberOfText, Number };
        struct Term {
            std::string sql;
            bool pins = false;  // SQL holds the column to the one stored value it compares with
            bool inSql = true;  // false: the reading alone can tell (through a lookup or a check)
            bool exact = true;  // SQL selects exactly the records whose reading matches
        };
        std::vector<Term> terms;                              // one per condition
        std::vector<std::pair<std::size_t, BindFrom>> binds;  // (condition, source), in order
        bool allExact = true;  // SQL selects exactly the records whose reading matches
        bool useLookup = false;
    };

    std::vector<Condition> Normalise(const std::vector<FieldCondition>& conditions);
    const LocatePlan& PlanFor(const std::vector<Condition>& conditions,
                              const std::string& signature);
    bool LocateFrom(const std::vector<FieldCondition>& conditions, const Row* after);
    const Lookup& LookupFor(const std::vector<Condition>& conditions);
    void FillLookup(const Lookup& lookup);
    // After a Post or a Delete: more rows of this table changed than the one record means
    // triggers or cascades wrote to it too, which the lookups cannot follow record by record.
    void CheckOwnChangesOnly(std::uint64_t changesBefore);
    std::string LookupKey(const Lookup& lookup, const Row& row) const;
    // Inside the record's savepoint; an SQLite result code, SQLITE_DONE when all went well.
    int AddToLookups(std::int64_t rowid);
    int RemoveFromLookups(const Row& row);
    void BeginRecord();
    // Opens the record's savepoint and runs `stmt` (already bound) inside it; the record's own
    // work on the lookups, then EndRecord, follow.
    void WriteRecord(sqlite3_stmt* stmt);
    void EndRecord();
    void FailRecord(int rc);
    void CheckSpan() const;
    void KeepChangesInMemory();
    void CloseConnection() noexcept;
    void Materialize();

    std::string alias_;
    std::string fileName_;
    std::string path_;  // of the open file, as it was opened
    // The device and inode of the file the connection opened.
    std::uint64_t fileDevice_ = 0;
    std::uint64_t fileInode_ = 0;
    std::string sqlName_;
    TSession* session_;

    SqliteDb db_;
    TOpenMode mode_ = TOpenMode::ReadWrite;
    std::shared_ptr<TNetDirLock> writeTurn_;
    std::optional<TTableSchema> schema_;
    std::vector<TField> fields_;
    std::unordered_map<std::string, std::size_t> fieldIndex_;
    std::unordered_map<std::string, SqliteStmt> statements_;

    std::optional<Row> current_;
    // Right after a Post the current record is known by its rowid only; it is read when someone
    // looks at it, so that a run of insertions does not read back every record it writes.
    std::optional<std::int64_t> postedRowid_;
    std::optional<std::int64_t> beforeInsertRowid_;
    std::optional<Row> deletedAt_;  // the record a Delete removed, where LocateNext goes on
    // After a Delete the record that followed it is current, but it is read only when someone
    // looks at it: a purge goes on with LocateNext from the deleted key, and a replacement
    // inserts next, neither of which needs it.
    bool followDeleted_ = false;
    std::vector<Row> ahead_;  // read-ahead of the records after the current one, in order
    std::size_t aheadPos_ = 0;
    std::size_t batch_ = 1;
    bool exhausted_ = false;  // nothing after the last buffered record

    bool inserting_ = false;
    std::vector<TStoredValue> newValues_;
    std::vector<bool> assigned_;
    std::optional<Row> beforeInsert_;
    std::string spanLost_;  // why the open transaction was lost, when it was
    std::vector<Lookup> lookups_;
    std::unordered_map<std::string, LocatePlan> plans_;  // by the conditions' signature
    std::size_t lookupsMade_ = 0;                        // keeps the temporary tables' names unique
    std::uint64_t rowsChanged_ = 0;  // rows of this table written, triggers' writes included
};

}  // namespace quorvane
