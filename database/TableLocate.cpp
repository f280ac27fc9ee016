// The searching half of TTable: locates that give what reading the fields gives, through the
// indexes where the column's affinity makes SQL compare the same way, through a lookup built in
// one pass where it does not.
#include <charconv>
#include <cstring>
#include <system_error>
#include <utility>

#include "database/DbError.h"
#include "database/Table.h"

namespace quorvane {

namespace {

using Kind = FieldCondition::Kind;

bool ReadsEmpty(const TStoredValue& value) {
    if (std::holds_alternative<std::monostate>(value)) {
        return true;
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        return text->empty();
    }
    if (const auto* blob = std::get_if<TBlob>(&value)) {
        return blob->Bytes.empty();
    }
    return false;
}

// The number a stored value must hold to read as `text`, when one can: the text of a whole number
// or the shortest text of a double. Bound beside the text so that a column of any affinity finds
// a number stored there through its index.
TStoredValue NumberReadAs(std::string_view text) {
    if (const auto whole = ParseWholeNumber(text); whole && std::to_string(*whole) == text) {
        return *whole;
    }
    double real = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), real);
    if (ec == std::errc() && ptr == text.data() + text.size() && StoredValueToText(real) == text) {
        return real;
    }
    return std::string(text);
}

void AppendLength(std::string& key, std::size_t length) {
    char bytes[sizeof(std::uint32_t)];
    const auto value = static_cast<std::uint32_t>(length);
    std::memcpy(bytes, &value, sizeof bytes);
    key.append(bytes, sizeof bytes);
}

void AppendNumber(std::string& key, std::int64_t number) {
    char bytes[sizeof number];
    std::memcpy(bytes, &number, sizeof bytes);
    key.append(bytes, sizeof bytes);
}

}  // namespace

bool TTable::Locate(const std::vector<FieldCondition>& conditions) {
    RequireBrowsing();
    return LocateFrom(conditions, nullptr);
}

bool TTable::LocateNext(const std::vector<FieldCondition>& conditions) {
    RequireBrowsing();
    // LocateFrom reads the record it starts after before it changes either of them. After a
    // Delete it starts from the deleted key, so the record that followed need not be read.
    if (deletedAt_) {
        return LocateFrom(conditions, &*deletedAt_);
    }
    Materialize();
    if (!current_) {
        return false;
    }
    return LocateFrom(conditions, &*current_);
}

std::vector<TTable::Condition> TTable::Normalise(const std::vector<FieldCondition>& conditions) {
    std::vector<Condition> normalised;
    normalised.reserve(conditions.size());
    for (const auto& c : conditions) {
        const auto found = fieldIndex_.find(c.Field);
        if (found == fieldIndex_.end()) {
            FieldByName(c.Field);  // raises, naming the field the table does not have
        }
        Condition n;
        n.column = found->second;
        n.kind = c.Test == Kind::EqualText && c.Text.empty() ? Kind::Empty : c.Test;
        n.text = c.Text;
        n.number = c.Number;
        normalised.push_back(n);
    }
    return normalised;
}

std::string TTable::LookupKey(const Lookup& lookup, const Row& row) const {
    std::string key;
    for (const auto& part : lookup.shape) {
        const TStoredValue& value = row.values[part.column];
        if (part.kind == Kind::Empty) {
            key += ReadsEmpty(value) ? "E1" : "E0";
        } else if (part.kind == Kind::EqualText) {
            const std::string text = StoredValueToText(value);
            key += 'T';
            AppendLength(key, text.size());
            key += text;
        } else if (const auto whole = StoredValueToWholeNumber(value)) {
            key += 'I';
            AppendNumber(key, *whole);
        } else {
            key += 'X';  // reads as no whole number: equal to none
        }
    }
    return key;
}

const TTable::Lookup& TTable::LookupFor(const std::vector<Condition>& conditions) {
    std::string signature;
    for (const auto& c : conditions) {
        signature += std::to_string(c.column) + static_cast<char>('a' + static_cast<int>(c.kind));
    }
    for (auto& lookup : lookups_) {
        if (lookup.signature == signature) {
            if (lookup.stale) {
                Execute(db_.get(), ("DELETE FROM temp." + QuoteIdentifier(lookup.name)).c_str(),
                        fileName_);
                FillLookup(lookup);
                lookup.stale = false;
            }
            return lookup;
        }
    }
    Lookup lookup;
    lookup.signature = signature;
    lookup.name = "quorvane_lookup_" + std::to_string(lookupsMade_++);
    for (const auto& c : conditions) {
        Condition part;
        part.column = c.column;
        part.kind = c.kind;
        lookup.shape.push_back(part);
    }
    const std::string quoted = QuoteIdentifier(lookup.name);
    Execute(db_.get(),
            ("CREATE TEMP TABLE " + quoted + " (rid INTEGER PRIMARY KEY, k BLOB NOT NULL)").c_str(),
            fileName_);
    Execute(db_.get(),
            ("CREATE INDEX temp." + QuoteIdentifier(lookup.name + "_k") + " ON " + quoted + " (k)")
                .c_str(),
            fileName_);
    FillLookup(lookup);
    lookups_.push_back(std::move(lookup));
    return lookups_.back();
}

