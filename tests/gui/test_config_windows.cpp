#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "GuiTestSupport.h"
#include "config/windows/TFicheFtpParam.h"
#include "config/windows/TFicheQuorvaneClientConfig.h"
#include "support/FtpServers.h"
#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "ui/Dialogs.h"

namespace quorvane::testing {
namespace {

const QString kDossierManquant =
    "Veuillez renseigner le répertoire de récupération du paramétrage Quorvane.";
const QString kFtpIncomplet = "Veuillez renseigner la configuration FTP";
const QString kPortInvalide = "Veuillez renseigner un port FTP valide (1 à 65535)";
const QString kEchecFtp = "Impossible de se connecter au serveur FTP. Erreur ";

struct Box {
    dialogs::BoxKind kind;
    QString text;
};

// Every box and folder choice of a test goes through the project's dialog seam: boxes are
// recorded, the folder chooser answers from a queue (empty queue: cancelled).
class ConfigWindowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        quorvane::testing::Application();
        dialogs::Hooks hooks;
        hooks.Box = [this](dialogs::BoxKind kind, const QString& text) {
            boxes.push_back({kind, text});
        };
        hooks.Directory = [this](const QString& caption) -> std::optional<QString> {
            captions.push_back(caption);
            if (folders.empty()) {
                return std::nullopt;
            }
            auto answer = folders.front();
            folders.pop_front();
            return answer;
        };
        dialogs::SetHooks(std::move(hooks));
    }
    void TearDown() override { dialogs::ClearHooks(); }

    // Clicks a check or radio button on its indicator, a push button in its middle.
    static void Click(QAbstractButton* button) {
        const bool checkable =
            qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button);
        const QPoint at = checkable ? QPoint(6, button->height() / 2) : button->rect().center();
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
    }
    // Replaces the field's text as a user would: select all, then type.
    static void Type(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
        // QTest maps only ASCII characters to keys; others arrive as the text of an unnamed key.
        for (const QChar c : text) {
            if (c.unicode() < 0x80) {
                QTest::keyClick(edit, c.toLatin1());
            } else {
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c),
                                    Qt::NoModifier);
            }
        }
    }
    std::string Ini() const { return ReadFile(paths.CheminIni); }
    bool IniExists() const { return std::filesystem::exists(paths.CheminIni); }

    quorvane::testing::TempDir dir;
    ProgramPaths paths = ProgramPaths::ForFolder(dir.Path().string());
    std::vector<Box> boxes;
    std::vector<QString> captions;
    std::deque<QString> folders;
};

// The next widget the Tab key can reach, whatever the state of the controls.
QWidget* NextTabStop(QWidget* from) {
    for (QWidget* w = from->nextInFocusChain(); w != from; w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus) {
            return w;
        }
    }
    return nullptr;
}

void ExpectFolderMode(const TFicheQuorvaneClientConfig& w) {
    EXPECT_TRUE(w.rbChemin->isChecked());
    EXPECT_FALSE(w.rbFtp->isChecked());
    EXPECT_TRUE(w.edtUri->isEnabled());
    EXPECT_TRUE(w.btnQuorvaneRep->isEnabled());
    EXPECT_FALSE(w.btnFtpParam->isEnabled());
}

void ExpectFtpMode(const TFicheQuorvaneClientConfig& w) {
    EXPECT_TRUE(w.rbFtp->isChecked());
    EXPECT_FALSE(w.rbChemin->isChecked());
    EXPECT_FALSE(w.edtUri->isEnabled());
    EXPECT_FALSE(w.btnQuorvaneRep->isEnabled());
    EXPECT_TRUE(w.btnFtpParam->isEnabled());
}

void ExpectCloseBoxOnly(const QWidget& w) {
    const Qt::WindowFlags flags = w.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(w.font().family(), "Tahoma");
    EXPECT_EQ(w.font().pointSize(), 8);
}

