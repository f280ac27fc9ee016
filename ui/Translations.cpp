#include "ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstring>
#include <utility>

namespace quorvane {
namespace {

// Texts of Qt's folder chooser that Debian's French catalogue of this Qt lacks (the kind of
// each entry, "Folder" in an otherwise French dialog). Asked only when the catalogue has
// nothing, since the translator installed last is asked first and answers nothing else.
class MissingQtFrench : public QTranslator {
  public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override {
        (void)disambiguation;
        (void)n;
        if (context == nullptr || sourceText == nullptr ||
            std::strcmp(context, "QAbstractFileIconProvider") != 0) {
            return {};
        }
        static const std::pair<const char*, const char*> kTexts[] = {
            {"Folder", "Dossier"},    {"File Folder", "Dossier"}, {"Drive", "Lecteur"},
            {"File", "Fichier"},      {"%1 File", "Fichier %1"},  {"Alias", "Alias"},
            {"Shortcut", "Raccourci"}};
        for (const auto& [english, french] : kTexts) {
            if (std::strcmp(sourceText, english) == 0) {
                return QString::fromUtf8(french);
            }
        }
        return {};
    }
};

}  // namespace

bool InstallQtTranslations(const QLocale& locale) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return false;
    }
    // Owned by the application, which keeps it installed for its whole life.
    auto* translator = new QTranslator(application);
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    if (locale.language() == QLocale::French) {
        QCoreApplication::installTranslator(new MissingQtFrench(application));
    }
    return true;
}

}  // namespace quorvane
