#include "ui/RunNotification.h"

#include <QCoreApplication>
#include <QDBusConnection>
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
    ActionListener(QDBusConnection bus, unsigned id, QString reportPath)
        : bus_(std::move(bus)), id_(id), reportPath_(std::move(reportPath)) {}

    bool Listen() {
        return bus_.connect(Texte(kService), Texte(kPath), Texte(kInterface),
                            QStringLiteral("ActionInvoked"), this,
                            SLOT(ActionInvoked(uint, QString))) &&
               bus_.connect(Texte(kService), Texte(kPath), Texte(kInterface),
                            QStringLiteral("NotificationClosed"), this,
                            SLOT(NotificationClosed(uint, uint)));
    }
    void SetId(unsigned id) { id_ = id; }

  public slots:
    void ActionInvoked(uint id, const QString& key) {
        if (id == id_ && key == Texte(kActionKey)) {
            dialogs::OpenWithDesktop(reportPath_);
        }
    }
    void NotificationClosed(uint id, uint /*reason*/) {
        if (id == id_) {
            deleteLater();
        }
    }

  private:
    QDBusConnection bus_;
    unsigned id_;
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

std::optional<unsigned> NotifyRunOutcome(const QString& summary, const QString& reportPath) {
    const auto address = SessionBusAddress();
    if (!address) {
        return std::nullopt;
    }
    // A connection of its own, to the address found above: the default session connection
    // would start a bus where there is none.
    QDBusConnection bus = QDBusConnection::connectToBus(*address, Texte(kConnectionName));
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    // Listening before sending, so that no answer is missed; only a process with an event loop
    // can be told of the action.
    ActionListener* listener = nullptr;
    if (QCoreApplication::instance() != nullptr) {
        listener = new ActionListener(bus, 0, reportPath);
        listener->setParent(QCoreApplication::instance());
        if (!listener->Listen()) {
            delete listener;
            listener = nullptr;
        }
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Texte(kService), Texte(kPath),
                                                       Texte(kInterface), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quorvane-client-sync"));
    call << QStringLiteral("QuorvaneClient") << 0U << QStringLiteral("dialog-warning")
         << Texte("Synchronisation terminée avec des erreurs") << PlainBody(summary)
         << QStringList{Texte(kActionKey), Texte("Ouvrir le rapport")} << hints << -1;
    const QDBusReply<unsigned> reply = bus.call(call, QDBus::Block, kTimeoutMs);
    if (!reply.isValid()) {
        delete listener;
        return std::nullopt;
    }
    if (listener != nullptr) {
        listener->SetId(reply.value());
    }
    return reply.value();
}

}  // namespace quorvane

#include "RunNotification.moc"