TEST_F(ConfigWindowsTest, ConfigurationWindowLayoutCaptionsAndTabOrder) {
    TFicheQuorvaneClientConfig w(paths);
    EXPECT_EQ(w.windowTitle(), "Paramétrage de la Quorvane client");
    EXPECT_EQ(w.size(), QSize(348, 368));
    ExpectCloseBoxOnly(w);
    const std::vector<std::tuple<QWidget*, QWidget*, QString, QRect>> controls = {
        {w.btnEnregistrer, &w, w.btnEnregistrer->text(), {209, 303, 125, 50}},
        {w.GroupBox1, &w, w.GroupBox1->title(), {13, 8, 321, 289}},
        {w.cbConditionsAchats, w.GroupBox1, w.cbConditionsAchats->text(), {24, 24, 281, 17}},
        {w.cbPersonnalisation, w.GroupBox1, w.cbPersonnalisation->text(), {24, 56, 281, 17}},
        {w.cbMessagerie, w.GroupBox1, w.cbMessagerie->text(), {24, 88, 281, 17}},
        {w.cbDocument, w.GroupBox1, w.cbDocument->text(), {24, 120, 281, 17}},
        {w.rbFtp, w.GroupBox1, w.rbFtp->text(), {24, 160, 281, 17}},
        {w.btnFtpParam, w.GroupBox1, w.btnFtpParam->text(), {48, 183, 89, 25}},
        {w.rbChemin, w.GroupBox1, w.rbChemin->text(), {24, 214, 294, 17}},
        {w.edtUri, w.GroupBox1, w.edtUri->text(), {48, 237, 226, 21}},
        {w.btnQuorvaneRep, w.GroupBox1, w.btnQuorvaneRep->text(), {280, 235, 25, 25}},
    };
    const QStringList texts = {"Enregistrer",
                               "Mise à jour du paramétrage Quorvane",
                               "Récupérer les conditions d'achats",
                               "Récupérer la personnalisation des modèles",
                               "Récupérer les messages",
                               "Récupérer les documents",
                               "Récupération du paramétrage Quorvane par FTP",
                               "Paramétrage",
                               "Récupération du paramétrage Quorvane par chemin",
                               "",
                               "..."};
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto& [control, parent, text, geometry] = controls[i];
        EXPECT_EQ(control->parentWidget(), parent) << i;
        EXPECT_EQ(text, texts[static_cast<qsizetype>(i)]) << i;
        EXPECT_EQ(control->geometry(), geometry) << i;
    }
    EXPECT_TRUE(w.edtUri->isReadOnly());

    // One choice: selecting either radio button deselects the other.
    w.show();
    Click(w.rbFtp);
    EXPECT_FALSE(w.rbChemin->isChecked());
    Click(w.rbChemin);
    EXPECT_FALSE(w.rbFtp->isChecked());
}

// The widgets the Tab key visits from the first one until it comes back to it.
std::vector<std::string> TabRound(QWidget& window, QWidget* first) {
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    first->setFocus(Qt::TabFocusReason);
    std::vector<std::string> visited = {first->objectName().toStdString()};
    for (int i = 0; i < 16; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        visited.push_back(now != nullptr ? now->objectName().toStdString() : "<none>");
        if (now == first) {
            break;
        }
    }
    return visited;
}

// The two radio buttons are one stop, on the selected one; disabled controls are skipped.
TEST_F(ConfigWindowsTest, TabVisitsTheSelectedModeOnlyInTheWindowsOrder) {
    const std::vector<std::string> folderRound = {
        "btnEnregistrer", "cbConditionsAchats", "cbPersonnalisation", "cbMessagerie",  "edtUri",
        "rbChemin",       "btnQuorvaneRep",     "cbDocument",         "btnEnregistrer"};
    const std::vector<std::string> ftpRound = {
        "btnEnregistrer", "cbConditionsAchats", "cbPersonnalisation", "cbMessagerie",
        "rbFtp",          "btnFtpParam",        "cbDocument",         "btnEnregistrer"};
    {
        TFicheQuorvaneClientConfig w(paths);  // no settings: folder mode
        EXPECT_EQ(TabRound(w, w.btnEnregistrer), folderRound);
        // Choosing the other mode moves the stop with it, and back.
        Click(w.rbFtp);
        EXPECT_EQ(TabRound(w, w.btnEnregistrer), ftpRound);
        Click(w.rbChemin);
        EXPECT_EQ(TabRound(w, w.btnEnregistrer), folderRound);
    }
    WriteFile(paths.CheminIni, "[Quorvane]\r\nTypeEnvoi=FTP\r\n");
    {
        TFicheQuorvaneClientConfig w(paths);
        EXPECT_EQ(TabRound(w, w.btnEnregistrer), ftpRound);
        // The arrow keys still move between the two choices, and the stop follows.
        w.rbFtp->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w.rbFtp, Qt::Key_Down);
        EXPECT_TRUE(w.rbChemin->isChecked());
        EXPECT_EQ(TabRound(w, w.btnEnregistrer), folderRound);
    }
}

