#pragma once

#include <QLocale>

namespace quorvane {

// Loads Qt's own French texts (the standard buttons, the folder chooser, the message boxes)
// from the system's Qt translations, so that nothing of the program speaks English. False when
// the translations are not installed; the program then goes on with Qt's English.
bool InstallQtTranslations(const QLocale& locale = QLocale(QLocale::French, QLocale::France));

}  // namespace quorvane
