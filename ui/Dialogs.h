#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace quorvane::dialogs {

// Every box, the folder chooser and "open with the desktop" go through here, so that tests can
// answer them and a run without a display never waits on a box nobody can see.
enum class BoxKind { Warning, Information, Critical };

void Warning(QWidget* parent, const QString& text);
void Information(QWidget* parent, const QString& text);
void Critical(QWidget* parent, const QString& text);
// The chosen folder, or nothing when the user cancelled.
std::optional<QString> ChooseDirectory(QWidget* parent, const QString& caption);
// Hands the file to the desktop's default viewer and does not wait; failures are ignored.
void OpenWithDesktop(const QString& path);

// True on Qt's offscreen platform, where no box can be answered.
bool Headless();

// Test seams: when set, they replace the real box, chooser or opener.
struct Hooks {
    std::function<void(BoxKind, const QString&)> Box;
    std::function<std::optional<QString>(const QString& caption)> Directory;
    std::function<void(const QString&)> Open;
};
void SetHooks(Hooks hooks);
void ClearHooks();

}  // namespace quorvane::dialogs