TEST_F(ConfigWindowsTest, LoadingSelectsTheModeTheSettingsName) {
    {
        TFicheQuorvaneClientConfig w(paths);  // no settings file
        ExpectFolderMode(w);
        for (QCheckBox* cb :
             {w.cbConditionsAchats, w.cbPersonnalisation, w.cbMessagerie, w.cbDocument}) {
            EXPECT_FALSE(cb->isChecked());
        }
        EXPECT_EQ(w.edtUri->text(), "");
    }
    WriteFile(paths.CheminIni,
              "[quorvane]\nRemise_Achat=1\nPersonnalisation=yes\nMessage=2\nDocument=0\n"
              "TypeEnvoi=FTP\n[Quorvane_URI]\nURI=/srv/caf\xE9/\n");
    {
        TFicheQuorvaneClientConfig w(paths);
        ExpectFtpMode(w);
        EXPECT_TRUE(w.cbConditionsAchats->isChecked());
        EXPECT_FALSE(w.cbPersonnalisation->isChecked());
        EXPECT_TRUE(w.cbMessagerie->isChecked());
        EXPECT_FALSE(w.cbDocument->isChecked());
        EXPECT_EQ(w.edtUri->text(), "/srv/café/");  // kept while disabled
    }
    const std::vector<std::pair<std::string, bool>> modes = {
        {"TypeEnvoi=URI\n", false}, {"TypeEnvoi=ftp\n", false}, {"TypeEnvoi=\n", false},
        {"TypeEnvoi=FTP \n", true}, {"Document=1\n", true},     {"TypeEnvoi=FTPS\n", false},
    };
    for (const auto& [line, ftp] : modes) {
        WriteFile(paths.CheminIni, "[Quorvane]\n" + line);
        TFicheQuorvaneClientConfig w(paths);
        SCOPED_TRACE(line);
        if (ftp) {
            ExpectFtpMode(w);
        } else {
            ExpectFolderMode(w);
        }
    }
}

TEST_F(ConfigWindowsTest, ModeButtonsEnableTheirControls) {
    WriteFile(paths.CheminIni, "[Quorvane_URI]\nURI=/data/\n[Quorvane]\nTypeEnvoi=URI\n");
    TFicheQuorvaneClientConfig w(paths);
    w.show();
    ExpectFolderMode(w);
    Click(w.rbFtp);
    ExpectFtpMode(w);
    EXPECT_EQ(w.edtUri->text(), "/data/");
    Click(w.rbChemin);
    ExpectFolderMode(w);
    EXPECT_EQ(w.edtUri->text(), "/data/");
    // A handler called while its button is not selected changes nothing.
    w.rbFtpClick();
    ExpectFolderMode(w);
    // Typing into the read-only field changes nothing either.
    QTest::keyClicks(w.edtUri, "x");
    EXPECT_EQ(w.edtUri->text(), "/data/");
}

TEST_F(ConfigWindowsTest, EmptyFolderWithACategoryIsRefusedAndNothingWritten) {
    TFicheQuorvaneClientConfig w(paths);
    w.show();
    Click(w.cbMessagerie);
    ASSERT_TRUE(w.cbMessagerie->isChecked());
    Click(w.btnEnregistrer);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, dialogs::BoxKind::Information);
    EXPECT_EQ(boxes[0].text, kDossierManquant);
    EXPECT_FALSE(IniExists());
    EXPECT_FALSE(std::filesystem::exists(paths.RepertoireAuto));
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.cbMessagerie->isChecked());

    // The same input in FTP mode is accepted: neither the folder nor the account is checked.
    Click(w.rbFtp);
    Click(w.btnEnregistrer);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(std::filesystem::is_directory(paths.RepertoireAuto));
    EXPECT_EQ(Ini(),
              "[Quorvane]\r\nRemise_Achat=0\r\nPersonnalisation=0\r\nMessage=1\r\nDocument=0\r\n"
              "TypeEnvoi=FTP\r\n[Quorvane_URI]\r\nURI=\r\n");
}

