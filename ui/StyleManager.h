#pragma once

#include <QFont>
#include <QString>

namespace quorvane {

// The program's visual styles, compiled in as style sheets. "Smokey Quartz Kamri" is the one
// applied at start-up; "Emerald Light Slate" is carried along.
class StyleManager {
  public:
    // Applies the named style to the whole application; when it cannot, shows an error box if
    // asked to and leaves the default look.
    static bool TrySetStyle(const QString& name, bool showErrorDialog);
    static QString ResourceOf(const QString& name);
    // The windows are measured for their own fonts, palette and style: a desktop's platform
    // theme (GTK, KDE, qt6ct) must not replace them. Call before the application object exists.
    static void IgnoreDesktopLook();
    // Makes the font the application's and puts it back whenever something else (a platform
    // theme applying its settings after start-up, or on a change of its own) replaces it.
    static void HoldApplicationFont(const QFont& font);
};

}  // namespace quorvane
