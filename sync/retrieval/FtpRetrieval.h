#pragma once

#include <functional>
#include <string>

#include "sync/retrieval/CategoryRetrieval.h"
#include "sync/retrieval/FtpClient.h"

namespace quorvane {

// How the run rides out failures of a moment: the waits' figures, the random source and the
// wait itself (zero-length in tests that do not look at it), and where each failed attempt
// that will be tried again is told.
struct RetrySetup {
    RetryRule Rule;
    RetryPolicy::Random Random = SystemRandom();
    RetryPolicy::Sleep Sleep;  // the display's repainting wait when empty
    std::function<void(const std::string& line)> Warn;
};

// Retrieval from the head office's FTP server: one session for the whole run, each enabled
// category downloaded into the download folder and integrated at once. The connection and each
// file's download are tried again after a failure of a moment, the connection made again first
// when it was lost.
class FtpRetrieval : public FileTransport {
  public:
    FtpRetrieval(RunState& state, RunDisplay& display, FtpClient& client, FtpLimits limits = {},
                 RetrySetup retry = {});

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
    RetryPolicy Policy();
    RetryPolicy::Told Teller(const std::string& operation);
    // Whether the server has the file; a transport failure throws.
    bool Present(const std::string& fileName);
    // Where a file's attempt was when it failed, for the entry its last failure leaves.
    enum class Stage { Reconnect, Size, BeforeGet, Get };
    void TryFile(const std::string& fileName, FtpTransferType transferType,
                 const std::string& localFolder, const CommitCheck& check, Stage& stage,
                 bool& present);
    // The entry a file's last failed attempt leaves, by where it failed.
    void LastFailure(Stage stage, const std::string& fileName, const std::string& why);

    RunState& state_;
    RunDisplay& display_;
    FtpClient& IdFTP1;
    FtpLimits limits_;
    RetrySetup retry_;
    // Once, unless the run's settings say otherwise: a connection test is waited for.
    int tentatives_ = 1;
    // The size the server gave for the file last asked about; the download must reach it.
    std::int64_t announcedSize_ = -1;
};

}  // namespace quorvane
