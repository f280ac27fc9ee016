#pragma once

#include <QString>

#include <optional>

namespace quorvane {

// The desktop notification of a run that ended with entries, sent over the session bus to
// whatever notification service the desktop runs. Works with or without a QApplication (a run
// without a window has none); sends nothing where no session bus is reachable.

// The bus address: DBUS_SESSION_BUS_ADDRESS, else the user's bus socket under XDG_RUNTIME_DIR.
// Never starts a bus of its own.
std::optional<QString> SessionBusAddress();

// Sends the notification: the run's summary as body, and the action "Ouvrir le rapport", which
// hands the report to the desktop while this process's event loop runs (none without a report).
// With an application object it returns at once (false when there is no bus to send to); without
// one it waits a few seconds at most for the service's answer and returns whether one came.
bool NotifyRunOutcome(const QString& summary, const QString& reportPath);

}  // namespace quorvane
