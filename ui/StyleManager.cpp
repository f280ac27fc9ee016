#include "ui/StyleManager.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QPointer>

#include <optional>
#include <utility>

#include "ui/Dialogs.h"

namespace quorvane {
namespace {

// A platform theme gives fonts of its own to kinds of controls (check boxes, labels, message
// boxes, ...), which win over the application's: each kind the windows use gets the program's.
constexpr const char* kKindsOfControls[] = {
    "QCheckBox", "QRadioButton", "QLabel",       "QPushButton",       "QGroupBox",
    "QLineEdit", "QMessageBox",  "QProgressBar", "QAbstractItemView", "QHeaderView",
    "QMenu",     "QToolButton",  "QTipLabel",    "QComboLineEdit",    "QComboMenuItem"};

void SetFontEverywhere(const QFont& font) {
    QApplication::setFont(font);
    for (const char* kind : kKindsOfControls) {
        QApplication::setFont(font, kind);
    }
}

class FontHolder : public QObject {
  public:
    FontHolder(QObject* application, QFont font) : QObject(application), font_(std::move(font)) {}

  protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((type == QEvent::ApplicationFontChange || type == QEvent::ThemeChange) && !pending_ &&
            Replaced()) {
            pending_ = true;
            // Not from inside the change being delivered: the theme may set more after it.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    pending_ = false;
                    SetFontEverywhere(font_);
                },
                Qt::QueuedConnection);
        }
        return false;
    }

  private:
    bool Replaced() const {
        if (QApplication::font() != font_) {
            return true;
        }
        for (const char* kind : kKindsOfControls) {
            if (QApplication::font(kind) != font_) {
                return true;
            }
        }
        return false;
    }

    QFont font_;
    bool pending_ = false;
};

std::optional<QFont>& HeldFont() {
    static std::optional<QFont> font;
    return font;
}

}  // namespace

void StyleManager::HoldApplicationFont(const QFont& font) {
    SetFontEverywhere(font);
    HeldFont() = font;
    // Gone with the application object that owns it.
    static QPointer<FontHolder> holder;
    delete holder;
    holder = new FontHolder(qApp, font);
    qApp->installEventFilter(holder);
}

QString StyleManager::ResourceOf(const QString& name) {
    QString compact = name;
    compact.remove(' ');
    return QStringLiteral(":/styles/") + compact + QStringLiteral(".qss");
}

void StyleManager::IgnoreDesktopLook() {
    QGuiApplication::setDesktopSettingsAware(false);
}

bool StyleManager::TrySetStyle(const QString& name, bool showErrorDialog) {
    QFile file(ResourceOf(name));
    if (!file.open(QIODevice::ReadOnly)) {
        if (showErrorDialog) {
            dialogs::Critical(nullptr, QStringLiteral("Style '%1' introuvable").arg(name));
        }
        return false;
    }
    // The style sheets dress Fusion; another base style would draw other indicators.
    QApplication::setStyle(QStringLiteral("Fusion"));
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    // A new style gives the kinds of controls the platform theme's fonts again.
    if (HeldFont()) {
        SetFontEverywhere(*HeldFont());
    }
    return true;
}

}  // namespace quorvane
