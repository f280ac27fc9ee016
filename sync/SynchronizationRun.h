#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "base/ProgramPaths.h"
#include "sync/RunDisplay.h"
#include "sync/RunState.h"
#include "sync/report/RunReport.h"
#include "sync/report/RunSummary.h"
#include "sync/retrieval/FtpClient.h"

namespace quorvane {

class CategoryIntegration;

// What a run needs from its surroundings; tests replace the clock and the report opener.
struct RunOptions {
    ReportClock Clock = LocalNow;
    // Hands the report to the user's viewer without waiting for it.
    std::function<void(const std::string& path)> OpenReport;
    // Limits of the FTP session (milliseconds); 0 keeps the client's defaults.
    long FtpStallLimitMs = 0;
    long FtpConnectTimeoutMs = 0;
    long FtpResponseTimeoutMs = 0;
    // The waits between two attempts of the retrieval, and the slowest pace a download may
    // keep (tests shorten them).
    RetryRule Retry;
    FloorRate FtpFloor;
    // Where the run's start, entries and end are told (standard error: the journal under
    // systemd); nullptr tells nobody.
    std::FILE* Journal = stderr;
    // A dry run: the files are fetched into a private temporary folder and every integration
    // is rolled back; no report, status file or journal line is written, nothing is opened.
    bool DryRun = false;
    // Called once the run has told the system how it ended (status file, metrics, journal), with
    // that summary; never by a dry run. The desktop notification hooks in here.
    std::function<void(const RunSummary& summary)> AtEnd;
};

// One synchronization run, without any window: settings, retrieval, integration, the final
// marking of the categories and the report. Every problem becomes an entry of the error list;
// nothing here throws to the caller.
class SynchronizationRun {
  public:
    explicit SynchronizationRun(ProgramPaths paths, RunOptions options = {});
    ~SynchronizationRun();

    RunState& State() { return state_; }
    const RunState& State() const { return state_; }
    RunDisplay& Display() { return display_; }

    // The whole run, from clearing the error flag to opening the report.
    void Run();
    // The run as told to the outside world, as it stands now.
    RunSummary Summary() const;

    void LancerTransfertFtp(const std::string& section);
    void CopierRepertoire(const std::string& repertoireSource);
    void MarquerCategoriesEnEchec();

    // The error list lives until the last countdown tick.
    void ReleaseErrors() { state_.Erreurs = ListeErreurs{}; }

  private:
    void DeletePreviousReport();
    void ReadSettings();
    void Retrieve();
    void Report();
    // What the run tells the system besides its report: the journal lines and the status file.
    void AnnounceStart();
    void Conclude();
    // A dry run fetches into a folder of its own, removed when the run ends.
    bool UsePrivateDownloadFolder();
    void RemovePrivateDownloadFolder();
    CategoryIntegration& Integration();

    RunState state_;
    RunDisplay display_;
    RunOptions options_;
    std::time_t debut_ = 0;
    std::chrono::steady_clock::time_point debutMonotone_;
    // One FTP client for the run, as the window owns one.
    FtpClient IdFTP1;
    std::unique_ptr<CategoryIntegration> integration_;
    std::string privateFolder_;
    // The download folder a dry run stands in for.
    std::string downloadFolder_;
};

// What a dry run prints: the counts of each enabled category's files, then every entry the
// report would have held.
std::string DryRunText(const RunSummary& summary);

}  // namespace quorvane
