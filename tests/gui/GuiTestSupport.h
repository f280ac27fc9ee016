#pragma once

#include <QApplication>

namespace quorvane::testing {

// One application object for the whole test program, on the offscreen platform.
inline QApplication& Application() {
    static int argc = 1;
    static char name[] = "quorvane-gui-test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

}  // namespace quorvane::testing
