#pragma once

#include <QApplication>
#include <QInputDevice>

#include "ui/StyleManager.h"

namespace quorvane::testing {

// One application object for the whole test program, on the offscreen platform.
inline QApplication& Application() {
    // Qt's registry of input devices must outlive the application object, which deletes the
    // keyboard and mouse that test events create: made first, it is destroyed last at exit.
    QInputDevice::devices();
    static int argc = 1;
    static char name[] = "quorvane-gui-test";
    static char* argv[] = {name, nullptr};
    StyleManager::IgnoreDesktopLook();
    static QApplication app(argc, argv);
    return app;
}

}  // namespace quorvane::testing
