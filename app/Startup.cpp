#include "app/Startup.h"

#include <QApplication>
#include <QLabel>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "base/IniFile.h"
#include "base/ProgramPaths.h"
#include "base/TextConversion.h"
#include "config/windows/TFicheQuorvaneClientConfig.h"
#include "database/Fonctionsbde.h"
#include "sync/RunLock.h"
#include "sync/TFicheQuorvaneClientAuto.h"
#include "ui/Dialogs.h"
#include "ui/FormFont.h"
#include "ui/StyleManager.h"
#include "ui/Translations.h"

namespace quorvane {
namespace {

// Reads ombbde.ini when the settings name it; false when a directory it names was refused.
bool PrepareDatabaseEnvironment(const ProgramPaths& paths) {
    return PrepareBdeEnvironment(paths, [](const std::string& text) {
        dialogs::Warning(nullptr, QString::fromStdString(text));
    });
}

std::unique_ptr<QWidget> CreateConfigurationWindow(const ProgramPaths& paths) {
    return std::make_unique<TFicheQuorvaneClientConfig>(paths);
}

bool Unset(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
}

bool HasDisplay() {
    return !Unset("DISPLAY") || !Unset("WAYLAND_DISPLAY");
}

}  // namespace

void ChoosePlatformWhenHeadless() {
    if (!HasDisplay() && Unset("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
}

void ApplyApplicationLook() {
    // Under a style sheet, controls take the application's font rather than their window's.
    // After the style: changing the style gives the kinds of controls the theme's fonts again.
    StyleManager::TrySetStyle(QStringLiteral("Smokey Quartz Kamri"), true);
    StyleManager::HoldApplicationFont(FormFontPixels(QStringLiteral("MS Sans Serif"), 11));
}

int RunProgram(StartMode mode, const ProgramPaths& paths) {
    try {
        // The refusal box of the database set-up is French too.
        InstallQtTranslations();
        const bool configuration = mode == StartMode::Configuration;
        // Before anything else of a run, the previous report's deletion included; held until
        // the process ends. Editing the settings needs no lock.
        std::optional<RunLock> runLock;
        if (!configuration) {
            runLock = RunLock::TakeFile(paths.CheminVerrou);
            if (runLock->Refused()) {
                dialogs::Warning(nullptr, QString::fromUtf8(kSynchronisationEnCours));
                return 0;
            }
        }
        if (!PrepareDatabaseEnvironment(paths)) {
            return 0;
        }
        ApplyApplicationLook();
        QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
        QApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/quorvane.png")));

        std::unique_ptr<QWidget> mainWindow;
        if (configuration) {
            mainWindow = CreateConfigurationWindow(paths);
        } else {
            RunOptions options;
            // Without a display there is no desktop to hand the report to; the journal's
            // closing line names it.
            if (HasDisplay()) {
                options.OpenReport = [](const std::string& path) {
                    dialogs::OpenWithDesktop(QString::fromStdString(path));
                };
            }
            mainWindow = std::make_unique<TFicheQuorvaneClientAuto>(paths, std::move(options));
        }
        mainWindow->show();
        QApplication::exec();
    } catch (const std::exception& e) {
        dialogs::Critical(nullptr, QString::fromUtf8(e.what()));
    } catch (...) {
        dialogs::Critical(nullptr, QString());
    }
    return 0;
}

}  // namespace quorvane
