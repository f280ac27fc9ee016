#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <cmath>

#include "GuiTestSupport.h"
#include "app/Startup.h"
#include "config/windows/TFicheFtpParam.h"
#include "config/windows/TFicheQuorvaneClientConfig.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "sync/TFicheQuorvaneClientAuto.h"
#include "ui/StyleManager.h"
#include "ui/Translations.h"

namespace quorvane::testing {
namespace {

// The application as the program sets it up: Qt's French texts, the form font, the style.
class LookTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        quorvane::testing::Application();
        translated = InstallQtTranslations();
        ApplyApplicationLook();
    }
    static bool translated;
    quorvane::testing::TempDir dir;
    ProgramPaths paths = ProgramPaths::ForFolder(dir.Path().string());
};
bool LookTest::translated = false;

// The width a caption gets inside its control, and the width its text needs in the font the
// control ends up with.
struct Fit {
    int available = 0;
    int needed = 0;
};

std::optional<Fit> CaptionFit(QWidget* w) {
    const QFontMetrics metrics(w->font());
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty() || label->wordWrap()) {
            return std::nullopt;
        }
        return Fit{label->contentsRect().width() - 2 * label->margin(),
                   metrics.horizontalAdvance(label->text())};
    }
    if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr) {
        auto* button = qobject_cast<QAbstractButton*>(w);
        const bool radio = qobject_cast<QRadioButton*>(w) != nullptr;
        const int indicator = w->style()->pixelMetric(
            radio ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth, nullptr, w);
        const int spacing = w->style()->pixelMetric(
            radio ? QStyle::PM_RadioButtonLabelSpacing : QStyle::PM_CheckBoxLabelSpacing, nullptr,
            w);
        return Fit{w->width() - indicator - spacing, metrics.horizontalAdvance(button->text())};
    }
    return std::nullopt;
}

void ExpectEveryCaptionFits(QWidget& window) {
    window.show();
    int checked = 0;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const auto fit = CaptionFit(w);
        if (!fit) {
            continue;
        }
        ++checked;
        const QFontInfo face(w->font());
        EXPECT_TRUE(face.family() == "Tahoma" || face.family() == "Liberation Sans Narrow")
            << w->objectName().toStdString() << " is drawn in " << face.family().toStdString();
        EXPECT_LE(fit->needed, fit->available)
            << w->objectName().toStdString() << " needs " << fit->needed << " px, has "
            << fit->available << " in " << face.family().toStdString();
    }
    EXPECT_GT(checked, 3) << window.objectName().toStdString();
}

TEST_F(LookTest, EveryCaptionFitsItsControlInTheFontsTheProgramSelects) {
    TFicheQuorvaneClientConfig config(paths);
    ExpectEveryCaptionFits(config);
    TFicheFtpParam ftp(&config, paths.CheminIni, "Quorvane_FTP");
    ExpectEveryCaptionFits(ftp);
    TFicheQuorvaneClientAuto sync(paths);
    sync.TimerLancement->stop();
    ExpectEveryCaptionFits(sync);
}

// WCAG's relative luminance and contrast ratio of two colours.
double Luminance(QRgb c) {
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

// The strongest contrast between a pixel of one picture and the same pixel of the other.
double StrongestChange(const QImage& before, const QImage& after) {
    double best = 1.0;
    for (int y = 0; y < std::min(before.height(), after.height()); ++y) {
        for (int x = 0; x < std::min(before.width(), after.width()); ++x) {
            const double a = Luminance(before.pixel(x, y));
            const double b = Luminance(after.pixel(x, y));
            best = std::max(best, (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05));
        }
    }
    return best;
}

// Focus shows at 3:1 at least, and a disabled control does not look enabled, in both styles.
TEST_F(LookTest, FocusIsVisibleAndDisabledControlsLookDisabledInBothStyles) {
    for (const char* style : {"Smokey Quartz Kamri", "Emerald Light Slate"}) {
        ASSERT_TRUE(StyleManager::TrySetStyle(QString::fromLatin1(style), false));
        TFicheQuorvaneClientConfig w(paths);
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        for (QWidget* control : std::initializer_list<QWidget*>{
                 w.btnEnregistrer, w.cbPersonnalisation, w.rbChemin, w.edtUri}) {
            w.btnQuorvaneRep->setFocus();
            const QImage unfocused = control->grab().toImage();
            control->setFocus();
            ASSERT_TRUE(control->hasFocus());
            EXPECT_GE(StrongestChange(unfocused, control->grab().toImage()), 3.0)
                << style << ": " << control->objectName().toStdString();
        }
        for (QWidget* control : std::initializer_list<QWidget*>{w.btnQuorvaneRep, w.cbDocument}) {
            w.edtUri->setFocus();
            const QImage enabled = control->grab().toImage();
            control->setEnabled(false);
            EXPECT_GE(StrongestChange(enabled, control->grab().toImage()), 2.0)
                << style << ": " << control->objectName().toStdString();
        }
    }
    ASSERT_TRUE(StyleManager::TrySetStyle(QStringLiteral("Smokey Quartz Kamri"), false));
}

// The folder chooser and the standard buttons speak French.
TEST_F(LookTest, QtsOwnTextsAreFrench) {
    ASSERT_TRUE(translated) << "Qt's French translations (qt6-translations-l10n) are missing";
    QFileDialog chooser(nullptr, QStringLiteral("Sélectionnez le répertoire de copie"),
                        QStringLiteral("/"));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setFileMode(QFileDialog::Directory);
    QStringList texts;
    for (const QLabel* label : chooser.findChildren<QLabel*>()) {
        texts << label->text();
    }
    for (const QAbstractButton* button : chooser.findChildren<QAbstractButton*>()) {
        texts << button->text();
    }
    const QString all = texts.join(QStringLiteral(" | "));
    for (const char* english : {"Look in", "Directory:", "Choose", "Cancel"}) {
        EXPECT_FALSE(all.contains(QString::fromLatin1(english))) << all.toStdString();
    }
    EXPECT_TRUE(all.contains(QStringLiteral("Annuler"))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("Choisir"))) << all.toStdString();

    // The kind of each entry too, which Qt's French catalogue lacks.
    EXPECT_EQ(QAbstractFileIconProvider().type(QFileInfo(QString::fromStdString(dir.Folder()))),
              "Dossier");
    EXPECT_EQ(QCoreApplication::translate("QAbstractFileIconProvider", "Network"), "Network");

    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().remove('&'), "Annuler");
    EXPECT_EQ(box.button(QDialogButtonBox::Yes)->text().remove('&'), "Oui");
}

}  // namespace
}  // namespace quorvane::testing
