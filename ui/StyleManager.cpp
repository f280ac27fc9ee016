#include "ui/StyleManager.h"

#include <QApplication>
#include <QFile>

#include "ui/Dialogs.h"

namespace quorvane {

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
    return true;
}

}  // namespace quorvane
