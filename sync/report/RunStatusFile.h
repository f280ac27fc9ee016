#pragma once

#include <string>

#include "sync/report/RunSummary.h"

namespace quorvane {

// The status file a monitoring agent reads instead of the HTML report: the last run's times,
// version, mode, each category's result and the entries, as one JSON document.
std::string StatutJson(const RunSummary& summary);

// Replaces the file at path atomically: a reader sees the previous run's status or this one,
// never a part. Empty on success, otherwise what went wrong (the previous file is then kept).
std::string EcrireStatut(const std::string& path, const RunSummary& summary);

}  // namespace quorvane
