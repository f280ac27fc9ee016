#include "config/TFicheQuorvaneClientConfig.h"
#include "app/FormFont.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <filesystem>
#include <system_error>
#include <utility>

#include "app/Dialogs.h"
#include "config/IniFile.h"
#include "config/TFicheFtpParam.h"

namespace quorvane {
namespace {

const std::string kSection = "Quorvane";
const std::string kSectionUri = "Quorvane_URI";
const std::string kSectionFtp = "Quorvane_FTP";

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
    const TIniFile ini(paths_.CheminIni);
    if (ini.Exists()) {
        cbConditionsAchats->setChecked(ini.ReadBool(kSection, "Remise_Achat", false));
        cbPersonnalisation->setChecked(ini.ReadBool(kSection, "Personnalisation", false));
        cbMessagerie->setChecked(ini.ReadBool(kSection, "Message", false));
        cbDocument->setChecked(ini.ReadBool(kSection, "Document", false));
        const std::string typeEnvoi = ini.ReadString(kSection, "TypeEnvoi", "FTP");
        if (typeEnvoi == "FTP") {
            rbFtp->setChecked(true);
        } else if (typeEnvoi == "URI") {
            rbChemin->setChecked(true);
        }
        edtUri->setText(QString::fromStdString(ini.ReadString(kSectionUri, "URI", "")));
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
    TFicheFtpParam fiche(this, paths_.CheminIni, kSectionFtp);
    fiche.exec();
}

bool TFicheQuorvaneClientConfig::PreparerRepertoireAuto() {
    const std::filesystem::path folder(paths_.RepertoireAuto);
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) {
        return true;
    }
    // One level only: the program's folder itself is not made here.
    std::filesystem::create_directory(folder, ec);
    if (std::filesystem::is_directory(folder, ec)) {
        return true;
    }
    dialogs::Information(this, QStringLiteral("Erreur à la création du répertoire ") +
                                   QString::fromStdString(paths_.RepertoireAuto));
    return false;
}

void TFicheQuorvaneClientConfig::btnEnregistrerClick() {
    const bool uneCategorie = cbConditionsAchats->isChecked() || cbPersonnalisation->isChecked() ||
                              cbMessagerie->isChecked() || cbDocument->isChecked();
    if (uneCategorie && rbChemin->isChecked() && edtUri->text().isEmpty()) {
        dialogs::Information(
            this, QStringLiteral("Veuillez renseigner le répertoire de récupération du paramétrage "
                                 "Quorvane."));
        return;
    }
    // Without its download folder no run could work, so the choices stay on screen to retry
    // instead of being closed away unsaved.
    if (!PreparerRepertoireAuto()) {
        return;
    }
    TIniFile ini(paths_.CheminIni);
    ini.WriteBool(kSection, "Remise_Achat", cbConditionsAchats->isChecked());
    ini.WriteBool(kSection, "Personnalisation", cbPersonnalisation->isChecked());
    ini.WriteBool(kSection, "Message", cbMessagerie->isChecked());
    ini.WriteBool(kSection, "Document", cbDocument->isChecked());
    ini.WriteString(kSection, "TypeEnvoi", rbFtp->isChecked() ? "FTP" : "URI");
    ini.WriteString(kSectionUri, "URI", edtUri->text().toStdString());
    close();
}

}  // namespace quorvane
