#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "base/PosixFile.h"

namespace quorvane {

// Raised by AtomicFile; code() is the errno of the step that failed, path() the file it was
// working on: the temporary file while creating and writing it, the final file when replacing.
class AtomicFileError : public std::system_error {
  public:
    enum class Step { Create, Write, Replace };

    AtomicFileError(Step step, int error, std::filesystem::path path, const std::string& what)
        : std::system_error(error, std::generic_category(), what),
          step_(step),
          path_(std::move(path)) {}

    Step step() const { return step_; }
    const std::filesystem::path& path() const { return path_; }

  private:
    Step step_;
    std::filesystem::path path_;
};

// A file that must never be seen half-written: its bytes go to a temporary file beside the
// final one (".<name>.partiel-XXXXXX", in the same folder so that the rename stays within one
// file system) and take the final name only on Commit. A file neither committed nor abandoned
// is abandoned by the destructor, so no early return leaves a temporary behind.
//
// The temporary is created exclusively and never through a symbolic link; the rename replaces
// whatever stands at the final name, a link included, without following it.
class AtomicFile {
  public:
    // Creates the temporary file with `mode`, which the process's umask narrows as for any new
    // file. Raises AtomicFileError (Step::Create).
    explicit AtomicFile(std::filesystem::path target, mode_t mode = 0666);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    int Fd() const { return fd_.Get(); }
    const std::filesystem::path& Path() const { return path_; }
    const std::filesystem::path& Target() const { return target_; }

    // Writes every byte. Raises AtomicFileError (Step::Write).
    void Write(std::string_view bytes);
    // Gives the file exactly `mode`, whatever the umask. Raises AtomicFileError (Step::Write).
    void SetMode(mode_t mode);
    // For a file a person may have made read-only on purpose (the settings): a regular file or
    // a folder that is read-only (no write permission for anyone, or none for us) is then never
    // replaced through the rename, for root either, and Commit refuses it with EACCES. Files
    // the program alone owns (the report, the status file) are replaced whatever stands at
    // their name, as a link or a stranger's file planted there must be.
    void RefuseReadOnlyTarget() { refuseReadOnly_ = true; }

    // Puts the bytes on disk, gives the file its final name and puts the rename on disk with
    // its folder. Raises AtomicFileError (Step::Write for the flush or close, Step::Replace for
    // the rename); the final name is then left as it was and the temporary is removed.
    void Commit();
    // Removes the temporary file; the final name is left as it was. Does nothing once committed
    // or abandoned.
    void Abandon() noexcept;

  private:
    [[noreturn]] void Fail(AtomicFileError::Step step, int error, const std::filesystem::path& path,
                           const std::string& what);

    std::filesystem::path target_;
    std::filesystem::path path_;
    UniqueFd folder_;
    UniqueFd fd_;
    bool done_ = false;
    bool refuseReadOnly_ = false;
};

// The final file name a temporary of AtomicFile stands for, when `name` is one: a leading ".",
// the final name, ".partiel-" and six letters or digits. Tells nothing about the final name.
std::optional<std::string_view> AtomicFileFinalName(std::string_view name);

}  // namespace quorvane
