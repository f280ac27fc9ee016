#pragma once

#include <functional>

class QWidget;

namespace quorvane {

// Runs a window's handler so that nothing it throws reaches Qt's event loop: an error is shown
// in the application's general error box, and the window stays as the handler left it.
void RunHandler(QWidget* window, const std::function<void()>& handler);

}  // namespace quorvane
