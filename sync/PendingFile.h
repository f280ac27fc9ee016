#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "config/base/PosixFile.h"

namespace quorvane {

// A file of the download folder being written: its bytes go to a temporary file beside the
// final one, under the program's own naming, and take the final name only once complete.
// Renaming replaces whatever stands at the final name, a symbolic link included, without
// following it; nothing is ever written through a link.
class PendingFile {
  public:
    // Creates the temporary file for `target` with `mode`, which the process's umask narrows
    // further as for any new file. Raises std::system_error.
    explicit PendingFile(std::filesystem::path target, mode_t mode = 0666);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~PendingFile();

    int Fd() const { return fd_.get(); }
    const std::filesystem::path& Path() const { return path_; }

    // Puts the bytes on disk and gives the file its final name. Raises std::system_error:
    // EACCES when the final name holds a file that has no write permission bit at all (a
    // read-only file is not replaced, whoever the process runs as), or the errno of the write,
    // close or rename that failed. On failure the final name is left as it was.
    void Commit();

  private:
    std::filesystem::path target_;
    std::filesystem::path path_;
    UniqueFd fd_;
    bool committed_ = false;
};

// True for a name the program gives its temporary files in the download folder: a leading ".",
// a head-office file name, then ".partiel-" and six letters or digits (also the ".<digits>.part"
// ending that earlier versions gave their downloads).
bool IsPendingFileName(std::string_view name);

// Removes from `folder` the regular files named by IsPendingFileName, left there by a run that
// was stopped before it could remove them. Nothing else is looked at. Returns how many went.
int RemovePendingLeftovers(const std::string& folder);

}  // namespace quorvane
