#pragma once

#include <chrono>
#include <string>

namespace quorvane {

// An exclusive flock on the lock file of a network control directory. Several processes writing
// the same tables through the same directory therefore write one after the other.
class TNetDirLock {
  public:
    // Raises EDBEngineError naming `tableName` when the lock is not obtained within `timeout`,
    // or when the lock file cannot be opened. Without `create`, a missing lock file is not
    // made and nothing is locked: a dry run leaves no file behind.
    TNetDirLock(const std::string& directory, const std::string& tableName,
                std::chrono::milliseconds timeout, bool create = true);
    ~TNetDirLock();
    TNetDirLock(const TNetDirLock&) = delete;
    TNetDirLock& operator=(const TNetDirLock&) = delete;

    static constexpr const char* kFileName = "QuorvaneClient.lck";

  private:
    int fd_ = -1;
};

}  // namespace quorvane
