#pragma once

#include <string>

namespace quorvane {

// Besides the run's own lines, standard error receives Qt's messages and, without a display,
// the texts of the boxes nobody can answer. When standard error is the journal, these carry a
// syslog priority too, so that a warning is not filed as information.

// "<N>" when standard error is the journal stream, otherwise nothing.
std::string StandardErrorPrefix(int priority);

// Gives Qt's debug, information, warning, critical and fatal messages their priorities under
// the journal; elsewhere Qt's own handler stays. Call before the application object exists.
void InstallQtMessagePriorities();

}  // namespace quorvane
