#include "config/windows/TFicheFtpParam.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <chrono>
#include <exception>
#include <utility>

#include "base/IniFile.h"
#include "base/TextConversion.h"
#include "config/settings/Settings.h"
#include "sync/retrieval/ConnectionTest.h"
#include "sync/retrieval/FtpSecuritySettings.h"
#include "ui/Accessibility.h"
#include "ui/DialogKeys.h"
#include "ui/Dialogs.h"
#include "ui/FormFont.h"
#include "ui/RunHandler.h"

namespace quorvane {
namespace {

// A push button whose caption wraps over as many lines as its width needs, while text() keeps
// the caption exactly as given.
class WrappingButton : public QPushButton {
  public:
    WrappingButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
        const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
        painter.drawItemText(area.adjusted(2, 2, -2, -2),
                             Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, palette(),
                             isEnabled(), caption, QPalette::ButtonText);
    }
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, QRect geometry) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    return edit;
}

QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

TFicheFtpParam::TFicheFtpParam(QWidget* owner, std::string cheminIni, std::string section)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      cheminIni_(std::move(cheminIni)),
      section_(std::move(section)) {
    setObjectName(QStringLiteral("FicheFtpParam"));
    setWindowTitle(QStringLiteral("Paramétrage FTP"));
    setFont(FormFontPoints(QStringLiteral("Tahoma"), 8));
    setFixedSize(377, 193);
    BuildControls();
    RunHandler(this, [this] { FormCreate(); });
}

void TFicheFtpParam::BuildControls() {
    lblLogin = MakeLabel(this, "lblLogin", QStringLiteral("Login"), {17, 21, 25, 13});
    lblPwd = MakeLabel(this, "lblPwd", QStringLiteral("Mot de passe"), {17, 48, 64, 13});
    lblHost = MakeLabel(this, "lblHost", QStringLiteral("Host"), {17, 75, 22, 13});
    lblPort = MakeLabel(this, "lblPort", QStringLiteral("Port"), {17, 102, 20, 13});
    edtLogin = MakeEdit(this, "edtLogin", {87, 18, 177, 21});
    // Shown in clear, as the settings file keeps it.
    edtPassword = MakeEdit(this, "edtPassword", {87, 45, 177, 21});
    edtHost = MakeEdit(this, "edtHost", {87, 72, 177, 21});
    edtPort = MakeEdit(this, "edtPort", {87, 99, 177, 21});
    edtPort->setText(QStringLiteral("21"));

    btnEnregistrer = new QPushButton(QStringLiteral("Enregistrer"), this);
    btnEnregistrer->setObjectName(QStringLiteral("btnEnregistrer"));
    btnEnregistrer->setGeometry(236, 126, 125, 50);
    btnTestFtp = new WrappingButton(QStringLiteral("Test de la connexion FTP"), this);
    btnTestFtp->setObjectName(QStringLiteral("btnTestFtp"));
    btnTestFtp->setGeometry(270, 21, 91, 94);
    // Return presses the focused button, otherwise "Enregistrer"; never the connection test
    // behind the user's back.
    for (QPushButton* button : {btnEnregistrer, btnTestFtp}) {
        button->setAutoDefault(false);
    }
    UseDialogKeys(this, btnEnregistrer, [this] { reject(); });
    NameByLabel(lblLogin, edtLogin);
    NameByLabel(lblPwd, edtPassword);
    NameByLabel(lblHost, edtHost);
    NameByLabel(lblPort, edtPort);
    edtLogin->setFocus();

    setTabOrder(edtLogin, edtPassword);
    setTabOrder(edtPassword, edtHost);
    setTabOrder(edtHost, btnEnregistrer);
    setTabOrder(btnEnregistrer, edtPort);
    setTabOrder(edtPort, btnTestFtp);

    connect(btnEnregistrer, &QPushButton::clicked, this,
            [this] { RunHandler(this, [this] { btnEnregistrerClick(); }); });
    connect(btnTestFtp, &QPushButton::clicked, this,
            [this] { RunHandler(this, [this] { btnTestFtpClick(); }); });
}

void TFicheFtpParam::FormCreate() {
    const auto account = settings::ReadFtpAccount(cheminIni_, section_);
    if (!account) {
        return;
    }
    edtLogin->setText(ToQString(account->Login));
    edtPassword->setText(ToQString(account->Mdp));
    edtHost->setText(ToQString(account->Host));
    edtPort->setText(ToQString(std::to_string(account->Port)));
}

void TFicheFtpParam::btnEnregistrerClick() {
    const settings::FtpAccountInput typed{
        edtLogin->text().toStdString(), edtPassword->text().toStdString(),
        edtHost->text().toStdString(), edtPort->text().toStdString()};
    if (const auto refusal = settings::SaveFtpAccount(cheminIni_, section_, typed)) {
        dialogs::Information(this, ToQString(*refusal));
        return;
    }
    accept();
}

void TFicheFtpParam::btnTestFtpClick() {
    // A port that is no whole number ends the handler with the conversion error, in the
    // general error box, before anything is set or tried.
    const int port = settings::ConnectionTestPort(edtPort->text().toStdString());
    // The protection keys are not fields of this window: they come from the settings file.
    const ConnectionTestAccount account{
        edtHost->text().toStdString(), edtLogin->text().toStdString(),
        edtPassword->text().toStdString(), port,
        FtpSecuritySettings::Of(settings::ReadFtpAccount(cheminIni_, section_))};
    TesterConnexionFtp(IdFTP1, account, [this](const ConnectionTestResult& result) {
        dialogs::Information(this, ToQString(result.Message));
    });
}

}  // namespace quorvane