TEST_F(ConfigWindowsTest, SavingRewritesOnlyItsKeysInPlace) {
    // CR LF lines, a Windows-1252 byte, keys in another case, comments and other sections.
    const std::string before =
        "; installed by the store\r\n[Setup]\r\nDir=C:\\Ombrelin\\Donn\xE9"
        "es\r\n"
        "[QUORVANE]\r\nremise_achat=0\r\nTypeEnvoi=ftp\r\nAutre=garde\r\n"
        "[Quorvane_FTP]\r\nLogin=magasin\r\nMdp=s\xE9same\r\nHost=ftp.example\r\nPort=2121\r\n"
        "[Quorvane_URI]\r\nURI=/mnt/partage/\r\n[Ombrelin]\r\nOmbrelin=1\r\n";
    WriteFile(paths.CheminIni, before);
    std::filesystem::create_directory(paths.RepertoireAuto);
    TFicheQuorvaneClientConfig w(paths);
    w.show();
    ExpectFolderMode(w);
    Click(w.cbConditionsAchats);
    Click(w.cbDocument);
    Click(w.btnEnregistrer);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(w.isVisible());
    const std::string after =
        "; installed by the store\r\n[Setup]\r\nDir=C:\\Ombrelin\\Donn\xE9"
        "es\r\n"
        "[QUORVANE]\r\nremise_achat=1\r\nTypeEnvoi=URI\r\nAutre=garde\r\n"
        "Personnalisation=0\r\nMessage=0\r\nDocument=1\r\n"
        "[Quorvane_FTP]\r\nLogin=magasin\r\nMdp=s\xE9same\r\nHost=ftp.example\r\nPort=2121\r\n"
        "[Quorvane_URI]\r\nURI=/mnt/partage/\r\n[Ombrelin]\r\nOmbrelin=1\r\n";
    EXPECT_EQ(Ini(), after);
}

TEST_F(ConfigWindowsTest, FolderChooserAppendsOneSeparator) {
    TFicheQuorvaneClientConfig w(paths);
    w.show();
    folders = {"/data", "/", "/srv/déjà/"};
    Click(w.btnQuorvaneRep);
    EXPECT_EQ(w.edtUri->text(), "/data/");
    Click(w.btnQuorvaneRep);
    EXPECT_EQ(w.edtUri->text(), "/");
    Click(w.btnQuorvaneRep);
    EXPECT_EQ(w.edtUri->text(), "/srv/déjà/");
    Click(w.btnQuorvaneRep);  // cancelled
    EXPECT_EQ(w.edtUri->text(), "/srv/déjà/");
    ASSERT_EQ(captions.size(), 4u);
    EXPECT_EQ(captions[0], "Sélectionnez le répertoire de copie");

    Click(w.cbPersonnalisation);
    Click(w.btnEnregistrer);
    EXPECT_TRUE(boxes.empty());
    EXPECT_NE(Ini().find("[Quorvane_URI]\r\nURI=/srv/d\xE9j\xE0/\r\n"), std::string::npos);
}

TEST_F(ConfigWindowsTest, DownloadFolderThatCannotBeMadeKeepsTheWindowAndWritesNothing) {
    // A regular file where the folder belongs refuses the folder, for root as well.
    const std::string autoPath = paths.RepertoireAuto.substr(0, paths.RepertoireAuto.size() - 1);
    WriteFile(autoPath, "not a folder");
    const std::string before = "[Quorvane]\nTypeEnvoi=URI\n";
    WriteFile(paths.CheminIni, before);
    TFicheQuorvaneClientConfig w(paths);
    w.show();
    Click(w.cbDocument);
    Click(w.rbFtp);
    Click(w.btnEnregistrer);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, dialogs::BoxKind::Information);
    EXPECT_EQ(boxes[0].text,
              "Erreur à la création du répertoire " + QString::fromStdString(paths.RepertoireAuto));
    EXPECT_EQ(Ini(), before);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.cbDocument->isChecked());
    EXPECT_TRUE(w.rbFtp->isChecked());
    EXPECT_EQ(ReadFile(autoPath), "not a folder");
}

