#pragma once

#include <functional>

class QPushButton;
class QWidget;

namespace quorvane {

// The keys of a dialog for a window of fields: Enter presses the focused button, or the default
// button when the focus is elsewhere; Escape does what the close box does. Keys a control uses
// itself (Space on a check box, the arrows between radio buttons) stay with the control.
void UseDialogKeys(QWidget* window, QPushButton* defaultButton, std::function<void()> cancel);

}  // namespace quorvane