void TTable::FillLookup(const Lookup& lookup) {
    const std::string quoted = QuoteIdentifier(lookup.name);
    const SqliteStmt add =
        Prepare(db_.get(), "INSERT INTO temp." + quoted + " (rid, k) VALUES (?1, ?2)", fileName_);
    const SqliteStmt all = Prepare(db_.get(), schema_->SelectSql("", ""), fileName_);
    const std::size_t rowidPosition = schema_->KeyPositions().back();
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(all.get())) == SQLITE_ROW) {
        const Row row = ReadRow(all.get());
        const std::string key = LookupKey(lookup, row);
        sqlite3_bind_int64(add.get(), 1, std::get<std::int64_t>(row.values[rowidPosition]));
        sqlite3_bind_blob(add.get(), 2, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        const int added = sqlite3_step(add.get());
        sqlite3_reset(add.get());
        if (added != SQLITE_DONE) {
            ThrowSqliteError(db_.get(), added, fileName_);
        }
    }
    if (rc != SQLITE_DONE) {
        ThrowSqliteError(db_.get(), rc, fileName_);
    }
}

void TTable::CheckOwnChangesOnly(std::uint64_t changesBefore) {
    if (rowsChanged_ - changesBefore == 1) {
        return;
    }
    for (auto& lookup : lookups_) {
        lookup.stale = true;
    }
}

int TTable::AddToLookups(std::int64_t rowid) {
    if (lookups_.empty()) {
        return SQLITE_DONE;
    }
    // Read back as stored: defaults and the column's own conversions are part of the reading.
    sqlite3_stmt* find =
        Cached("LP", [&] { return schema_->SelectSql(schema_->RowidExpression() + " = ?1", "1"); });
    sqlite3_bind_int64(find, 1, rowid);
    int rc = sqlite3_step(find);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(find);
        return rc == SQLITE_DONE ? SQLITE_ERROR : rc;
    }
    const Row row = ReadRow(find);
    sqlite3_reset(find);
    for (const auto& lookup : lookups_) {
        if (lookup.stale) {
            continue;
        }
        const std::string key = LookupKey(lookup, row);
        sqlite3_stmt* add = Cached("LA" + lookup.name, [&] {
            return "INSERT INTO temp." + QuoteIdentifier(lookup.name) + " (rid, k) VALUES (?1, ?2)";
        });
        sqlite3_bind_int64(add, 1, rowid);
        sqlite3_bind_blob(add, 2, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        rc = sqlite3_step(add);
        sqlite3_reset(add);
        if (rc != SQLITE_DONE) {
            return rc;
        }
    }
    return SQLITE_DONE;
}

int TTable::RemoveFromLookups(const Row& row) {
    if (lookups_.empty()) {
        return SQLITE_DONE;
    }
    const auto rowid = std::get<std::int64_t>(row.values[schema_->KeyPositions().back()]);
    for (const auto& lookup : lookups_) {
        if (lookup.stale) {
            continue;
        }
        sqlite3_stmt* remove = Cached("LD" + lookup.name, [&] {
            return "DELETE FROM temp." + QuoteIdentifier(lookup.name) + " WHERE rid = ?1";
        });
        sqlite3_bind_int64(remove, 1, rowid);
        const int rc = sqlite3_step(remove);
        sqlite3_reset(remove);
        if (rc != SQLITE_DONE) {
            return rc;
        }
    }
    return SQLITE_DONE;
}

