#include "integration/IntegTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "config/base/TextConversion.h"
#include "database/Session.h"

namespace quorvane::testing {

SqliteHandle OpenSqlite(const std::filesystem::path& file) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.string().c_str(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK) {
        throw std::runtime_error("cannot open " + file.string());
    }
    return db;
}

void ExecSql(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error != nullptr ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error("SQL refused: " + message + " in " + sql);
    }
}

std::string DemoSchema(const std::string& name) {
    return ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/tables/" + name + ".sql");
}

std::string IntegrationData(const std::string& name) {
    return ReadFile(std::string(QUORVANE_TEST_DATA) + "/integration/" + name);
}

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string Ligne(const Attributes& attributes) {
    std::string line = "<Ligne";
    for (const auto& [name, value] : attributes) {
        line += " " + name + "=\"" + Escape(value) + "\"";
    }
    return line + "/>";
}

std::string HeadOffice(const std::string& root, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<" + root + ">\n" + body + "</" +
           root + ">\n";
}

std::string Envelope(const std::vector<std::string>& lines, const std::string& configuration) {
    std::string body = "  <Version Numero=\"1.0\"/>\n";
    if (!configuration.empty()) {
        body += "  " + configuration + "\n";
    }
    body += "  <Lignes>\n";
    for (const auto& line : lines) {
        body += "    " + line + "\n";
    }
    return body + "  </Lignes>\n";
}

StoreFixture::StoreFixture() {
    std::filesystem::create_directories(dir_.path() / "Administration");
    std::filesystem::create_directories(dir_.path() / "Maj");
    std::filesystem::create_directories(dir_.path() / "Auto");
    state.Paths = ProgramPaths::ForFolder(dir_.folder());
    Session().Reset();
    Session().AddStandardAlias("OmbrelinAdministration", AdminDir(), "");
    Session().AddStandardAlias("OmbrelinMaj", MajDir(), "");
    driver = std::make_unique<IntegrationDriver>(state, display);
}

StoreFixture::~StoreFixture() {
    driver.reset();
    Session().Reset();
}

void StoreFixture::CreateTable(const std::string& fileName, const std::string& sql) {
    auto db = OpenSqlite(dir_.path() / "Administration" / fileName);
    ExecSql(db.get(), sql);
}

void StoreFixture::CreateSuppliers(const std::string& sql) {
    auto db = OpenSqlite(dir_.path() / "Maj" / "FOURNIS.db");
    ExecSql(db.get(), sql);
}

void StoreFixture::WriteHeadOffice(const std::string& fileName, const std::string& utf8) {
    WriteFile(std::filesystem::path(AutoDir()) / fileName, Utf8ToCp1252(utf8));
}

std::vector<std::string> StoreFixture::Rows(const std::string& fileName,
                                            const std::string& sql) const {
    auto db = OpenSqlite(dir_.path() / "Administration" / fileName);
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("bad query: ") + sqlite3_errmsg(db.get()));
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    std::vector<std::string> rows;
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt.get()); ++i) {
            if (i > 0) {
                row += "|";
            }
            const unsigned char* text = sqlite3_column_text(stmt.get(), i);
            row += text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
        }
        rows.push_back(row);
    }
    return rows;
}

std::string StoreFixture::One(const std::string& fileName, const std::string& sql) const {
    const auto rows = Rows(fileName, sql);
    return rows.empty() ? std::string("<no row>") : rows.front();
}

std::vector<std::string> StoreFixture::Texts() const {
    std::vector<std::string> texts;
    for (const auto& entry : state.Erreurs.Entries()) {
        texts.push_back(entry.Texte);
    }
    return texts;
}

void StoreFixture::ExpectOnlyCode1() const {
    for (const auto& entry : state.Erreurs.Entries()) {
        EXPECT_EQ(entry.Code, 1) << entry.Texte;
    }
}

}  // namespace quorvane::testing
