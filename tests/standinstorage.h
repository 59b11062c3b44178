#pragma once
// A private D-Bus bus (a dbus-daemon of the test's own) and, on it, a stand-in for the system's
// storage service: the methods the program calls, with the signatures the real service has
// (Manager.ResolveDevice, ObjectManager.GetManagedObjects, Block.OpenDevice and
// Block.OpenForBackup), each call counted. OpenDevice hands over a descriptor of a test image.
// The stand-in answers on a thread of its own, so a test may wait on a scan that calls it.
#include "engine/sectorreader.h"

#include <QByteArrayList>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QFile>
#include <QMap>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

// The program's own open of device is refused, as for a user outside the disk group;
// everything else opens as usual.
inline lumafind::DeviceOpener refusing(const QString &device)
{
    return [device](const QString &path) -> FILE * {
        if (path == device) {
            errno = EACCES;
            return nullptr;
        }
        return lumafind::openDeviceFile(path);
    };
}

// A bus of the test's own; start() says why not when dbus-daemon cannot be run.
struct PrivateBus {
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    QString problem;

    bool start()
    {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (exe.isEmpty()) {
            problem = QStringLiteral("dbus-daemon is not installed (Debian package dbus-daemon)");
            return false;
        }
        QFile conf(dir.path() + QStringLiteral("/bus.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(dir.path()) + "</listen>"
                   "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n");
        conf.close();
        daemon.start(exe, {QStringLiteral("--config-file=") + conf.fileName(), QStringLiteral("--nofork"),
                           QStringLiteral("--print-address")});
        if (!daemon.waitForStarted(10000)) {
            problem = QStringLiteral("dbus-daemon did not start: ") + daemon.errorString();
            return false;
        }
        while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
        }
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        if (address.isEmpty())
            problem = QStringLiteral("dbus-daemon printed no address: ") + QString::fromLocal8Bit(daemon.readAllStandardError());
        return !address.isEmpty();
    }
    ~PrivateBus()
    {
        if (daemon.state() != QProcess::NotRunning) {
            daemon.terminate();
            if (!daemon.waitForFinished(5000))
                daemon.kill();
            daemon.waitForFinished(5000);
        }
    }
};

using StandInInterfaces = QMap<QString, QVariantMap>;
using StandInObjects = QMap<QDBusObjectPath, StandInInterfaces>;
Q_DECLARE_METATYPE(StandInInterfaces)
Q_DECLARE_METATYPE(StandInObjects)

class StandInStorage : public QDBusVirtualObject {
public:
    // The one device it knows: its node, other names (symlinks), and the file it hands over.
    QString device = QStringLiteral("/dev/sdz");
    QStringList symlinks{QStringLiteral("/dev/disk/by-id/usb-Norvo_Card_0001-0:0")};
    QString image;
    // A service older than ResolveDevice and OpenDevice (found by GetManagedObjects, opened
    // with OpenForBackup).
    std::atomic<bool> old{false};
    // When set, opening answers with this error (as when polkit said no).
    QString refuseName, refuseMessage;
    std::atomic<int> delayMs{0};  // how long the "user" takes to answer

    std::atomic<int> resolveCalls{0}, managedCalls{0}, openDeviceCalls{0}, backupCalls{0};
    int opens() const { return openDeviceCalls + backupCalls; }
    int calls() const { return resolveCalls + managedCalls + opens(); }
    QString lastMode() const
    {
        QMutexLocker lock(&mutex_);
        return lastMode_;
    }
    QVariantMap lastOptions() const
    {
        QMutexLocker lock(&mutex_);
        return lastOptions_;
    }