TEST_F(ConfigWindowsTest, RefusedWriteIsShownAsAnErrorAndTheWindowStays) {
    // A folder in place of the settings file: its replacement is refused, for root as well.
    std::filesystem::create_directory(paths.CheminIni);
    TFicheQuorvaneClientConfig w(paths);
    w.show();
    Click(w.btnEnregistrer);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, dialogs::BoxKind::Critical);
    EXPECT_TRUE(boxes[0].text.startsWith("Impossible d'écrire le fichier de paramètres "))
        << boxes[0].text.toStdString();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(std::filesystem::is_directory(paths.CheminIni));
}

TEST_F(ConfigWindowsTest, ReadOnlySettingsFileOrFolderIsNotReplacedByEitherWindow) {
    const std::string before = "[Quorvane]\nTypeEnvoi=URI\n[Quorvane_FTP]\nLogin=ancien\n";
    WriteFile(paths.CheminIni, before);
    const auto expectRefused = [&](const char* what) {
        SCOPED_TRACE(what);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].kind, dialogs::BoxKind::Critical);
        EXPECT_EQ(boxes[0].text, QString::fromStdString("Impossible d'écrire le fichier de "
                                                        "paramètres " +
                                                        paths.CheminIni + " : ") +
                                     QString::fromLocal8Bit(std::strerror(EACCES)));
        EXPECT_EQ(Ini(), before);
        boxes.clear();
    };
    // The file marked read-only, then a writable file in a read-only folder: refused for root
    // too, as a write into them would be, and the folder holds nothing new.
    for (const bool readOnlyFolder : {false, true}) {
        std::filesystem::permissions(
            readOnlyFolder ? dir.Path() : std::filesystem::path(paths.CheminIni),
            std::filesystem::perms(readOnlyFolder ? 0555 : 0444));
        {
            TFicheQuorvaneClientConfig w(paths);
            w.show();
            Click(w.btnEnregistrer);
            expectRefused("configuration window");
            EXPECT_TRUE(w.isVisible());
        }
        {
            TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
            w.show();
            Type(w.edtLogin, "nouveau");
            Type(w.edtPassword, "p");
            Type(w.edtHost, "h");
            Click(w.btnEnregistrer);
            expectRefused("FTP window");
            EXPECT_TRUE(w.isVisible());
        }
        std::filesystem::permissions(
            readOnlyFolder ? dir.Path() : std::filesystem::path(paths.CheminIni),
            std::filesystem::perms(readOnlyFolder ? 0755 : 0644));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                                std::filesystem::directory_iterator()),
                  2)
            << "the settings file and Auto/, no temporary left";
    }
}

TEST_F(ConfigWindowsTest, ParametrageOpensTheFtpWindowModallyOnTheFtpSection) {
    WriteFile(paths.CheminIni, "[Quorvane]\nTypeEnvoi=FTP\n[Quorvane_FTP]\nLogin=magasin\n");
    TFicheQuorvaneClientConfig w(paths);
    w.show();
    struct Seen {
        bool found = false, modal = false;
        QWidget* owner = nullptr;
        std::string path, section;
        QString login, port;
    } seen;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* fiche = qobject_cast<TFicheFtpParam*>(QApplication::activeModalWidget());
        if (fiche == nullptr) {
            return;
        }
        seen = {true,
                fiche->isModal(),
                fiche->parentWidget(),
                fiche->CheminIni(),
                fiche->Section(),
                fiche->edtLogin->text(),
                fiche->edtPort->text()};
        poll.stop();
        fiche->close();  // the close box: nothing saved
    });
    poll.start();
    Click(w.btnFtpParam);
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.modal);
    EXPECT_EQ(seen.owner, &w);
    EXPECT_EQ(seen.path, paths.CheminIni);
    EXPECT_EQ(seen.section, "Quorvane_FTP");
    EXPECT_EQ(seen.login, "magasin");
    EXPECT_EQ(seen.port, "21");
    EXPECT_TRUE(w.findChildren<TFicheFtpParam*>().isEmpty());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(Ini(), "[Quorvane]\nTypeEnvoi=FTP\n[Quorvane_FTP]\nLogin=magasin\n");
}

