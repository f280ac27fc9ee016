#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>

namespace quorvane {

// The database object of one alias: where the tables opened under that alias are looked for.
class TDatabase {
  public:
    TDatabase(std::string aliasName, std::string directory)
        : aliasName_(std::move(aliasName)), directory_(std::move(directory)) {}

    const std::string& AliasName() const { return aliasName_; }
    const std::string& Directory() const { return directory_; }
    void SetDirectory(std::string directory) { directory_ = std::move(directory); }

  private:
    std::string aliasName_;
    std::string directory_;
};

class TNetDirLock;

// The process-wide session: aliases (names compared without regard to ASCII case, as the store's
// engine configuration does), their open databases, and the shared network control directory.
class TSession {
  public:
    TSession();
    ~TSession();
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    bool IsAlias(const std::string& aliasName) const;
    // Raises EDBEngineError when the alias already exists. The driver is kept for the record only:
    // every alias here reaches SQLite table files.
    void AddStandardAlias(const std::string& aliasName, const std::string& directory,
                          const std::string& driver);
    // The alias's database, connected; it stays for the process. Raises for an unknown alias.
    TDatabase& OpenDatabase(const std::string& aliasName);

    // The directory in which the tables of the alias are looked for: that of its open database
    // when there is one, otherwise the alias's own path. Raises for an unknown alias.
    std::string AliasDirectory(const std::string& aliasName) const;

    // When set, writers of every process take turns through a lock file in this folder.
    const std::string& NetFileDir() const { return netFileDir_; }
    void SetNetFileDir(std::string directory);

    // How long a table locked by another process is waited for before giving up.
    std::chrono::milliseconds BusyTimeout() const { return busyTimeout_; }
    void SetBusyTimeout(std::chrono::milliseconds timeout) { busyTimeout_ = timeout; }

    // Takes the cross-process write turn for `tableName` (held while any table of this process is
    // open for writing; nested holders share it). Returns an empty pointer when no NetFileDir is
    // set. Raises EDBEngineError when the turn does not come within the busy timeout.
    std::shared_ptr<TNetDirLock> AcquireWriteTurn(const std::string& tableName);

    // For a dry run: tables are written only in memory, never spilled to their files, and no
    // file is created in the store's folders (no NetDir lock file, no rollback journal).
    bool LeavesNoFiles() const { return leavesNoFiles_; }
    void SetLeavesNoFiles(bool leavesNoFiles) { leavesNoFiles_ = leavesNoFiles; }

    // Back to a fresh session; for tests.
    void Reset();

  private:
    struct Alias {
        std::string name;
        std::string path;
        std::string driver;
    };
    std::map<std::string, Alias> aliases_;  // keyed by the upper-cased name
    std::map<std::string, std::unique_ptr<TDatabase>> databases_;
    std::string netFileDir_;
    std::chrono::milliseconds busyTimeout_;
    std::weak_ptr<TNetDirLock> writeTurn_;
    bool leavesNoFiles_ = false;
};

// The default session of the process.
TSession& Session();

}  // namespace quorvane