    static QString objectPath() { return QStringLiteral("/org/freedesktop/UDisks2/block_devices/sdz"); }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &m, const QDBusConnection &connection) override
    {
        QDBusConnection bus(connection);
        auto unknown = [&] {
            bus.send(m.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("No such method %1").arg(m.member())));
            return true;
        };
        auto badArgs = [&] {
            bus.send(m.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("Wrong arguments: %1").arg(m.signature())));
            return true;
        };
        const QString member = m.member();
        if (m.path() == QLatin1String("/org/freedesktop/UDisks2/Manager") && member == QLatin1String("ResolveDevice")
            && m.interface() == QLatin1String("org.freedesktop.UDisks2.Manager")) {
            if (old)
                return unknown();
            ++resolveCalls;
            if (m.signature() != QLatin1String("a{sv}a{sv}"))
                return badArgs();
            const QVariantMap asked = qdbus_cast<QVariantMap>(m.arguments().at(0));
            const QString path = asked.value(QStringLiteral("path")).toString();
            QList<QDBusObjectPath> found;
            if (path == device || symlinks.contains(path))
                found << QDBusObjectPath(objectPath());
            bus.send(m.createReply(QVariant::fromValue(found)));
            return true;
        }
        if (m.path() == QLatin1String("/org/freedesktop/UDisks2") && member == QLatin1String("GetManagedObjects")
            && m.interface() == QLatin1String("org.freedesktop.DBus.ObjectManager")) {
            ++managedCalls;
            auto bytes = [](const QString &s) { return QFile::encodeName(s) + '\0'; };
            QByteArrayList links;
            for (const QString &l : symlinks)
                links << bytes(l);
            StandInObjects objects;
            // Another disk first, and the manager, as the real tree has them.
            objects[QDBusObjectPath(QStringLiteral("/org/freedesktop/UDisks2/block_devices/sda"))]
                [QStringLiteral("org.freedesktop.UDisks2.Block")] = QVariantMap{
                    {QStringLiteral("Device"), bytes(QStringLiteral("/dev/sda"))},
                    {QStringLiteral("PreferredDevice"), bytes(QStringLiteral("/dev/sda"))},
                    {QStringLiteral("Symlinks"), QVariant::fromValue(QByteArrayList())}};
            objects[QDBusObjectPath(QStringLiteral("/org/freedesktop/UDisks2/Manager"))]
                [QStringLiteral("org.freedesktop.UDisks2.Manager")] = QVariantMap{{QStringLiteral("Version"), QStringLiteral("2.1.0")}};
            StandInInterfaces &mine = objects[QDBusObjectPath(objectPath())];
            mine[QStringLiteral("org.freedesktop.UDisks2.Block")] = QVariantMap{
                {QStringLiteral("Device"), bytes(device)},
                {QStringLiteral("PreferredDevice"), bytes(symlinks.value(0, device))},
                {QStringLiteral("Symlinks"), QVariant::fromValue(links)},
                {QStringLiteral("Size"), QVariant::fromValue(quint64(0))}};
            mine[QStringLiteral("org.freedesktop.UDisks2.Partition")] = QVariantMap{{QStringLiteral("Number"), 1u}};
            bus.send(m.createReply(QVariant::fromValue(objects)));
            return true;
        }
        if (m.path() == objectPath() && m.interface() == QLatin1String("org.freedesktop.UDisks2.Block")
            && (member == QLatin1String("OpenDevice") || member == QLatin1String("OpenForBackup"))) {
            const bool openDevice = member == QLatin1String("OpenDevice");
            if (openDevice && old)
                return unknown();
            ++(openDevice ? openDeviceCalls : backupCalls);
            if (m.signature() != QLatin1String(openDevice ? "sa{sv}" : "a{sv}"))
                return badArgs();
            {
                QMutexLocker lock(&mutex_);
                lastMode_ = openDevice ? m.arguments().at(0).toString() : QString();
                lastOptions_ = qdbus_cast<QVariantMap>(m.arguments().at(openDevice ? 1 : 0));
            }
            if (delayMs > 0)
                QThread::msleep(ulong(delayMs.load()));
            if (!refuseName.isEmpty()) {
                bus.send(m.createErrorReply(refuseName, refuseMessage));
                return true;
            }
            if (openDevice && m.arguments().at(0).toString() != QLatin1String("r")) {
                bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.Failed"), QStringLiteral("Unknown mode")));
                return true;
            }
            const int fd = ::open(QFile::encodeName(image).constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.Failed"), QStringLiteral("Cannot open the image")));
                return true;
            }
            bus.send(m.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
            ::close(fd);  // the message holds its own duplicate
            return true;
        }
        return unknown();
    }

private:
    mutable QMutex mutex_;
    QString lastMode_;
    QVariantMap lastOptions_;
};

// The stand-in, registered as org.freedesktop.UDisks2 on a bus, answering on its own thread.
struct StandInService {
    QThread thread;
    StandInStorage storage;
    QString connectionName = QStringLiteral("standin-storage");

    bool start(const QString &address)
    {
        qDBusRegisterMetaType<StandInInterfaces>();
        qDBusRegisterMetaType<StandInObjects>();
        qDBusRegisterMetaType<QByteArrayList>();
        QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName);
        if (!bus.isConnected() || !bus.registerService(QStringLiteral("org.freedesktop.UDisks2"))
            || !bus.registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2"), &storage, QDBusConnection::SubPath))
            return false;
        storage.moveToThread(&thread);
        thread.start();
        return true;
    }
    ~StandInService()
    {
        QDBusConnection bus(connectionName);
        bus.unregisterObject(QStringLiteral("/org/freedesktop/UDisks2"), QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(connectionName);
        thread.quit();
        thread.wait();
    }
};