// A loopback port with nothing listening: bound once to learn a free number, then released.
int RefusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

class FtpWindowTest : public ConfigWindowsTest {
  protected:
    void Fill(TFicheFtpParam& w, const QString& login, const QString& password, const QString& host,
              const QString& port) {
        Type(w.edtLogin, login);
        Type(w.edtPassword, password);
        Type(w.edtHost, host);
        Type(w.edtPort, port);
    }
};

TEST_F(FtpWindowTest, LayoutCaptionsAndTabOrder) {
    TFicheQuorvaneClientConfig owner(paths);
    TFicheFtpParam w(&owner, paths.CheminIni, "Quorvane_FTP");
    EXPECT_EQ(w.windowTitle(), "Paramétrage FTP");
    EXPECT_EQ(w.size(), QSize(377, 193));
    ExpectCloseBoxOnly(w);
    EXPECT_EQ(w.parentWidget(), &owner);
    const std::vector<std::tuple<QWidget*, QString, QRect>> controls = {
        {w.lblLogin, w.lblLogin->text(), {17, 21, 25, 13}},
        {w.lblPwd, w.lblPwd->text(), {17, 48, 64, 13}},
        {w.lblHost, w.lblHost->text(), {17, 75, 22, 13}},
        {w.lblPort, w.lblPort->text(), {17, 102, 20, 13}},
        {w.edtLogin, w.edtLogin->text(), {87, 18, 177, 21}},
        {w.edtPassword, w.edtPassword->text(), {87, 45, 177, 21}},
        {w.edtHost, w.edtHost->text(), {87, 72, 177, 21}},
        {w.edtPort, w.edtPort->text(), {87, 99, 177, 21}},
        {w.btnEnregistrer, w.btnEnregistrer->text(), {236, 126, 125, 50}},
        {w.btnTestFtp, w.btnTestFtp->text(), {270, 21, 91, 94}},
    };
    const QStringList texts = {"Login",
                               "Mot de passe",
                               "Host",
                               "Port",
                               "",
                               "",
                               "",
                               "21",
                               "Enregistrer",
                               "Test de la connexion FTP"};
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto& [control, text, geometry] = controls[i];
        EXPECT_EQ(text, texts[static_cast<qsizetype>(i)]) << i;
        EXPECT_EQ(control->geometry(), geometry) << i;
    }
    EXPECT_EQ(w.edtPassword->echoMode(), QLineEdit::Normal);
    const std::vector<QWidget*> chain = {w.edtLogin, w.edtPassword, w.edtHost, w.btnEnregistrer,
                                         w.edtPort,  w.btnTestFtp,  w.edtLogin};
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
        EXPECT_EQ(NextTabStop(chain[i]), chain[i + 1]) << i;
    }
    // The caption wraps inside its narrow button without losing its width on screen.
    w.show();
    EXPECT_FALSE(w.btnTestFtp->grab().isNull());
}

TEST_F(FtpWindowTest, LoadingReadsTheGivenSection) {
    {
        TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
        EXPECT_EQ(w.edtLogin->text(), "");
        EXPECT_EQ(w.edtPassword->text(), "");
        EXPECT_EQ(w.edtHost->text(), "");
        EXPECT_EQ(w.edtPort->text(), "21");
    }
    WriteFile(paths.CheminIni,
              "[quorvane_ftp]\nLogin= magasin 12\nMdp=s\xE9same\nHost=ftp.example\nPort=2121\n"
              "[Autre]\nLogin=autre\nPort=abc\n");
    {
        TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
        EXPECT_EQ(w.edtLogin->text(), "magasin 12");
        EXPECT_EQ(w.edtPassword->text(), "sésame");
        EXPECT_EQ(w.edtHost->text(), "ftp.example");
        EXPECT_EQ(w.edtPort->text(), "2121");
    }
    TFicheFtpParam other(nullptr, paths.CheminIni, "Autre");
    EXPECT_EQ(other.edtLogin->text(), "autre");
    EXPECT_EQ(other.edtHost->text(), "");
    EXPECT_EQ(other.edtPort->text(), "21");  // not a whole number
}

