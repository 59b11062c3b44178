#include "mediamonitor.h"

#include <QSocketNotifier>
#include <libudev.h>

namespace lumafind {

MediaMonitor::MediaMonitor(QObject *parent, int settleMs) : QObject(parent)
{
    settle_.setSingleShot(true);
    settle_.setInterval(settleMs);
    connect(&settle_, &QTimer::timeout, this, &MediaMonitor::mediaChanged);
}

MediaMonitor::~MediaMonitor()
{
    delete notifier_;
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
}

bool MediaMonitor::start()
{
    if (monitor_)
        return true;
    if (!udev_)
        udev_ = udev_new();
    if (!udev_)
        return false;
    udev_monitor *m = udev_monitor_new_from_netlink(udev_, "udev");
    if (!m)
        return false;
    if (udev_monitor_filter_add_match_subsystem_devtype(m, "block", nullptr) < 0 || udev_monitor_enable_receiving(m) < 0) {
        udev_monitor_unref(m);
        return false;
    }
    monitor_ = m;
    notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
    connect(notifier_, &QSocketNotifier::activated, this, &MediaMonitor::receive);
    return true;
}

void MediaMonitor::receive()
{
    // The socket is non-blocking: take every event that is waiting.
    while (udev_device *d = udev_monitor_receive_device(monitor_)) {
        const QString action = QString::fromLatin1(udev_device_get_action(d));
        const char *node = udev_device_get_devnode(d);
        // A "change" is a listing's business only when a medium came or went (a card reader
        // keeps its node while cards go in and out).
        auto flag = [d](const char *name) {
            const char *v = udev_device_get_property_value(d, name);
            return v && qstrcmp(v, "1") == 0;
        };
        if (action != QLatin1String("change") || flag("DISK_MEDIA_CHANGE") || flag("DISK_EJECT_REQUEST"))
            deviceEvent(action, node ? QString::fromLocal8Bit(node) : QString());
        udev_device_unref(d);
    }
}

void MediaMonitor::deviceEvent(const QString &action, const QString &)
{
    if (action == QLatin1String("add") || action == QLatin1String("remove") || action == QLatin1String("change"))
        settle_.start();
}

} // namespace lumafind
