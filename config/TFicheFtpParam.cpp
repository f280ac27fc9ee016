#include "config/TFicheFtpParam.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <chrono>
#include <exception>
#include <utility>

#include "app/Dialogs.h"
#include "app/FormFont.h"
#include "config/IniFile.h"
#include "config/TextConversion.h"
#include "sync/retrieval/FtpSecuritySettings.h"

namespace quorvane {
namespace {

const QString kChampsVides = QStringLiteral("Veuillez renseigner la configuration FTP");
const QString kPortInvalide = QStringLiteral("Veuillez renseigner un port FTP valide (1 à 65535)");
const QString kConnexionEtablie = QStringLiteral("Connection établie avec le serveur FTP");
const std::string kEchecConnexion = "Impossible de se connecter au serveur FTP. Erreur ";
const std::string kEchecInconnu = "Impossible de se connecter au serveur FTP !";

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

void RunHandler(QWidget* window, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        dialogs::Critical(window, QString::fromUtf8(error.what()));
    } catch (...) {
        dialogs::Critical(window, QString());
    }
}

std::optional<int> ParsePortFtp(const std::string& text) {
    const auto value = TryStrToInt(text);
    if (!value || *value < 1 || *value > 65535) {
        return std::nullopt;
    }
    return *value;
}

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
    // Return in a field must not save or connect behind the user's back.
    for (QPushButton* button : {btnEnregistrer, btnTestFtp}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

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
    const TIniFile ini(cheminIni_);
    if (!ini.Exists()) {
        return;
    }
    edtLogin->setText(ToQString(ini.ReadString(section_, "Login", "")));
    edtPassword->setText(ToQString(ini.ReadString(section_, "Mdp", "")));
    edtHost->setText(ToQString(ini.ReadString(section_, "Host", "")));
    // An SFTP account without "Port" is on 22: showing 21 would save the wrong port.
    const int defaultPort = FtpSecuritySettings::Lire(ini, section_).PortParDefaut();
    edtPort->setText(ToQString(std::to_string(ini.ReadInteger(section_, "Port", defaultPort))));
}

std::optional<int> TFicheFtpParam::PortSaisi() {
    const auto port = ParsePortFtp(edtPort->text().toStdString());
    if (!port) {
        dialogs::Information(this, kPortInvalide);
    }
    return port;
}

void TFicheFtpParam::btnEnregistrerClick() {
    for (const QLineEdit* field : {edtLogin, edtPassword, edtHost, edtPort}) {
        if (field->text().isEmpty()) {
            dialogs::Information(this, kChampsVides);
            return;
        }
    }
    // Checked before the first write, so a refused port never leaves half an account saved.
    const auto port = PortSaisi();
    if (!port) {
        return;
    }
    TIniFile ini(cheminIni_);
    ini.WriteString(section_, "Login", edtLogin->text().toStdString());
    ini.WriteString(section_, "Mdp", edtPassword->text().toStdString());
    ini.WriteString(section_, "Host", edtHost->text().toStdString());
    ini.WriteInteger(section_, "Port", *port);
    accept();
}

void TFicheFtpParam::btnTestFtpClick() {
    const auto port = PortSaisi();
    if (!port) {
        return;
    }
    // The same settings, in the same order, as a run applies before it connects.
    IdFTP1.SetHost(edtHost->text().toStdString());
    IdFTP1.SetUsername(edtLogin->text().toStdString());
    IdFTP1.SetPassword(edtPassword->text().toStdString());
    IdFTP1.SetPort(*port);
    IdFTP1.SetTransferTimeout(std::chrono::milliseconds(0));

    std::string message;
    try {
        // The protection keys are not fields of this window: they come from the settings file.
        FtpSecuritySettings::Lire(TIniFile(cheminIni_), section_).Appliquer(IdFTP1);
        IdFTP1.Connect();
    } catch (const std::exception& error) {
        message = kEchecConnexion + error.what();
    } catch (...) {
        message = kEchecInconnu;
    }

    bool connected = false;
    try {
        connected = IdFTP1.Connected();
    } catch (...) {
        connected = false;
    }
    dialogs::Information(this, connected ? kConnexionEtablie : ToQString(message));
    // Whatever the box's outcome, the test leaves no session open.
    IdFTP1.Disconnect();
}

}  // namespace quorvane
