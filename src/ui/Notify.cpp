// Desktop notifications.
#include "Notify.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>


namespace zeva {

bool NotifyDesktop(const QString& title, const QString& body)
{
    static const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service).value())
        return false;
    QDBusMessage m = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"), service,
                                                    QStringLiteral("Notify"));
    m << QStringLiteral("zeva-monitor") << uint(0) << QStringLiteral("dialog-warning") << title << body
      << QStringList() << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue(uchar(2))}} << int(-1);
    // Not waited for: the user-interface thread never blocks on the bus.
    return bus.send(m);
}

} // namespace zeva
