#include "database/SqliteSupport.h"

#include "database/DbError.h"

namespace quorvane {

namespace {

// The part of SQLite's message after its fixed English lead, e.g. "T.col" of
// "NOT NULL constraint failed: T.col".
std::string AfterColon(const std::string& message) {
    const auto colon = message.find(": ");
    return colon == std::string::npos ? message : message.substr(colon + 2);
}

std::string ColumnOf(const std::string& qualified) {
    const auto dot = qualified.find('.');
    return dot == std::string::npos ? qualified : qualified.substr(dot + 1);
}

}  // namespace

std::string QuoteIdentifier(std::string_view name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string DescribeSqliteError(sqlite3* db, int rc, const std::string& tableName) {
    const int extended = db != nullptr ? sqlite3_extended_errcode(db) : rc;
    const std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    switch (extended) {
        case SQLITE_CONSTRAINT_PRIMARYKEY:
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_ROWID:
            return "Violation de clé";
        case SQLITE_CONSTRAINT_NOTNULL:
            return "Le champ " + ColumnOf(AfterColon(message)) + " doit avoir une valeur";
        case SQLITE_CONSTRAINT_CHECK:
            return "Valeur refusée par une contrainte de validité de la table " + tableName +
                   " : " + AfterColon(message);
        case SQLITE_CONSTRAINT_FOREIGNKEY:
            return "Violation d'intégrité référentielle dans la table " + tableName;
        case SQLITE_CONSTRAINT_TRIGGER:
            return "Enregistrement refusé par la table " + tableName + " : " + message;
        default:
            break;
    }
    switch (extended & 0xff) {
        case SQLITE_CONSTRAINT:
            return "Contrainte non respectée dans la table " + tableName + " : " + message;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return "La table " + tableName + " est verrouillée par une autre application";
        case SQLITE_READONLY:
        case SQLITE_PERM:
            return "La table " + tableName + " est en lecture seule";
        case SQLITE_FULL:
            return "Le disque est plein : la table " + tableName + " ne peut pas être écrite";
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return "Le fichier de la table " + tableName +
                   " est endommagé ou n'est pas une table SQLite";
        case SQLITE_CANTOPEN:
            return "Impossible d'ouvrir le fichier de la table " + tableName;
        case SQLITE_IOERR:
            return "Erreur d'entrée-sortie sur la table " + tableName + " : " + message;
        default:
            return "Erreur de la base de données sur la table " + tableName + " : " + message;
    }
}

bool IsStorageFailure(int rc) {
    switch (rc & 0xff) {
        case SQLITE_FULL:
        case SQLITE_IOERR:
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_CANTOPEN:
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return true;
        default:
            return false;
    }
}

void ThrowSqliteError(sqlite3* db, int rc, const std::string& tableName) {
    const int extended = db != nullptr ? sqlite3_extended_errcode(db) : rc;
    if (IsStorageFailure(extended) || IsStorageFailure(rc)) {
        throw EDBStorageError(DescribeSqliteError(db, rc, tableName));
    }
    throw EDBEngineError(DescribeSqliteError(db, rc, tableName));
}

SqliteStmt Prepare(sqlite3* db, const std::string& sql, const std::string& tableName) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
    SqliteStmt stmt(raw);
    if (rc != SQLITE_OK) {
        ThrowSqliteError(db, rc, tableName);
    }
    return stmt;
}

void Execute(sqlite3* db, const char* sql, const std::string& tableName) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        ThrowSqliteError(db, rc, tableName);
    }
}

namespace {

void Bind(sqlite3_stmt* stmt, int index, const TStoredValue& value, sqlite3_destructor_type keep) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        sqlite3_bind_int64(stmt, index, *i);
    } else if (const auto* d = std::get_if<double>(&value)) {
        sqlite3_bind_double(stmt, index, *d);
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        sqlite3_bind_text(stmt, index, s->data(), static_cast<int>(s->size()), keep);
    } else if (const auto* b = std::get_if<TBlob>(&value)) {
        sqlite3_bind_blob(stmt, index, b->Bytes.data(), static_cast<int>(b->Bytes.size()), keep);
    } else {
        sqlite3_bind_null(stmt, index);
    }
}

}  // namespace

void BindValue(sqlite3_stmt* stmt, int index, const TStoredValue& value) {
    Bind(stmt, index, value, SQLITE_TRANSIENT);
}

void BindValueInPlace(sqlite3_stmt* stmt, int index, const TStoredValue& value) {
    Bind(stmt, index, value, SQLITE_STATIC);
}

TStoredValue ColumnValue(sqlite3_stmt* stmt, int index) {
    switch (sqlite3_column_type(stmt, index)) {
        case SQLITE_INTEGER:
            return static_cast<std::int64_t>(sqlite3_column_int64(stmt, index));
        case SQLITE_FLOAT:
            return sqlite3_column_double(stmt, index);
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
            return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
        }
        case SQLITE_BLOB: {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, index));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(stmt, index));
            return TBlob{bytes != nullptr ? std::string(bytes, size) : std::string()};
        }
        default:
            return std::monostate{};
    }
}

}  // namespace quorvane
