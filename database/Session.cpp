#include "database/Session.h"

#include "base/TextConversion.h"
#include "database/DbError.h"
#include "database/NetDirLock.h"

namespace quorvane {

namespace {
constexpr std::chrono::milliseconds kDefaultBusyTimeout{5000};
}

TSession::TSession() : busyTimeout_(kDefaultBusyTimeout) {}

TSession::~TSession() = default;

bool TSession::IsAlias(const std::string& aliasName) const {
    return aliases_.count(AsciiUpper(aliasName)) != 0;
}

void TSession::AddStandardAlias(const std::string& aliasName, const std::string& directory,
                                const std::string& driver) {
    const std::string key = AsciiUpper(aliasName);
    if (aliasName.empty()) {
        throw EDBEngineError("Un alias doit avoir un nom");
    }
    if (aliases_.count(key) != 0) {
        throw EDBEngineError("L'alias " + aliasName + " existe déjà");
    }
    aliases_.emplace(key, Alias{aliasName, directory, driver});
}

TDatabase& TSession::OpenDatabase(const std::string& aliasName) {
    const std::string key = AsciiUpper(aliasName);
    const auto alias = aliases_.find(key);
    if (alias == aliases_.end()) {
        throw EDBEngineError("L'alias " + aliasName + " est inconnu");
    }
    auto& database = databases_[key];
    if (!database) {
        database = std::make_unique<TDatabase>(alias->second.name, alias->second.path);
    }
    return *database;
}

std::string TSession::AliasDirectory(const std::string& aliasName) const {
    const std::string key = AsciiUpper(aliasName);
    if (const auto database = databases_.find(key); database != databases_.end()) {
        return database->second->Directory();
    }
    const auto alias = aliases_.find(key);
    if (alias == aliases_.end()) {
        throw EDBEngineError("L'alias " + aliasName + " est inconnu");
    }
    return alias->second.path;
}

void TSession::SetNetFileDir(std::string directory) {
    netFileDir_ = std::move(directory);
}

std::shared_ptr<TNetDirLock> TSession::AcquireWriteTurn(const std::string& tableName) {
    if (auto held = writeTurn_.lock()) {
        return held;
    }
    if (netFileDir_.empty()) {
        return nullptr;
    }
    auto turn =
        std::make_shared<TNetDirLock>(netFileDir_, tableName, busyTimeout_, !leavesNoFiles_);
    writeTurn_ = turn;
    return turn;
}

void TSession::Reset() {
    aliases_.clear();
    databases_.clear();
    netFileDir_.clear();
    busyTimeout_ = kDefaultBusyTimeout;
    writeTurn_.reset();
    leavesNoFiles_ = false;
}

TSession& Session() {
    static TSession session;
    return session;
}

}  // namespace quorvane
