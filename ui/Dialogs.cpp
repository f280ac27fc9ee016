#include "ui/Dialogs.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QWidget>

#include <cstdio>

#include "ui/StandardErrorPriorities.h"

namespace quorvane::dialogs {
namespace {

Hooks& CurrentHooks() {
    static Hooks hooks;
    return hooks;
}

const char* Prefix(BoxKind kind) {
    switch (kind) {
        case BoxKind::Warning:
            return "Avertissement : ";
        case BoxKind::Information:
            return "Information : ";
        case BoxKind::Critical:
            return "Erreur : ";
    }
    return "";
}

int Priority(BoxKind kind) {
    switch (kind) {
        case BoxKind::Warning:
            return 4;
        case BoxKind::Information:
            return 6;
        case BoxKind::Critical:
            return 3;
    }
    return 6;
}

void ShowBox(QWidget* parent, BoxKind kind, const QString& text) {
    if (CurrentHooks().Box) {
        CurrentHooks().Box(kind, text);
        return;
    }
    if (Headless()) {
        QString line = text;
        line.replace('\n', ' ');
        std::fprintf(stderr, "%s%s%s\n", StandardErrorPrefix(Priority(kind)).c_str(), Prefix(kind),
                     line.toUtf8().constData());
        return;
    }
    // A box of a window bears that window's title; one of start-up, the program's.
    const QString title =
        parent != nullptr ? parent->window()->windowTitle() : QGuiApplication::applicationName();
    switch (kind) {
        case BoxKind::Warning:
            QMessageBox::warning(parent, title, text, QMessageBox::Ok);
            break;
        case BoxKind::Information:
            QMessageBox::information(parent, title, text, QMessageBox::Ok);
            break;
        case BoxKind::Critical:
            QMessageBox::critical(parent, title, text, QMessageBox::Ok);
            break;
    }
}

}  // namespace

bool Headless() {
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

void Warning(QWidget* parent, const QString& text) {
    ShowBox(parent, BoxKind::Warning, text);
}
void Information(QWidget* parent, const QString& text) {
    ShowBox(parent, BoxKind::Information, text);
}
void Critical(QWidget* parent, const QString& text) {
    ShowBox(parent, BoxKind::Critical, text);
}

std::optional<QString> ChooseDirectory(QWidget* parent, const QString& caption) {
    if (CurrentHooks().Directory) {
        return CurrentHooks().Directory(caption);
    }
    if (Headless()) {
        return std::nullopt;
    }
    // Rooted at the top of the file system, without a pre-selected folder.
    const QString chosen = QFileDialog::getExistingDirectory(parent, caption, QStringLiteral("/"),
                                                             QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen;
}

void OpenWithDesktop(const QString& path) {
    if (CurrentHooks().Open) {
        CurrentHooks().Open(path);
        return;
    }
    // Detached and not waited for; a missing or failing xdg-open is not the run's concern.
    QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

void SetHooks(Hooks hooks) {
    CurrentHooks() = std::move(hooks);
}
void ClearHooks() {
    CurrentHooks() = Hooks{};
}

}  // namespace quorvane::dialogs
