#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "sync/TFicheQuorvaneClientAuto.h"

namespace quorvane::testing {
namespace {

class SyncWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { quorvane::testing::Application(); }
    TempDir dir;
    ProgramPaths paths = ProgramPaths::ForFolder(dir.Path().string());
};

TEST_F(SyncWindowTest, ControlsStandWhereTheFormPutsThem) {
    TFicheQuorvaneClientAuto window(paths);
    EXPECT_EQ(window.windowTitle(), "Quorvane Client - Avancement de la synchronisation");
    EXPECT_EQ(window.size(), QSize(514, 323));
    EXPECT_EQ(window.GroupBox1->title(), "Mise à jour Quorvane");
    EXPECT_EQ(window.GroupBox1->geometry(), QRect(16, 8, 481, 177));
    EXPECT_EQ(window.lblDllQuorvane->text(), "Téléchargement");
    EXPECT_EQ(window.lblIntBDD->text(), "Intégration BDD");
    EXPECT_EQ(window.lblPerso->text(), "Personnalisation des modèles");
    EXPECT_EQ(window.lblPerso->pos(), QPoint(24, 71));
    EXPECT_EQ(window.pgbDocument->geometry(), QRect(238, 138, 179, 17));
    EXPECT_EQ(window.lblFermeture->text(), "Fermeture dans 30 secondes");
    EXPECT_FALSE(window.lblFermeture->isEnabled());
    EXPECT_EQ(window.pgbFermeture->geometry(), QRect(16, 272, 481, 17));
    EXPECT_EQ(window.Label1->text(), "Version 2.0 du 28/05/2020");
    EXPECT_TRUE(window.Label1->alignment() & Qt::AlignRight);
    const auto& ra = window.Images[Index(Categorie::RemiseAchat)];
    EXPECT_EQ(ra[0].Succes->objectName(), "imgDownloadRA");
    EXPECT_EQ(ra[1].Echec->objectName(), "imgIntegrationRANo");
    EXPECT_EQ(ra[1].Echec->geometry(), QRect(433, 33, 16, 16));
    EXPECT_TRUE(window.TimerLancement->isActive());
    EXPECT_EQ(window.TimerLancement->interval(), 1000);
    EXPECT_FALSE(window.TimerClose->isActive());
}

TEST_F(SyncWindowTest, RunShowsFailuresThenCountsDownAndCloses) {
    WriteFile(paths.CheminIni, "[Quorvane]\nRemise_Achat=1\nMessage=1\nTypeEnvoi=ftp\n");
    std::filesystem::create_directories(paths.RepertoireAuto);
    TFicheQuorvaneClientAuto window(paths);
    window.show();
    window.TimerLancementTimer();
    EXPECT_FALSE(window.TimerLancement->isActive());
    EXPECT_TRUE(window.TimerClose->isActive());
    EXPECT_TRUE(window.lblFermeture->isEnabled());
    const auto& ra = window.Images[Index(Categorie::RemiseAchat)];
    EXPECT_TRUE(ra[0].Echec->isVisible());
    EXPECT_FALSE(ra[0].Succes->isVisible());
    EXPECT_TRUE(ra[1].Echec->isVisible());
    EXPECT_FALSE(window.Images[Index(Categorie::Personnalisation)][0].Echec->isVisible());
    EXPECT_EQ(window.pgbFermeture->maximum(), 30);

    for (int tick = 1; tick <= 29; ++tick) {
        window.TimerCloseTimer();
        ASSERT_TRUE(window.isVisible()) << tick;
        EXPECT_EQ(window.lblFermeture->text(),
                  QString("Fermeture dans %1 secondes.").arg(30 - tick));
        EXPECT_EQ(window.pgbFermeture->value(), tick);
    }
    window.TimerCloseTimer();
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.TimerClose->isActive());
    EXPECT_EQ(window.lblFermeture->text(), "Fermeture dans 0 secondes.");
    EXPECT_EQ(window.pgbFermeture->value(), 30);
}

}  // namespace
}  // namespace quorvane::testing
