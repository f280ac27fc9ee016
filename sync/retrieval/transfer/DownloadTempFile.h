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

// The download's data go here first; the file only takes the local name once complete.
class DownloadTempFile {
  public:
    explicit DownloadTempFile(const std::filesystem::path& target);

    std::FILE* File() const { return file_.get(); }
    const std::filesystem::path& Path() const { return pending_.Path(); }

    void Commit(const std::filesystem::path& target);

  private:
    PendingFile pending_;
    FilePtr file_;
};

}  // namespace quorvane
