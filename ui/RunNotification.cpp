#include "ui/RunNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QVariantMap>

#include "ui/Dialogs.h"

namespace quorvane {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kConnectionName = "quorvane-notifications";
constexpr const char* kActionKey = "ouvrir-rapport";
// A service that does not answer must not hold the end of a run for long.
constexpr int kTimeoutMs = 3000;

QString Texte(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Waits for the user's answer to one notification and forgets it once the service closed it.
class ActionListener : public QObject {
    Q_OBJECT

  public:
    ActionListener(QDBusConnection bus, QString reportPath)
        : bus_(std::move(bus)), reportPath_(std::move(reportPath)) {}

    bool Listen() {
        return bus_.connect(Texte(kService), Texte(kPath), Texte(kInterface),
                            QStringLiteral("ActionInvoked"), this,
                            SLOT(ActionInvoked(uint, QString))) &&
               bus_.connect(Texte(kService), Texte(kPath), Texte(kInterface),
                            QStringLiteral("NotificationClosed"), this,
                            SLOT(NotificationClosed(uint, uint)));
    }

  public slots:
    void Sent(const QDBusMessage& reply) {
        if (!reply.arguments().isEmpty()) {
            id_ = reply.arguments().constFirst().toUInt();
            answered_ = true;
        }
    }
    void NotSent(const QDBusError& /*error*/) { deleteLater(); }
    void ActionInvoked(uint id, const QString& key) {
        if (answered_ && id == id_ && key == Texte(kActionKey)) {
            dialogs::OpenWithDesktop(reportPath_);
        }
    }
    void NotificationClosed(uint id, uint /*reason*/) {
        if (answered_ && id == id_) {
            deleteLater();
        }
    }

  private:
    QDBusConnection bus_;
    unsigned id_ = 0;
    bool answered_ = false;
    QString reportPath_;
};

// Notification bodies may carry markup; the summary is plain text.
QString PlainBody(const QString& text) {
    return text.toHtmlEscaped();
}

}  // namespace

std::optional<QString> SessionBusAddress() {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) {
        return address;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QString socket = runtime + QStringLiteral("/bus");
        if (QFileInfo(socket).exists() && !QFileInfo(socket).isFile()) {
            return QStringLiteral("unix:path=") + socket;
        }
    }
    return std::nullopt;
}

bool NotifyRunOutcome(const QString& summary, const QString& reportPath) {
    const auto address = SessionBusAddress();
    if (!address) {
        return false;
    }
    // A connection of its own, to the address found above: the default session connection
    // would start a bus where there is none.
    QDBusConnection bus = QDBusConnection::connectToBus(*address, Texte(kConnectionName));
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Texte(kService), Texte(kPath),
                                                       Texte(kInterface), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quorvane-client-sync"));
    call << QStringLiteral("QuorvaneClient") << 0U << QStringLiteral("dialog-warning")
         << Texte("Synchronisation terminée avec des erreurs") << PlainBody(summary)
         << (reportPath.isEmpty() ? QStringList{}
                                  : QStringList{Texte(kActionKey), Texte("Ouvrir le rapport")})
         << hints << -1;
    if (QCoreApplication::instance() == nullptr) {
        // Nobody to tell of the action: the answer is only awaited, briefly.
        return QDBusReply<unsigned>(bus.call(call, QDBus::Block, kTimeoutMs)).isValid();
    }
    // With an event loop the window never waits on the service: a screen reader reading the
    // window while the service is slow would wait on the window in turn. Listening starts
    // before sending, so that no answer is missed.
    auto* listener = new ActionListener(bus, reportPath);
    listener->setParent(QCoreApplication::instance());
    if (!listener->Listen() || !bus.callWithCallback(call, listener, SLOT(Sent(QDBusMessage)),
                                                     SLOT(NotSent(QDBusError)), kTimeoutMs)) {
        delete listener;
        return false;
    }
    return true;
}

}  // namespace quorvane

#include "RunNotification.moc"
