#include "support/StoreFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "base/TextConversion.h"
#include "database/Session.h"

namespace quorvane::testing {

std::string DemoSchema(const std::string& name) {
    return ReadFile(std::string(QUORVANE_SOURCE_DIR) + "/demo/tables/" + name + ".sql");
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

StoreFixture::StoreFixture(Tables tables) {
    for (const char* folder : {"Administration", "Tarifs", "Maj"}) {
        std::filesystem::create_directories(std::filesystem::path(StoreDir()) / folder);
    }
    state.Paths = ProgramPaths::ForFolder(dir_.Folder());
    std::filesystem::create_directories(state.Paths.RepertoireAuto);
    if (tables == Tables::Demo) {
        const std::string command =
            std::string("'") + QUORVANE_SOURCE_DIR + "/demo/make-store.sh' '" + StoreDir() + "'";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("cannot make the demo store: " + command);
        }
    }
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
    auto db = OpenSqlite(AdminDir() + "/" + fileName);
    ExecSql(db.get(), sql);
}

void StoreFixture::CreateSuppliers(const std::string& sql) {
    auto db = OpenSqlite(MajDir() + "/FOURNIS.db");
    ExecSql(db.get(), sql);
}

void StoreFixture::WriteHeadOffice(const std::string& fileName, const std::string& utf8) {
    WriteFile(std::filesystem::path(AutoDir()) / fileName, Utf8ToCp1252(utf8));
}

std::vector<std::string> StoreFixture::Rows(const std::string& fileName,
                                            const std::string& sql) const {
    return testing::Rows(std::filesystem::path(AdminDir()) / fileName, sql);
}

std::string StoreFixture::One(const std::string& fileName, const std::string& sql) const {
    return testing::One(std::filesystem::path(AdminDir()) / fileName, sql);
}

std::vector<std::string> EntryTexts(const RunState& state, std::optional<int> code) {
    std::vector<std::string> texts;
    for (const auto& entry : state.Erreurs.Entries()) {
        texts.push_back(entry.Texte);
        if (code) {
            EXPECT_EQ(entry.Code, *code) << entry.Texte;
        }
    }
    return texts;
}

void StoreFixture::ExpectOnlyCode1() const {
    for (const auto& entry : state.Erreurs.Entries()) {
        EXPECT_EQ(entry.Code, 1) << entry.Texte;
    }
}

}  // namespace quorvane::testing
