#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

#include "sync/retrieval/PendingFile.h"

namespace quorvane {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The download's data go here first; the file only takes the local name once complete. The
// stream hashes what passes through it, so the file's digest costs no second read.
class DownloadTempFile {
  public:
    explicit DownloadTempFile(const std::filesystem::path& target);

    std::FILE* File() const { return file_.get(); }
    const std::filesystem::path& Path() const { return pending_->Path(); }

    // Gives the file its local name; returns the size and digest of the bytes written.
    FileDigest Commit(const std::filesystem::path& target);

  private:
    // Owned apart so that the stream's cookie keeps pointing at it if this object moves.
    std::unique_ptr<PendingFile> pending_;
    FilePtr file_;
};

}  // namespace quorvane
