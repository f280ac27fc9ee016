#include "config/windows/TFicheQuorvaneClientConfig.h"
#include "ui/FormFont.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

#include "config/settings/Settings.h"
#include "config/windows/TFicheFtpParam.h"
#include "ui/Accessibility.h"
#include "ui/DialogKeys.h"
#include "ui/Dialogs.h"
#include "ui/RunHandler.h"

namespace quorvane {
namespace {

template <typename Control>
Control* Place(Control* control, const char* name, QRect geometry) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    return control;
}

}  // namespace

TFicheQuorvaneClientConfig::TFicheQuorvaneClientConfig(ProgramPaths paths, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      paths_(std::move(paths)) {
    setObjectName(QStringLiteral("FicheQuorvaneClientConfig"));
    setWindowTitle(QStringLiteral("Paramétrage de la Quorvane client"));
    setFont(FormFontPoints(QStringLiteral("Tahoma"), 8));
    setFixedSize(348, 368);
    BuildControls();
    RunHandler(this, [this] { FormCreate(); });
}

void TFicheQuorvaneClientConfig::BuildControls() {
    btnEnregistrer = Place(new QPushButton(QStringLiteral("Enregistrer"), this), "btnEnregistrer",
                           {209, 303, 125, 50});
    GroupBox1 = Place(new QGroupBox(QStringLiteral("Mise à jour du paramétrage Quorvane"), this),
                      "GroupBox1", {13, 8, 321, 289});
    QGroupBox* box = GroupBox1;
    cbConditionsAchats =
        Place(new QCheckBox(QStringLiteral("Récupérer les conditions d'achats"), box),
              "cbConditionsAchats", {24, 24, 281, 17});
    cbPersonnalisation =
        Place(new QCheckBox(QStringLiteral("Récupérer la personnalisation des modèles"), box),
              "cbPersonnalisation", {24, 56, 281, 17});
    cbMessagerie = Place(new QCheckBox(QStringLiteral("Récupérer les messages"), box),
                         "cbMessagerie", {24, 88, 281, 17});
    cbDocument = Place(new QCheckBox(QStringLiteral("Récupérer les documents"), box), "cbDocument",
                       {24, 120, 281, 17});
    // Both radio buttons share the group box, which makes them one exclusive choice.
    rbFtp =
        Place(new QRadioButton(QStringLiteral("Récupération du paramétrage Quorvane par FTP"), box),
              "rbFtp", {24, 160, 281, 17});
    btnFtpParam = Place(new QPushButton(QStringLiteral("Paramétrage"), box), "btnFtpParam",
                        {48, 183, 89, 25});
    rbChemin = Place(
        new QRadioButton(QStringLiteral("Récupération du paramétrage Quorvane par chemin"), box),
        "rbChemin", {24, 214, 294, 17});
    edtUri = Place(new QLineEdit(box), "edtUri", {48, 237, 226, 21});
    btnQuorvaneRep =
        Place(new QPushButton(QStringLiteral("..."), box), "btnQuorvaneRep", {280, 235, 25, 25});

    rbChemin->setChecked(true);
    btnFtpParam->setEnabled(false);
    // Its text changes only through the folder chooser or the settings.
    edtUri->setReadOnly(true);
    edtUri->setEnabled(false);
    btnQuorvaneRep->setEnabled(false);

    setTabOrder(btnEnregistrer, cbConditionsAchats);
    setTabOrder(cbConditionsAchats, cbPersonnalisation);
    setTabOrder(cbPersonnalisation, cbMessagerie);
    setTabOrder(cbMessagerie, edtUri);
    setTabOrder(edtUri, rbFtp);
    setTabOrder(rbFtp, rbChemin);
    setTabOrder(rbChemin, btnFtpParam);
    setTabOrder(btnFtpParam, btnQuorvaneRep);
    setTabOrder(btnQuorvaneRep, cbDocument);

    TabStopOnSelectedMode();

    SetAccessibleText(edtUri, QStringLiteral("Dossier source"),
                      QStringLiteral("Dossier d'où les fichiers du siège sont copiés"));
    SetAccessibleText(btnQuorvaneRep, QStringLiteral("Choisir le dossier source"));
    // "Enregistrer" comes first in the tab order; a first Space must not save and close.
    cbConditionsAchats->setFocus();
    UseDialogKeys(this, btnEnregistrer, [this] { close(); });

    // toggled also fires when loading selects a button, as the mode's rule needs.
    connect(rbFtp, &QRadioButton::toggled, this, [this] {
        TabStopOnSelectedMode();
        RunHandler(this, [this] { rbFtpClick(); });
    });
    connect(rbChemin, &QRadioButton::toggled, this, [this] {
        TabStopOnSelectedMode();
        RunHandler(this, [this] { rbCheminClick(); });
    });
    connect(btnQuorvaneRep, &QPushButton::clicked, this,
            [this] { RunHandler(this, [this] { btnQuorvaneRepClick(); }); });
    connect(btnFtpParam, &QPushButton::clicked, this,
            [this] { RunHandler(this, [this] { btnFtpParamClick(); }); });
    connect(btnEnregistrer, &QPushButton::clicked, this,
            [this] { RunHandler(this, [this] { btnEnregistrerClick(); }); });
}

void TFicheQuorvaneClientConfig::TabStopOnSelectedMode() {
    // Qt moves the stop only when a radio button receives the focus, and to that button, so
    // Tab would first land on whichever comes first in the chain, selected or not. The arrow
    // keys still move between the two.
    for (QRadioButton* button : {rbFtp, rbChemin}) {
        const int policy = button->focusPolicy();
        const int tab = Qt::TabFocus;
        button->setFocusPolicy(
            static_cast<Qt::FocusPolicy>(button->isChecked() ? policy | tab : policy & ~tab));
    }
}

void TFicheQuorvaneClientConfig::FormCreate() {
    if (const auto stored = settings::ReadMainSettings(paths_.CheminIni)) {
        cbConditionsAchats->setChecked(stored->RemiseAchat);
        cbPersonnalisation->setChecked(stored->Personnalisation);
        cbMessagerie->setChecked(stored->Message);
        cbDocument->setChecked(stored->Document);
        // Any other "TypeEnvoi" leaves the initial choice.
        if (stored->Mode == settings::TransferMode::Ftp) {
            rbFtp->setChecked(true);
        } else if (stored->Mode == settings::TransferMode::Folder) {
            rbChemin->setChecked(true);
        }
        edtUri->setText(QString::fromStdString(stored->Uri));
    }
    // Selecting rbFtp above has already applied its rule; folder mode may still be the
    // initial state, whose controls start disabled.
    if (rbChemin->isChecked()) {
        rbCheminClick();
    }
}

void TFicheQuorvaneClientConfig::rbFtpClick() {
    if (!rbFtp->isChecked()) {
        return;
    }
    edtUri->setEnabled(false);
    btnQuorvaneRep->setEnabled(false);
    btnFtpParam->setEnabled(true);
}

void TFicheQuorvaneClientConfig::rbCheminClick() {
    if (!rbChemin->isChecked()) {
        return;
    }
    edtUri->setEnabled(true);
    btnQuorvaneRep->setEnabled(true);
    btnFtpParam->setEnabled(false);
}

void TFicheQuorvaneClientConfig::btnQuorvaneRepClick() {
    const auto chosen =
        dialogs::ChooseDirectory(nullptr, QStringLiteral("Sélectionnez le répertoire de copie"));
    if (!chosen) {
        return;
    }
    QString folder = *chosen;
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    edtUri->setText(folder);
}

void TFicheQuorvaneClientConfig::btnFtpParamClick() {
    TFicheFtpParam fiche(this, paths_.CheminIni, settings::kFtpSection);
    fiche.exec();
}

void TFicheQuorvaneClientConfig::btnEnregistrerClick() {
    settings::MainSettings chosen;
    chosen.RemiseAchat = cbConditionsAchats->isChecked();
    chosen.Personnalisation = cbPersonnalisation->isChecked();
    chosen.Message = cbMessagerie->isChecked();
    chosen.Document = cbDocument->isChecked();
    chosen.Mode = rbFtp->isChecked() ? settings::TransferMode::Ftp : settings::TransferMode::Folder;
    chosen.Uri = edtUri->text().toStdString();
    // A refusal keeps the window open with the user's choices, to put right and save again.
    if (const auto refusal = settings::SaveMainSettings(paths_, chosen)) {
        dialogs::Information(this, QString::fromStdString(*refusal));
        return;
    }
    close();
}

}  // namespace quorvane