TEST_F(FtpWindowTest, EmptyFieldOrInvalidPortWritesNothing) {
    const std::string before = "[Quorvane_FTP]\nLogin=ancien\nPort=21\n";
    WriteFile(paths.CheminIni, before);
    TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
    w.show();
    const std::vector<std::vector<QString>> empties = {
        {"", "p", "h", "21"}, {"u", "", "h", "21"}, {"u", "p", "", "21"}, {"u", "p", "h", ""}};
    for (const auto& values : empties) {
        boxes.clear();
        Fill(w, values[0], values[1], values[2], values[3]);
        Click(w.btnEnregistrer);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].kind, dialogs::BoxKind::Information);
        EXPECT_EQ(boxes[0].text, kFtpIncomplet);
        EXPECT_TRUE(w.isVisible());
    }
    for (const QString port : {"abc", "0", "65536", "-21", "21x", " ", "99999999999"}) {
        boxes.clear();
        Fill(w, "u", "p", "h", port);
        Click(w.btnEnregistrer);
        ASSERT_EQ(boxes.size(), 1u) << port.toStdString();
        EXPECT_EQ(boxes[0].text, kPortInvalide) << port.toStdString();
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.edtPort->text(), port);
    }
    EXPECT_EQ(Ini(), before);
}

TEST_F(FtpWindowTest, SavingWritesTheFourKeysAndLeavesTheRest) {
    const std::string before =
        "[Quorvane]\r\nRemise_Achat=1\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/data/\r\n"
        "[Quorvane_FTP]\r\nPort=21\r\nLogin=ancien\r\n[Setup]\r\nDir=/opt/ombrelin/\r\n";
    WriteFile(paths.CheminIni, before);
    TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
    w.show();
    // Spaces count as filled, and the port's text may carry blanks and a sign.
    Fill(w, "magasin", "mot de passé ", "  ", " +2121");
    Click(w.btnEnregistrer);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(Ini(),
              "[Quorvane]\r\nRemise_Achat=1\r\nTypeEnvoi=URI\r\n[Quorvane_URI]\r\nURI=/data/\r\n"
              "[Quorvane_FTP]\r\nPort=2121\r\nLogin=magasin\r\nMdp=mot de pass\xE9 \r\nHost=  \r\n"
              "[Setup]\r\nDir=/opt/ombrelin/\r\n");
}

TEST_F(FtpWindowTest, ConnectionTestWithAValidAccountThenCloseSavesNothing) {
    quorvane::testing::FtpTestServer server;
    TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
    w.show();
    bool connectedDuringBox = false;
    dialogs::Hooks hooks;
    hooks.Box = [&](dialogs::BoxKind kind, const QString& text) {
        boxes.push_back({kind, text});
        connectedDuringBox = w.IdFTP1.Connected();
    };
    dialogs::SetHooks(hooks);
    Fill(w, QString::fromStdString(server.User()), QString::fromStdString(server.Password()),
         "127.0.0.1", QString::number(server.Port()));
    Click(w.btnTestFtp);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, dialogs::BoxKind::Information);
    EXPECT_EQ(boxes[0].text, "Connection établie avec le serveur FTP");
    EXPECT_TRUE(connectedDuringBox);
    EXPECT_FALSE(w.IdFTP1.Connected());
    EXPECT_EQ(w.IdFTP1.Port(), server.Port());
    EXPECT_EQ(w.IdFTP1.TransferTimeout().count(), 0);
    EXPECT_EQ(server.CountCommands("USER"), 1);
    EXPECT_EQ(server.CountCommands("QUIT"), 1);
    EXPECT_TRUE(w.isVisible());
    w.close();
    EXPECT_FALSE(IniExists());
}

