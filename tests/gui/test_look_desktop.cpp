#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <memory>

#include "GuiTestSupport.h"
#include "app/Startup.h"
#include "config/windows/TFicheFtpParam.h"
#include "config/windows/TFicheQuorvaneClientConfig.h"
#include "support/TempDir.h"
#include "sync/TFicheQuorvaneClientAuto.h"

// Run by run_in_desktop.py on a real X server, under the platform theme and scale factor its
// CTest entry names: each caption on screen is compared with the same caption given all the
// room it wants; a cut caption shows less ink.
namespace quorvane::testing {
namespace {

// The columns, in device pixels, between the first and the last that differ from the
// background (the image's most common colour).
int InkWidth(const QImage& image) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    int first = image.width();
    int last = -1;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QRgb p = image.pixel(x, y);
            const int distance = std::abs(qRed(p) - qRed(background)) +
                                 std::abs(qGreen(p) - qGreen(background)) +
                                 std::abs(qBlue(p) - qBlue(background));
            if (distance > 96) {
                first = std::min(first, x);
                last = x;
            }
        }
    }
    return last < first ? 0 : last - first + 1;
}

// The same control with the same caption and font, as wide as it likes.
std::unique_ptr<QWidget> Unbounded(QWidget* w) {
    std::unique_ptr<QWidget> copy;
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty()) {
            return nullptr;
        }
        copy = std::make_unique<QLabel>(label->text());
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
        copy = std::make_unique<QCheckBox>(box->text());
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        copy = std::make_unique<QRadioButton>(radio->text());
        static_cast<QRadioButton*>(copy.get())->setChecked(radio->isChecked());
    } else {
        return nullptr;
    }
    copy->setFont(w->font());
    copy->setEnabled(w->isEnabled());
    copy->resize(w->width() * 3, w->height());
    return copy;
}

void ExpectNoCaptionCut(QWidget& window, const char* name) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window)) << name;
    const QImage shot = window.grab().toImage();
    if (const char* folder = std::getenv("QUORVANE_SHOTS")) {
        shot.save(QStringLiteral("%1/%2-%3.png")
                      .arg(QString::fromLocal8Bit(folder), QString::fromLatin1(name),
                           qEnvironmentVariable("QUORVANE_LOOK_TAG")));
    }
    // Up to factor 1.5, inside a 1366 by 768 screen, title bar and borders included.
    if (window.devicePixelRatio() <= 1.5) {
        const QSize device = window.size() * window.devicePixelRatio();
        EXPECT_LE(device.width(), 1366 - 16) << name;
        EXPECT_LE(device.height(), 768 - 48) << name;
    }
    int compared = 0;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const auto copy = Unbounded(w);
        if (!copy || !w->isVisible()) {
            continue;
        }
        ++compared;
        const QFontInfo face(w->font());
        EXPECT_TRUE(face.family() == "Tahoma" || face.family() == "Liberation Sans Narrow")
            << w->objectName().toStdString() << " is drawn in " << face.family().toStdString();
        const int onScreen = InkWidth(w->grab().toImage());
        const int whole = InkWidth(copy->grab().toImage());
        EXPECT_GE(onScreen + 1, whole) << name << ": " << w->objectName().toStdString()
                                       << " is cut at " << onScreen << " of " << whole << " px";
    }
    EXPECT_GT(compared, 3) << name;
}

TEST(LookOnADesktop, NoCaptionIsCutUnderThePlatformThemeAndScale) {
    Application();
    ApplyApplicationLook();
    TempDir dir;
    const ProgramPaths paths = ProgramPaths::ForFolder(dir.Path().string());
    TFicheQuorvaneClientConfig config(paths);
    ExpectNoCaptionCut(config, "configuration");
    TFicheFtpParam ftp(&config, paths.CheminIni, "Quorvane_FTP");
    ExpectNoCaptionCut(ftp, "ftp");
    TFicheQuorvaneClientAuto sync(paths);
    sync.TimerLancement->stop();
    ExpectNoCaptionCut(sync, "synchronisation");
}

}  // namespace
}  // namespace quorvane::testing
