#pragma once

#include <array>
#include <optional>
#include <string>

#include "sync/report/RunSummary.h"

namespace quorvane {

// The end of the latest run in which each category integrated (Unix time), in the order of
// the categories; nothing for a category that never did.
using DerniersSucces = std::array<std::optional<double>, 4>;

// A run's metrics for a monitor, in the Prometheus text format (0.0.4) that node_exporter's
// textfile collector reads: every metric a gauge with its HELP and TYPE lines.
std::string MetriquesTexte(const RunSummary& summary, double dureeSecondes,
                           const DerniersSucces& derniersSucces);

// The last successes a previous metrics file holds; nothing for what it does not hold (or when
// there is no file to read).
DerniersSucces LireDerniersSucces(const std::string& path);

// Replaces the metrics file atomically, readable by everyone (the monitor runs under its own
// account), keeping each category's last success from the file it replaces. Empty on success,
// otherwise what went wrong; the folder is never created.
std::string EcrireMetriques(const std::string& path, const RunSummary& summary,
                            double dureeSecondes);

}  // namespace quorvane
