#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "sync/report/RunSummary.h"

namespace quorvane {

// The status file a monitoring agent reads instead of the HTML report: the last run's times,
// version, mode, each category's result and the entries, as one JSON document.
std::string StatutJson(const RunSummary& summary);

// Replaces the file at path atomically: a reader sees the previous run's status or this one,
// never a part. Empty on success, otherwise what went wrong (the previous file is then kept).
std::string EcrireStatut(const std::string& path, const RunSummary& summary);

// The same replacement for any file the run leaves for others to read; with a mode, the file
// gets exactly that mode whatever the umask.
std::string RemplacerFichier(const std::string& path, const std::string& content,
                             std::optional<mode_t> mode = std::nullopt);

}  // namespace quorvane
