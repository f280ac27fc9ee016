#pragma once

#include <QDialog>

#include <string>

#include "sync/retrieval/FtpClient.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace quorvane {

// The modal window that edits one FTP account (user name, password, host, port) of the settings
// file, tests a connection with the values typed in, and saves them. It is told which file and
// which section to edit, so it knows neither on its own.
class TFicheFtpParam : public QDialog {
    Q_OBJECT

  public:
    TFicheFtpParam(QWidget* owner, std::string cheminIni, std::string section);

    const std::string& CheminIni() const { return cheminIni_; }
    const std::string& Section() const { return section_; }

    // Handlers, public so that tests and the owner can name them.
    void FormCreate();
    void btnEnregistrerClick();
    void btnTestFtpClick();

    QLabel* lblLogin = nullptr;
    QLabel* lblPwd = nullptr;
    QLabel* lblHost = nullptr;
    QLabel* lblPort = nullptr;
    QLineEdit* edtLogin = nullptr;
    QLineEdit* edtPassword = nullptr;
    QLineEdit* edtHost = nullptr;
    QLineEdit* edtPort = nullptr;
    QPushButton* btnEnregistrer = nullptr;
    QPushButton* btnTestFtp = nullptr;

    // The client of the connection test; connected only while the test runs.
    FtpClient IdFTP1;

  private:
    void BuildControls();

    std::string cheminIni_;
    std::string section_;
};

}  // namespace quorvane
