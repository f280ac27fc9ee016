#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "sync/RunErrors.h"

namespace quorvane {

// Local date and time; tests give a fixed one.
using ReportClock = std::function<std::tm()>;
std::tm LocalNow();

// One entry's line of the report, stamped with the given moment. The entry text comes from
// outside (paths, server replies, table errors) and lands in a page the user opens in a browser,
// so its markup characters are written as character references.
std::string LigneRapport(const std::string& texte, int code, const std::tm& moment);

// Writes the HTML report of the error list to the path; raises FileWriteError when the file
// cannot be written.
void EcrireRapport(const std::string& path, const ListeErreurs& erreurs,
                   const ReportClock& clock = LocalNow);

std::string EscapeHtml(const std::string& text);

}  // namespace quorvane
