#include "udisks2.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QFileInfo>
#include <QVariantMap>
#include <atomic>
#include <fcntl.h>
#include <mutex>

namespace lumafind {

namespace {
const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString kManager = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");

// Errors that mean there is nobody to ask, as opposed to an answer.
bool noService(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
        || name == QLatin1String("org.freedesktop.DBus.Error.Disconnected")
        || name == QLatin1String("org.freedesktop.DBus.Error.NoServer")
        || name.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

bool unknownMethod(const QDBusMessage &reply)
{
    return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod");
}

QString errorText(const QDBusMessage &reply)
{
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

// A NUL-terminated device file name as the service sends it (ay).
QString deviceName(const QByteArray &bytes)
{
    return QFile::decodeName(QByteArray(bytes.constData(), qsizetype(qstrnlen(bytes.constData(), size_t(bytes.size())))));
}

QStringList deviceNames(const QVariant &value)
{
    QStringList names;
    if (value.canConvert<QDBusArgument>()) {
        const QDBusArgument arg = value.value<QDBusArgument>();
        if (arg.currentType() != QDBusArgument::ArrayType)
            return names;
        arg.beginArray();
        while (!arg.atEnd()) {
            QByteArray bytes;
            arg >> bytes;
            names << deviceName(bytes);
        }
        arg.endArray();
    } else if (value.metaType() == QMetaType::fromType<QByteArray>()) {
        names << deviceName(value.toByteArray());
    }
    return names;
}

std::atomic<int> connectionSerial{0};
std::mutex connectMutex;
} // namespace

UDisks2Broker::UDisks2Broker(const QString &busAddress, int timeoutMs) : address_(busAddress), timeoutMs_(timeoutMs)
{
    if (!address_.isEmpty())
        connectionName_ = QStringLiteral("lumafind-storage-%1").arg(++connectionSerial);
}

UDisks2Broker::~UDisks2Broker()
{
    if (!connectionName_.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName_);
}

DeviceBroker::Grant UDisks2Broker::openForReading(const QString &devicePath)
{
    Grant grant;
    // Connected on first use only: a medium the program opens itself never reaches the bus.
    QDBusConnection bus(connectionName_);
    if (address_.isEmpty()) {
        bus = QDBusConnection::systemBus();
    } else {
        std::lock_guard<std::mutex> lock(connectMutex);
        if (!bus.isConnected())
            bus = QDBusConnection::connectToBus(address_, connectionName_);
    }
    if (!bus.isConnected() || !(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
        return grant;  // no bus, or one that cannot hand a descriptor over

    auto call = [&](const QString &path, const QString &interface, const QString &method, const QVariantList &args) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, path, interface, method);
        m.setArguments(args);
        m.setInteractiveAuthorizationAllowed(true);
        return bus.call(m, QDBus::Block, timeoutMs_);
    };
    auto refused = [&](const QDBusMessage &reply) {
        if (noService(reply))
            return grant;
        grant.outcome = Grant::Refused;
        grant.reason = errorText(reply);
        return grant;
    };

    const QString canonical = QFileInfo(devicePath).canonicalFilePath();
    const QString name = canonical.isEmpty() ? devicePath : canonical;

    // The device's Block object.
    QString object;
    const QDBusMessage resolved = call(kManagerPath, kManager, QStringLiteral("ResolveDevice"),
                                       {QVariantMap{{QStringLiteral("path"), name}}, QVariantMap()});
    if (resolved.type() == QDBusMessage::ReplyMessage && !resolved.arguments().isEmpty()) {
        const QList<QDBusObjectPath> found = qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().constFirst());
        if (!found.isEmpty())
            object = found.constFirst().path();
    } else if (unknownMethod(resolved)) {
        // A service older than ResolveDevice: every Block object, matched by its names.
        const QDBusMessage all = call(kRoot, QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                      QStringLiteral("GetManagedObjects"), {});
        if (all.type() != QDBusMessage::ReplyMessage || all.arguments().isEmpty())
            return refused(all);
        const QDBusArgument objects = all.arguments().constFirst().value<QDBusArgument>();
        objects.beginMap();
        while (!objects.atEnd()) {
            QDBusObjectPath path;
            objects.beginMapEntry();
            objects >> path;
            objects.beginMap();
            while (!objects.atEnd()) {
                QString interface;
                QVariantMap properties;
                objects.beginMapEntry();
                objects >> interface >> properties;
                objects.endMapEntry();
                if (interface != kBlock || !object.isEmpty())
                    continue;
                QStringList names = deviceNames(properties.value(QStringLiteral("Device")));
                names += deviceNames(properties.value(QStringLiteral("PreferredDevice")));
                names += deviceNames(properties.value(QStringLiteral("Symlinks")));
                if (names.contains(name) || names.contains(devicePath))
                    object = path.path();
            }
            objects.endMap();
            objects.endMapEntry();
        }
        objects.endMap();
    } else {
        return refused(resolved);
    }
    if (object.isEmpty())
        return grant;  // the service does not know it: as if there were none

    // Read-only; polkit may ask the user (the service's default, said outright).
    const QVariantMap options{{QStringLiteral("auth.no_user_interaction"), false}};
    QDBusMessage opened = call(object, kBlock, QStringLiteral("OpenDevice"), {QStringLiteral("r"), options});
    if (unknownMethod(opened))
        opened = call(object, kBlock, QStringLiteral("OpenForBackup"), {options});
    if (opened.type() != QDBusMessage::ReplyMessage)
        return refused(opened);
    if (opened.arguments().isEmpty()) {
        grant.outcome = Grant::Refused;
        grant.reason = QStringLiteral("it answered without a descriptor");
        return grant;
    }
    const QDBusUnixFileDescriptor fd = qdbus_cast<QDBusUnixFileDescriptor>(opened.arguments().constFirst());
    // The message owns its descriptor; ours is a duplicate.
    const int own = fd.isValid() ? fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    if (own < 0) {
        grant.outcome = Grant::Refused;
        grant.reason = QStringLiteral("it answered without a usable descriptor");
        return grant;
    }
    grant.outcome = Grant::Opened;
    grant.fd = own;
    return grant;
}

} // namespace lumafind
