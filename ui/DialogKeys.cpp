#include "ui/DialogKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

#include <utility>

namespace quorvane {
namespace {

// Sees only the keys no control of the window took, as they travel up to the window.
class DialogKeyFilter : public QObject {
  public:
    DialogKeyFilter(QWidget* window, QPushButton* defaultButton, std::function<void()> cancel)
        : QObject(window), defaultButton_(defaultButton), cancel_(std::move(cancel)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return QObject::eventFilter(watched, event);
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~(Qt::KeypadModifier)) {
            return false;
        }
        if (key->key() == Qt::Key_Escape) {
            cancel_();
            return true;
        }
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) {
            return false;
        }
        QPushButton* target = qobject_cast<QPushButton*>(QApplication::focusWidget());
        if (target == nullptr || !target->isEnabled()) {
            target = defaultButton_;
        }
        if (target != nullptr && target->isEnabled()) {
            target->click();
        }
        return true;
    }

  private:
    QPointer<QPushButton> defaultButton_;
    std::function<void()> cancel_;
};

}  // namespace

void UseDialogKeys(QWidget* window, QPushButton* defaultButton, std::function<void()> cancel) {
    defaultButton->setDefault(true);
    window->installEventFilter(new DialogKeyFilter(window, defaultButton, std::move(cancel)));
}

}  // namespace quorvane
