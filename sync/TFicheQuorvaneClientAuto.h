#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <memory>

#include "sync/CloseCountdown.h"
#include "sync/RunDisplay.h"
#include "sync/SynchronizationRun.h"

class QGroupBox;
class QLabel;
class QProgressBar;
class QTimer;

namespace quorvane {
class Announcement;
}

namespace quorvane {

// The synchronization window: a progress display over one SynchronizationRun. It starts the
// run one second after it was created and closes itself 30 seconds after the run ended.
class TFicheQuorvaneClientAuto : public QWidget, private RunView {
    Q_OBJECT

  public:
    explicit TFicheQuorvaneClientAuto(ProgramPaths paths, RunOptions options = {},
                                      QWidget* parent = nullptr);
    ~TFicheQuorvaneClientAuto() override;

    SynchronizationRun& Run() { return *run_; }

    // Handlers, public so that tests can drive the timers tick by tick.
    void FormCreate();
    void TimerLancementTimer();
    void TimerCloseTimer();

    QTimer* TimerLancement = nullptr;
    QTimer* TimerClose = nullptr;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblDllQuorvane = nullptr;
    QLabel* lblIntBDD = nullptr;
    QLabel* lblRA = nullptr;
    QLabel* lblPerso = nullptr;
    QLabel* lblMessage = nullptr;
    QLabel* lblDocument = nullptr;
    QProgressBar* pgbRA = nullptr;
    QProgressBar* pgbPerso = nullptr;
    QProgressBar* pgbMessage = nullptr;
    QProgressBar* pgbDocument = nullptr;
    QLabel* lblCompteurRA = nullptr;
    QLabel* lblCompteurPerso = nullptr;
    QLabel* lblCompteurMess = nullptr;
    QLabel* lblCompteurDoc = nullptr;
    QLabel* lblFermeture = nullptr;
    QProgressBar* pgbFermeture = nullptr;
    QLabel* Label1 = nullptr;
    // What a screen reader is told when the run ends.
    Announcement* Annonce() const { return annonce_; }

    // The success and failure image of each category and column, by [category][column].
    struct ImagePair {
        QLabel* Succes = nullptr;
        QLabel* Echec = nullptr;
    };
    std::array<std::array<ImagePair, 2>, 4> Images{};

    QProgressBar* Barre(Categorie categorie) const;

  private:
    void ImageChanged(Categorie categorie, Colonne colonne, ImageState state) override;
    void ProgressChanged(Categorie categorie, const ProgressState& progress) override;
    void ProcessMessages(bool afterLine) override;

    void BuildControls();
    // The end of the run, said to a screen reader and, when it has entries, to the desktop.
    void TellOutcome();

    std::unique_ptr<SynchronizationRun> run_;
    CloseCountdown countdown_;
    QElapsedTimer sinceRepaint_;
    Announcement* annonce_ = nullptr;
};

}  // namespace quorvane