const TTable::LocatePlan& TTable::PlanFor(const std::vector<Condition>& conditions,
                                          const std::string& signature) {
    if (const auto found = plans_.find(signature); found != plans_.end()) {
        return found->second;
    }
    const auto& columns = schema_->Columns();
    const std::size_t parts = schema_->KeyPositions().size();
    using BindFrom = LocatePlan::BindFrom;
    LocatePlan plan;
    const auto bind = [&](std::size_t condition, BindFrom from) {
        plan.binds.emplace_back(condition, from);
        return "?" + std::to_string(parts + plan.binds.size());
    };
    bool needsLookup = false;
    for (std::size_t i = 0; i < conditions.size(); ++i) {
        const Condition& c = conditions[i];
        const std::string column = QuoteIdentifier(columns[c.column].Name);
        const TAffinity affinity = columns[c.column].Type.Affinity;
        const bool numericAffinity = affinity == TAffinity::Integer ||
                                     affinity == TAffinity::Numeric || affinity == TAffinity::Real;
        LocatePlan::Term term;
        bool exact = true;
        if (c.kind == Kind::Empty) {
            // Binary: a collation that ignores trailing blanks would take "  " for empty.
            term.sql = "(" + column + " IS NULL OR " + column + " = '' COLLATE BINARY)";
        } else if (c.kind == Kind::EqualText) {
            if (affinity == TAffinity::Text) {
                // Every value such a column holds is a text: SQL compares exactly, letter case
                // included whatever collation the column has.
                term.sql = column + " = " + bind(i, BindFrom::Text) + " COLLATE BINARY";
                term.pins = true;
            } else {
                // A number stored there reads as its text: "7" finds the 7, and "007" finds it
                // too in SQL (NUMERIC affinity makes a number of it), which the reading refuses.
                const std::string asText = bind(i, BindFrom::Text);
                term.sql = column + " IN (" + asText + ", " + bind(i, BindFrom::NumberOfText) + ")";
                exact = false;
            }
        } else if (numericAffinity) {
            // Texts kept by such a column never read as whole numbers, but for the empty one.
            const std::string number = bind(i, BindFrom::Number);
            term.sql = c.number == 0 ? "(" + column + " = " + number + " OR " + column +
                                           " IS NULL OR " + column + " = '' COLLATE BINARY)"
                                     : column + " = " + number;
            term.pins = c.number != 0;
        } else {
            // '05', ' 5' and '+5' in a TEXT column all read as 5: no SQL comparison says so.
            exact = false;
            term.inSql = false;
            needsLookup = true;
        }
        term.exact = exact;
        plan.allExact = plan.allExact && exact;
        plan.terms.push_back(std::move(term));
    }
    plan.useLookup =
        needsLookup && mode_ == TOpenMode::ReadWrite && !schema_->RowidExpression().empty();
    return plans_.emplace(signature, std::move(plan)).first->second;
}

