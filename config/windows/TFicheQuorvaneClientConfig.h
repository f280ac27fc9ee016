#pragma once

#include <QWidget>

#include "base/ProgramPaths.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quorvane {

// The configuration window opened by the CONFIG argument: which categories a run fetches,
// whether by FTP or from a folder, and which folder. It saves into the settings file, opens the
// FTP settings window for the account, and makes sure the download folder exists.
class TFicheQuorvaneClientConfig : public QWidget {
    Q_OBJECT

  public:
    explicit TFicheQuorvaneClientConfig(ProgramPaths paths, QWidget* parent = nullptr);

    const ProgramPaths& Paths() const { return paths_; }

    // Handlers, public so that tests can name them; the controls call them.
    void FormCreate();
    void rbFtpClick();
    void rbCheminClick();
    void btnQuorvaneRepClick();
    void btnFtpParamClick();
    void btnEnregistrerClick();

    QPushButton* btnEnregistrer = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* cbConditionsAchats = nullptr;
    QCheckBox* cbPersonnalisation = nullptr;
    QCheckBox* cbMessagerie = nullptr;
    QCheckBox* cbDocument = nullptr;
    QRadioButton* rbFtp = nullptr;
    QPushButton* btnFtpParam = nullptr;
    QRadioButton* rbChemin = nullptr;
    QLineEdit* edtUri = nullptr;
    QPushButton* btnQuorvaneRep = nullptr;

  private:
    void BuildControls();
    // The two radio buttons are one tab stop, on the selected one.
    void TabStopOnSelectedMode();

    ProgramPaths paths_;
};

}  // namespace quorvane
