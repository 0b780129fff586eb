#include "platformservices.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

namespace trovane {

namespace {

// Nothing to declare: no service to tell.
class NoActivity : public UserActivity
{
};

// systemd-logind keeps its inhibitor while the file descriptor it handed out stays open.
class LogindInhibitor : public UserActivity
{
public:
    explicit LogindInhibitor(QDBusUnixFileDescriptor descriptor) : m_descriptor(std::move(descriptor)) {}

private:
    QDBusUnixFileDescriptor m_descriptor;
};

} // namespace

std::unique_ptr<UserActivity> UserActivity::begin(const QString& reason)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return std::make_unique<NoActivity>();
    QDBusInterface manager(QStringLiteral("org.freedesktop.login1"),
                           QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), bus);
    if (!manager.isValid())
        return std::make_unique<NoActivity>();
    const QDBusReply<QDBusUnixFileDescriptor> reply =
        manager.call(QStringLiteral("Inhibit"), QStringLiteral("sleep:idle"), QStringLiteral("Trovane"),
                     reason, QStringLiteral("block"));
    if (!reply.isValid() || !reply.value().isValid())
        return std::make_unique<NoActivity>();
    return std::make_unique<LogindInhibitor>(reply.value());
}

} // namespace trovane
