#pragma once

#include <string>

#include "base/PosixFile.h"

namespace quorvane {

// The warning a second run shows before it ends without touching anything.
inline constexpr const char* kSynchronisationEnCours = "Une synchronisation est déjà en cours.";

// One synchronization run at a time per program folder. The lock is the kernel's flock on the
// program folder itself: it adds no file anyone must care about, and the kernel frees it when
// the process holding it ends, however it ends. Descriptors are close-on-exec, so the viewer
// the run starts for its report does not carry the lock beyond the run.
class RunLock {
  public:
    enum class Result {
        Held,              // this process holds the lock until the object goes
        HeldByAnotherRun,  // another process holds it: this run must not start
        Unavailable,       // no lock could be asked for (folder unreadable, no lock support)
    };

    // Asks for the lock without waiting.
    static RunLock Take(const std::string& programFolder);

    Result State() const { return result_; }
    bool HeldByAnotherRun() const { return result_ == Result::HeldByAnotherRun; }

  private:
    RunLock(UniqueFd fd, Result result) : fd_(std::move(fd)), result_(result) {}

    UniqueFd fd_;
    Result result_;
};

}  // namespace quorvane
