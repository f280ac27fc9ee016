#include "sync/TFicheQuorvaneClientAuto.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

#include <filesystem>

#include "sync/RunOutcomeText.h"
#include "ui/Accessibility.h"
#include "ui/FormFont.h"
#include "ui/RunNotification.h"

namespace quorvane {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top,
                  int width = 130, int height = 13) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(left, top, width, height);
    return label;
}

QProgressBar* MakeBar(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setGeometry(left, top, width, height);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

QLabel* MakeImage(QWidget* parent, const QString& name, const QPixmap& picture, int left, int top,
                  const std::string& spoken) {
    auto* image = new QLabel(parent);
    image->setObjectName(name);
    SetAccessibleText(image, QString::fromStdString(spoken));
    image->setPixmap(picture);
    image->setGeometry(left, top, 16, 16);
    image->hide();
    return image;
}

struct RowLayout {
    Categorie categorie;
    const char* label;
    const char* caption;
    const char* suffix;
    const char* bar;
    const char* counter;
    int top;
    int counterLeft;
};

}  // namespace

TFicheQuorvaneClientAuto::TFicheQuorvaneClientAuto(ProgramPaths paths, RunOptions options,
                                                   QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      run_(std::make_unique<SynchronizationRun>(std::move(paths), std::move(options))) {
    setObjectName(QStringLiteral("FicheQuorvaneClientAuto"));
    setWindowTitle(QStringLiteral("Quorvane Client - Avancement de la synchronisation"));
    setWindowIcon(QIcon(QStringLiteral(":/images/quorvane.png")));
    setFont(FormFontPixels(QStringLiteral("MS Sans Serif"), 11));
    setFixedSize(514, 323);
    // A scheduled run appears over the application in use; the keys typed there stay there.
    setAttribute(Qt::WA_ShowWithoutActivating);
    BuildControls();

    TimerLancement = new QTimer(this);
    TimerLancement->setInterval(1000);
    connect(TimerLancement, &QTimer::timeout, this, &TFicheQuorvaneClientAuto::TimerLancementTimer);
    TimerClose = new QTimer(this);
    TimerClose->setInterval(1000);
    connect(TimerClose, &QTimer::timeout, this, &TFicheQuorvaneClientAuto::TimerCloseTimer);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    run_->Display().SetView(this);
    FormCreate();
}

TFicheQuorvaneClientAuto::~TFicheQuorvaneClientAuto() {
    run_->Display().SetView(nullptr);
}

void TFicheQuorvaneClientAuto::BuildControls() {
    GroupBox1 = new ShownChildrenGroupBox(QStringLiteral("Mise à jour Quorvane"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(16, 8, 481, 177);
    lblDllQuorvane =
        MakeLabel(GroupBox1, "lblDllQuorvane", QStringLiteral("Téléchargement"), 155, 14, 130);
    lblIntBDD = MakeLabel(GroupBox1, "lblIntBDD", QStringLiteral("Intégration BDD"), 293, 14, 130);

    const QPixmap pictureSucces(QStringLiteral(":/images/succes.png"));
    const QPixmap pictureEchec(QStringLiteral(":/images/echec.png"));
    const RowLayout rows[] = {
        {Categorie::RemiseAchat, "lblRA", "Conditions d'achats", "RA", "pgbRA", "lblCompteurRA", 33,
         424},
        {Categorie::Personnalisation, "lblPerso", "Personnalisation des modèles", "Perso",
         "pgbPerso", "lblCompteurPerso", 71, 424},
        {Categorie::Message, "lblMessage", "Messages", "Message", "pgbMessage", "lblCompteurMess",
         106, 425},
        {Categorie::Document, "lblDocument", "Documents", "Document", "pgbDocument",
         "lblCompteurDoc", 138, 425},
    };
    for (const auto& row : rows) {
        QLabel* label =
            MakeLabel(GroupBox1, row.label, QString::fromUtf8(row.caption), 24, row.top, 158);
        QProgressBar* bar = MakeBar(GroupBox1, row.bar, 238, row.top, 179, 17);
        QLabel* counter = MakeLabel(GroupBox1, row.counter, QString(), row.counterLeft, row.top, 6);
        const QString suffix = QString::fromLatin1(row.suffix);
        auto& pairs = Images[Index(row.categorie)];
        const auto image = [&](const char* column, Colonne colonne, bool succes, int left) {
            return MakeImage(
                GroupBox1,
                QString::fromLatin1(column) + suffix + (succes ? QString() : QStringLiteral("No")),
                succes ? pictureSucces : pictureEchec, left, row.top,
                NomImage(row.caption, colonne, succes));
        };
        pairs[0].Succes = image("imgDownload", Colonne::Telechargement, true, 184);
        pairs[0].Echec = image("imgDownload", Colonne::Telechargement, false, 184);
        pairs[1].Succes = image("imgIntegration", Colonne::Integration, true, 433);
        pairs[1].Echec = image("imgIntegration", Colonne::Integration, false, 433);
        SetAccessibleText(bar, label->text(),
                          QStringLiteral("Lignes intégrées de ") + label->text());
        switch (row.categorie) {
            case Categorie::RemiseAchat:
                lblRA = label, pgbRA = bar, lblCompteurRA = counter;
                break;
            case Categorie::Personnalisation:
                lblPerso = label, pgbPerso = bar, lblCompteurPerso = counter;
                break;
            case Categorie::Message:
                lblMessage = label, pgbMessage = bar, lblCompteurMess = counter;
                break;
            case Categorie::Document:
                lblDocument = label, pgbDocument = bar, lblCompteurDoc = counter;
                break;
        }
    }

    lblFermeture =
        MakeLabel(this, "lblFermeture", QStringLiteral("Fermeture dans 30 secondes"), 16, 253, 200);
    lblFermeture->setEnabled(false);
    pgbFermeture = MakeBar(this, "pgbFermeture", 16, 272, 481, 17);
    // Named by its caption, as it counts down.
    lblFermeture->setAccessibleDescription(
        QStringLiteral("Secondes restantes avant la fermeture de la fenêtre"));
    SetAccessibleText(pgbFermeture, QStringLiteral("Fermeture de la fenêtre"),
                      QStringLiteral("Secondes écoulées sur les 30 avant la fermeture"));
    annonce_ = new Announcement(this);
    Label1 = MakeLabel(this, "Label1", QStringLiteral("Version 2.0 du 28/05/2020"), 320, 295, 177);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

QProgressBar* TFicheQuorvaneClientAuto::Barre(Categorie categorie) const {
    switch (categorie) {
        case Categorie::RemiseAchat:
            return pgbRA;
        case Categorie::Personnalisation:
            return pgbPerso;
        case Categorie::Message:
            return pgbMessage;
        case Categorie::Document:
            return pgbDocument;
    }
    return nullptr;
}

void TFicheQuorvaneClientAuto::FormCreate() {
    TimerLancement->start();
}

void TFicheQuorvaneClientAuto::TimerLancementTimer() {
    // Off before anything else: the run lets the window process messages, and a second tick
    // must not start a second run.
    TimerLancement->stop();
    run_->Run();
    TellOutcome();

    countdown_.Start();
    pgbFermeture->setRange(0, CloseCountdown::kDuree);
    pgbFermeture->setValue(0);
    lblFermeture->setEnabled(true);
    TimerClose->start();
}

void TFicheQuorvaneClientAuto::TimerCloseTimer() {
    const CloseCountdown::Tick tick = countdown_.OnTick();
    if (tick.Close) {
        TimerClose->stop();
        run_->ReleaseErrors();
        close();
    }
    lblFermeture->setText(QString::fromStdString(tick.Caption));
    pgbFermeture->setValue(tick.BarPosition);
}

void TFicheQuorvaneClientAuto::TellOutcome() {
    const RunSummary summary = run_->Summary();
    const QString resume = QString::fromStdString(ResumeFinDeRun(summary));
    annonce_->Announce(QString::fromStdString(TitreFinDeRun(summary)) + QStringLiteral(".\n") +
                       resume);
    if (summary.Entrees.empty()) {
        return;
    }
    // Besides the report handed to the desktop: where no viewer opens, the employee still
    // learns that the run went wrong.
    const std::string& rapport = run_->State().Paths.CheminRapport;
    std::error_code ec;
    NotifyRunOutcome(resume, std::filesystem::is_regular_file(rapport, ec)
                                 ? QString::fromStdString(rapport)
                                 : QString());
}

void TFicheQuorvaneClientAuto::ImageChanged(Categorie categorie, Colonne colonne,
                                            ImageState state) {
    const ImagePair& pair = Images[Index(categorie)][static_cast<std::size_t>(colonne)];
    pair.Succes->setVisible(state == ImageState::Success);
    pair.Echec->setVisible(state == ImageState::Failure);
}

void TFicheQuorvaneClientAuto::ProgressChanged(Categorie categorie, const ProgressState& progress) {
    QProgressBar* bar = Barre(categorie);
    bar->setMaximum(progress.Max);
    bar->setValue(progress.Position);
}

void TFicheQuorvaneClientAuto::ProcessMessages(bool afterLine) {
    // The integration asks after every line; a repaint every few frames keeps the window alive
    // without paying an event-loop pass for each of a hundred thousand lines. Between
    // categories the window always repaints.
    if (!afterLine || !sinceRepaint_.isValid() || sinceRepaint_.elapsed() >= 15) {
        QCoreApplication::processEvents();
        sinceRepaint_.restart();
    }
}

}  // namespace quorvane
