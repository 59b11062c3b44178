#include "medialister.h"

#include "media/volumes.h"

#include <QMetaObject>

namespace lumafind {

MediaLister::MediaLister(ListFunction list, QObject *parent)
    : QObject(parent), list_(list ? std::move(list) : ListFunction(getVolumeToFSGetInfo))
{
}

MediaLister::~MediaLister()
{
    if (thread_.joinable())
        thread_.join();
}

void MediaLister::refresh()
{
    if (thread_.joinable()) {
        again_ = true;
        return;
    }
    again_ = false;
    emit started();
    thread_ = std::thread([this] {
        QList<MyDataObject> rows = list_();
        // Queued to this object: dropped if it is gone by then (its destructor joins first).
        QMetaObject::invokeMethod(this, [this, rows] { finished(rows); }, Qt::QueuedConnection);
    });
}

void MediaLister::finished(const QList<MyDataObject> &rows)
{
    if (thread_.joinable())
        thread_.join();  // its last step was to queue this call
    if (again_) {
        // Something changed while it ran: what it found may already be stale.
        refresh();
        return;
    }
    emit listed(rows);
}

} // namespace lumafind
