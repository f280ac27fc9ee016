#pragma once

#include <string>

#include "sync/retrieval/CategoryRetrieval.h"
#include "sync/retrieval/FtpClient.h"

namespace quorvane {

// Retrieval from the head office's FTP server: one session for the whole run, each enabled
// category downloaded into the download folder and integrated at once.
class FtpRetrieval : public FileTransport {
  public:
    FtpRetrieval(RunState& state, RunDisplay& display, FtpClient& client, FtpLimits limits = {});

    void LancerTransfertFtp(const std::string& section, CategoryIntegration& integration);
    bool DownloadFile(const std::string& fileName, FtpTransferType transferType,
                      const std::string& localFolder, CommitCheck check = {});
    bool FileExistOnServer(const std::string& fileName);

    std::optional<std::string> Fetch(const HeadOfficeFile& file) override;
    void BeforeCategory(Categorie categorie) override;
    void AfterCategory(Categorie categorie) override;
    std::optional<std::string> FetchManifestFile(std::string_view name) override;

  private:
    bool ClientConnected() noexcept;

    RunState& state_;
    RunDisplay& display_;
    FtpClient& IdFTP1;
    FtpLimits limits_;
    // The size the server gave for the file last asked about; the download must reach it.
    std::int64_t announcedSize_ = -1;
};

}  // namespace quorvane
