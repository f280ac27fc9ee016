#pragma once

#include <string>

#include "base/PosixFile.h"

namespace quorvane {

// The warning a second run shows before it ends without touching anything.
inline constexpr const char* kSynchronisationEnCours = "Une synchronisation est déjà en cours.";

// The file in the program folder whose flock is the run lock.
inline constexpr const char* kFichierVerrou = "QuorvaneClient.lock";

// One synchronization run at a time per program folder. The lock is the kernel's flock on a
// file of the program folder that only the program's users may open (mode 0660 in a shared
// folder, whose group is the program's; 0600 in a private one): an account that may merely
// read the folder cannot hold it. The kernel frees it when the process holding it ends, however
// it ends. Descriptors are close-on-exec, so the viewer the run starts for its report does not
// carry the lock beyond the run.
class RunLock {
  public:
    enum class Result {
        Held,              // this process holds the lock until the object goes
        HeldByAnotherRun,  // another process holds it: this run must not start
        Unavailable,       // no lock could be asked for (folder unwritable, no lock support)
    };

    // Asks for the lock of the program folder without waiting.
    static RunLock Take(const std::string& programFolder);
    // Asks for the lock at `lockFile` without waiting. The file is made when missing only where
    // the running user may write its folder; the package makes its own in a folder only root
    // may write, so that no member can remove, replace or block it.
    static RunLock TakeFile(const std::string& lockFile);

    Result State() const { return result_; }
    bool HeldByAnotherRun() const { return result_ == Result::HeldByAnotherRun; }
    // Whether a run must stay out: another run holds the lock, or it could not be taken at all
    // (missing in a folder the user may not write, a folder at its name): never a run without
    // the lock.
    bool Refused() const { return result_ != Result::Held; }

  private:
    RunLock(UniqueFd fd, Result result) : fd_(std::move(fd)), result_(result) {}

    UniqueFd fd_;
    Result result_;
};

}  // namespace quorvane
