#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "sync/report/RunSummary.h"

namespace quorvane {

// What a run tells the system log: a start line, one line per entry of the error list and a
// closing line, in UTF-8, on standard error. Under systemd standard error is a stream to the
// journal; there each line carries the syslog priority prefix that journald turns into the
// line's priority, so that "journalctl -p err" finds the runs that went wrong. On a terminal
// or in a file the lines stay plain.
class RunJournal {
  public:
    enum class Priorite { Erreur = 3, Avertissement = 4, Notice = 5, Info = 6 };

    // Prefixes the lines when the stream is the one systemd named in JOURNAL_STREAM.
    explicit RunJournal(std::FILE* out);
    RunJournal(std::FILE* out, bool prefixes) : out_(out), prefixes_(prefixes) {}

    // True when the descriptor is the journal stream systemd handed the process: the device
    // and inode of JOURNAL_STREAM ("device:inode") are those of the descriptor. A descriptor
    // redirected elsewhere by the program's caller no longer matches, and stays plain.
    static bool IsJournalStream(int fd);

    void Debut(const RunSummary& summary) const;
    // Something that went wrong for a moment and is being put right (a retried failure).
    void Avertissement(const std::string& line) const;
    // The entries (each followed by its precision, when it has one), then the problems of the
    // run's own ending that no report holds (the status or metrics file not written), then the
    // closing line.
    void Fin(const RunSummary& summary, const std::vector<std::string>& problemesFinaux = {}) const;

    static std::string LigneDebut(const RunSummary& summary);
    static std::string LigneEntree(const ErrorEntry& entry);
    static std::string LigneFin(const RunSummary& summary);
    // What the category's files changed, "1 200 lignes, 3 remplacées, 1 197 ajoutées,
    // 0 refusée"; empty when none of its files was integrated.
    static std::string LigneComptes(const CategorySummary& category);

  private:
    void Ecrire(Priorite priorite, const std::string& line) const;

    std::FILE* out_;
    bool prefixes_;
};

}  // namespace quorvane
