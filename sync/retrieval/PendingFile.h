#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/AtomicFile.h"
#include "base/PosixFile.h"
#include "base/Sha256.h"

namespace quorvane {

// A file of the download folder being written: an AtomicFile that, in addition, never replaces
// a file the store made read-only.
class PendingFile {
  public:
    // Creates the temporary file for `target` with `mode`, which the process's umask narrows
    // further as for any new file. Raises std::system_error.
    explicit PendingFile(std::filesystem::path target, mode_t mode = 0666)
        : file_(std::move(target), mode) {}

    int Fd() const { return file_.Fd(); }
    const std::filesystem::path& Path() const { return file_.Path(); }

    // Writes all of `data` at the descriptor's position and hashes it. False with errno set
    // when the write failed.
    bool Write(const void* data, std::size_t size);
    // Bytes written through Write elsewhere than one after the other (a seek, a write on the
    // descriptor) make the digest unknown.
    void DigestInvalid() { digestValid_ = false; }
    std::int64_t Written() const { return hash_.Size(); }
    // The size and SHA-256 of what Write received; the hash is empty once invalid.
    FileDigest Digest() const;

    // Puts the bytes on disk and gives the file its final name. Raises std::system_error:
    // EACCES when the final name holds a file that has no write permission bit at all (a
    // read-only file is not replaced, whoever the process runs as), or the errno of the write,
    // close or rename that failed. On failure the final name is left as it was.
    void Commit();

  private:
    AtomicFile file_;
    Sha256 hash_;
    bool digestValid_ = true;
};

// True for a name the program gives its temporary files in the download folder: the temporary
// of a head-office file (AtomicFileFinalName), or the ".<digits>.part" ending that earlier
// versions gave their downloads.
bool IsPendingFileName(std::string_view name);

// Removes from `folder` the regular files named by IsPendingFileName, left there by a run that
// was stopped before it could remove them. Nothing else is looked at. Returns how many went.
int RemovePendingLeftovers(const std::string& folder);

// The same for the regular files of `folder` that are temporaries of AtomicFile for one of
// `finalNames` (the run's own files of the program folder).
int RemoveTemporariesOf(const std::string& folder, const std::vector<std::string>& finalNames);

}  // namespace quorvane