TEST_F(FtpWindowTest, ProtectedAccountIsTestedAsTheRunConnectsAndItsKeysAreKept) {
    quorvane::testing::TestCertificate certificate("IP:127.0.0.1");
    quorvane::testing::FtpServerOptions options;
    options.tlsCertificate = certificate.ServerPem();
    quorvane::testing::FtpTestServer server(options);
    const std::string protection =
        "Securite=TLS\nCertificatAC=" + certificate.Authority().string() +
        "\nCleHote=SHA256:gardée telle quelle\n";
    WriteFile(paths.CheminIni, "[Quorvane_FTP]\n" + protection);
    {
        TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
        w.show();
        Fill(w, QString::fromStdString(server.User()), QString::fromStdString(server.Password()),
             "127.0.0.1", QString::number(server.Port()));
        Click(w.btnTestFtp);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Connection établie avec le serveur FTP");
        EXPECT_EQ(server.Commands().front(), "AUTH TLS");
        boxes.clear();
        Click(w.btnEnregistrer);
        EXPECT_TRUE(boxes.empty());
    }
    // The window wrote its four keys and left the protection keys as they were.
    EXPECT_EQ(Ini(), "[Quorvane_FTP]\n" + protection + "Login=" + server.User() +
                         "\nMdp=" + server.Password() +
                         "\nHost=127.0.0.1\nPort=" + std::to_string(server.Port()) + "\n");

    // Without the authority the test says why it failed.
    WriteFile(paths.CheminIni, "[Quorvane_FTP]\nSecurite=tls\n");
    {
        boxes.clear();
        TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
        w.show();
        Fill(w, QString::fromStdString(server.User()), QString::fromStdString(server.Password()),
             "127.0.0.1", QString::number(server.Port()));
        Click(w.btnTestFtp);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].text.startsWith(kEchecFtp + "Certificat du serveur refusé : "))
            << boxes[0].text.toStdString();
        EXPECT_FALSE(w.IdFTP1.Connected());
    }

    // An SFTP account without "Port" is on 22, and the window shows it so.
    WriteFile(paths.CheminIni, "[Quorvane_FTP]\nSecurite=SFTP\nLogin=magasin\n");
    TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
    EXPECT_EQ(w.edtPort->text(), "22");
}

TEST_F(FtpWindowTest, ConnectionTestFailuresGiveTheClientsText) {
    quorvane::testing::FtpTestServer server;
    TFicheFtpParam w(nullptr, paths.CheminIni, "Quorvane_FTP");
    w.show();
    // The expected text is what the project's client itself says for the same account.
    const auto clientText = [](const std::string& user, const std::string& password, int port) {
        FtpClient client;
        client.SetHost("127.0.0.1");
        client.SetUsername(user);
        client.SetPassword(password);
        client.SetPort(port);
        try {
            client.Connect();
        } catch (const FtpError& error) {
            return QString::fromUtf8(error.what());
        }
        return QString();
    };
    const QString refused = clientText(server.User(), "faux", server.Port());
    ASSERT_FALSE(refused.isEmpty());
    Fill(w, QString::fromStdString(server.User()), "faux", "127.0.0.1",
         QString::number(server.Port()));
    Click(w.btnTestFtp);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kEchecFtp + refused);
    EXPECT_FALSE(w.IdFTP1.Connected());

    const int closed = RefusedPort();
    boxes.clear();
    Type(w.edtPort, QString::number(closed));
    Click(w.btnTestFtp);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith(kEchecFtp)) << boxes[0].text.toStdString();
    EXPECT_GT(boxes[0].text.size(), kEchecFtp.size());
    EXPECT_FALSE(w.IdFTP1.Connected());

    // A port that is no whole number ends the test with the conversion error in the general
    // error box; a whole number that is no port gets the test's own failure. Neither connects.
    const int usersBefore = server.CountCommands("USER");
    const std::vector<std::pair<QString, Box>> ports = {
        {"abc", {dialogs::BoxKind::Critical, "'abc' n'est pas une valeur entière valide"}},
        {"99999999999",
         {dialogs::BoxKind::Critical, "'99999999999' n'est pas une valeur entière valide"}},
        {"70000", {dialogs::BoxKind::Information, kEchecFtp + "Port FTP non valide : 70000"}},
        {"0", {dialogs::BoxKind::Information, kEchecFtp + "Port FTP non valide : 0"}}};
    for (const auto& [port, box] : ports) {
        boxes.clear();
        Type(w.edtPort, port);
        Click(w.btnTestFtp);
        ASSERT_EQ(boxes.size(), 1u) << port.toStdString();
        EXPECT_EQ(boxes[0].kind, box.kind) << port.toStdString();
        EXPECT_EQ(boxes[0].text, box.text);
    }
    EXPECT_EQ(server.CountCommands("USER"), usersBefore);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(IniExists());
}

}  // namespace
}  // namespace quorvane::testing