bool TTable::LocateFrom(const std::vector<FieldCondition>& given, const Row* after) {
    const std::vector<Condition> conditions = Normalise(given);
    const auto& columns = schema_->Columns();
    const auto& positions = schema_->KeyPositions();
    const std::size_t parts = positions.size();

    // What decides the SQL: the conditions' fields and kinds, and whether a number is zero.
    std::string signature;
    for (const auto& c : conditions) {
        AppendLength(signature, c.column);
        signature += static_cast<char>('a' + static_cast<int>(c.kind));
        signature += c.kind == Kind::EqualInteger && c.number == 0 ? '0' : '-';
    }
    const LocatePlan& plan = PlanFor(conditions, signature);
    const auto& terms = plan.terms;
    const bool useLookup = plan.useLookup;
    bool allExact = plan.allExact;

    std::vector<bool> mask;
    std::size_t fixed = 0;
    if (after != nullptr) {
        mask = NullMask(after->values, parts);
        // Leading key parts the conditions hold to `after`'s own values need no "greater than"
        // of their own; leaving them out keeps SQLite on the key's index (with them, it may
        // prefer another index that the equalities also fit, and sort).
        for (; !useLookup && fixed + 1 < parts; ++fixed) {
            const std::size_t position = positions[fixed];
            if (position >= columns.size()) {
                break;
            }
            const TStoredValue& value = after->values[position];
            bool held = false;
            for (std::size_t i = 0; i < conditions.size() && !held; ++i) {
                if (!terms[i].pins || conditions[i].column != position) {
                    continue;
                }
                if (conditions[i].kind == Kind::EqualText) {
                    const auto* text = std::get_if<std::string>(&value);
                    held = text != nullptr && *text == conditions[i].text;
                } else {
                    const auto* number = std::get_if<std::int64_t>(&value);
                    held = number != nullptr && *number == conditions[i].number;
                }
            }
            if (!held) {
                break;
            }
        }
    }

    // The statement differs by where the search starts too: nowhere, or after a key of this
    // NULL pattern with this many leading parts held by the conditions.
    std::string statementKey = "L" + signature;
    if (after != nullptr) {
        statementKey += 'A';
        AppendNumber(statementKey, static_cast<std::int64_t>(fixed));
        statementKey += MaskKey(mask);
    }
    const Lookup* lookup = useLookup ? &LookupFor(conditions) : nullptr;
    if (lookup != nullptr) {
        statementKey += lookup->name;
        allExact = true;
    }
    // Going on from a record with a lookup, the term values come first and the lookup's key
    // after them; otherwise the key is the only value besides the starting record's.
    const bool walkWithLookup = lookup != nullptr && after != nullptr;
    const int firstBind = static_cast<int>(parts) + 1;
    const int keyBind = firstBind + (walkWithLookup ? static_cast<int>(plan.binds.size()) : 0);
    sqlite3_stmt* stmt = Cached(statementKey, [&] {
        std::string where = after != nullptr ? schema_->KeyAfterSql(mask, fixed) : std::string();
        if (lookup != nullptr && after == nullptr) {
            where += (where.empty() ? "" : " AND ") + schema_->RowidExpression() +
                     " IN (SELECT rid FROM temp." + QuoteIdentifier(lookup->name) + " WHERE k = ?" +
                     std::to_string(keyBind) + ")";
        } else if (lookup != nullptr) {
            // Going on from a record: walk the table in its order and ask the lookup about each
            // record, rather than gather every match again only to keep the first one after it
            // (which made a scan through all the matches take a time of their count squared).
            // The conditions SQL compares exactly may narrow the walk through an index.
            for (const auto& term : terms) {
                if (term.inSql && term.exact) {
                    where += (where.empty() ? "" : " AND ") + term.sql;
                }
            }
            where += (where.empty() ? "" : " AND ") + std::string("EXISTS (SELECT 1 FROM temp.") +
                     QuoteIdentifier(lookup->name) + " WHERE rid = " + schema_->QuotedTable() +
                     "." + schema_->RowidExpression() + " AND k = ?" + std::to_string(keyBind) +
                     ")";
        } else {
            for (const auto& term : terms) {
                if (term.inSql) {
                    where += (where.empty() ? "" : " AND ") + term.sql;
                }
            }
        }
        return schema_->SelectSql(where, allExact ? "1" : "");
    });
    if (after != nullptr) {
        BindKey(stmt, *after, parts);
    }
    if (lookup != nullptr) {
        std::string key;
        for (const auto& c : conditions) {
            if (c.kind == Kind::Empty) {
                key += "E1";
            } else if (c.kind == Kind::EqualText) {
                key += 'T';
                AppendLength(key, c.text.size());
                key += c.text;
            } else {
                key += 'I';
                AppendNumber(key, c.number);
            }
        }
        sqlite3_bind_blob(stmt, keyBind, key.data(), static_cast<int>(key.size()),
                          SQLITE_TRANSIENT);
    }
    if (lookup == nullptr || walkWithLookup) {
        int index = firstBind;
        for (const auto& [condition, from] : plan.binds) {
            const Condition& c = conditions[condition];
            if (from == LocatePlan::BindFrom::Text) {
                // The caller's conditions outlive the search.
                sqlite3_bind_text(stmt, index, c.text.data(), static_cast<int>(c.text.size()),
                                  SQLITE_STATIC);
            } else if (from == LocatePlan::BindFrom::NumberOfText) {
                BindValue(stmt, index, NumberReadAs(c.text));
            } else {
                sqlite3_bind_int64(stmt, index, c.number);
            }
            ++index;
        }
    }

    const auto readsAsAsked = [&](const Row& row) {
        for (const auto& c : conditions) {
            const TStoredValue& value = row.values[c.column];
            if (c.kind == Kind::Empty) {
                if (!ReadsEmpty(value)) {
                    return false;
                }
            } else if (c.kind == Kind::EqualText) {
                if (StoredValueToText(value) != c.text) {
                    return false;
                }
            } else if (StoredValueToWholeNumber(value) != c.number) {
                return false;
            }
        }
        return true;
    };
    std::optional<Row> found;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        Row row = ReadRow(stmt);
        if (allExact || readsAsAsked(row)) {
            found = std::move(row);
            break;
        }
    }
    sqlite3_reset(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        ThrowSqliteError(db_.get(), rc, fileName_);
    }
    if (!found) {
        return false;
    }
    current_ = std::move(found);
    postedRowid_.reset();
    StartReadingAgain();
    return true;
}

}  // namespace quorvane
