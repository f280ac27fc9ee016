#pragma once

#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "config/base/ProgramPaths.h"
#include "database/Session.h"

namespace quorvane::testing {

// A program folder with its download folder, and the demo store's tables (as the store
// application would have created them) under the aliases the integration opens.
class StoreFixture {
  public:
    StoreFixture() {
        std::filesystem::create_directories(paths.RepertoireAuto);
        for (const char* folder : {"Administration", "Tarifs", "Maj"}) {
            std::filesystem::create_directories(dir.path() / "ombrelin" / folder);
        }
        const std::string command = std::string("'") + QUORVANE_SOURCE_DIR +
                                    "/demo/make-store.sh' '" + dir.folder() + "ombrelin'";
        if (std::system(command.c_str()) != 0) {
            std::abort();
        }
        Session().Reset();
        Session().AddStandardAlias("OmbrelinAdministration", Administration(), "");
        Session().AddStandardAlias("OmbrelinMaj", dir.folder() + "ombrelin/Maj", "");
    }
    ~StoreFixture() { Session().Reset(); }
    StoreFixture(const StoreFixture&) = delete;
    StoreFixture& operator=(const StoreFixture&) = delete;

    std::string Administration() const { return dir.folder() + "ombrelin/Administration"; }
    // One value of the store's tables, through the sqlite3 command as a person would read it.
    std::string Query(const std::string& table, const std::string& sql) const {
        const std::string out = dir.folder() + "query.txt";
        const std::string command =
            "sqlite3 '" + Administration() + "/" + table + "' \"" + sql + "\" > '" + out + "'";
        if (std::system(command.c_str()) != 0) {
            return "<sqlite3 failed>";
        }
        std::string text = ReadFile(out);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        return text;
    }

    TempDir dir;
    ProgramPaths paths = ProgramPaths::ForFolder(dir.path().string());
};

}  // namespace quorvane::testing
