#pragma once

#include <string>

#include "base/Sha256.h"
#include "sync/retrieval/CategoryRetrieval.h"

namespace quorvane {

// Retrieval by copying the head-office files from a folder into the download folder.
class FolderRetrieval : public FileTransport {
  public:
    FolderRetrieval(RunState& state, std::string repertoireSource);

    // Copies and integrates every enabled category.
    void CopierRepertoire(RunDisplay& display, CategoryIntegration& integration);
    // Copies one file; true when it arrived. The copy is written beside the destination and
    // renamed over it only when complete, so the download folder never holds half a file under
    // the final name.
    bool _CopyFile(const std::string& source, const std::string& fileName,
                   const std::string& destinationFolder);

    std::optional<std::string> Fetch(const HeadOfficeFile& file) override;

  private:
    RunState& state_;
    std::string source_;
};

// Copies `source` to `destination` through a temporary file in the destination's folder.
// Returns 0, or the errno of the first failure; `digest`, when given, receives the size and
// SHA-256 of the bytes copied.
int CopyFileAtomically(const std::string& source, const std::string& destination,
                       FileDigest* digest = nullptr);

}  // namespace quorvane
