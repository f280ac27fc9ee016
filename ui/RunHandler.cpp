#include "ui/RunHandler.h"

#include <QString>

#include <exception>

#include "ui/Dialogs.h"

namespace quorvane {

void RunHandler(QWidget* window, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        dialogs::Critical(window, QString::fromUtf8(error.what()));
    } catch (...) {
        dialogs::Critical(window, QString());
    }
}

}  // namespace quorvane
