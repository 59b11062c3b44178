#pragma once
// Tells when the list of media may have changed: a block device was added or removed, or a
// card went into or out of a reader. It listens to udev (after udev has made the device's
// node, so a listing then sees it) and gathers a burst of events (a disk and its partitions)
// into one mediaChanged().
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace lumafind {

class MediaMonitor : public QObject {
    Q_OBJECT
public:
    explicit MediaMonitor(QObject *parent = nullptr, int settleMs = 300);
    ~MediaMonitor() override;

    // Starts listening; false when udev cannot be heard (then the list changes only when the
    // user refreshes it).
    bool start();
    bool listening() const { return monitor_ != nullptr; }

    // One event: action is udev's "add", "remove" or "change" (a medium inserted or taken
    // out); other actions are ignored. What the udev listener calls, and what tests call.
    void deviceEvent(const QString &action, const QString &devnode);

signals:
    void mediaChanged();

private:
    void receive();

    struct udev *udev_ = nullptr;
    struct udev_monitor *monitor_ = nullptr;
    QSocketNotifier *notifier_ = nullptr;
    QTimer settle_;
};

} // namespace lumafind
