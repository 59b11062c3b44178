#pragma once
// The media list, made off the GUI thread: lsblk can take seconds on a slow bus, and the
// window must stay drawn meanwhile. refresh() is what a Refresh button or a hot-plug monitor
// calls; a refresh asked for while one runs is made once more after it.
#include "media/MyDataObject.h"

#include <QList>
#include <QObject>
#include <functional>
#include <thread>

namespace lumafind {

class MediaLister : public QObject {
    Q_OBJECT
public:
    using ListFunction = std::function<QList<MyDataObject>()>;
    // list runs on a thread of its own; by default it asks lsblk.
    explicit MediaLister(ListFunction list = {}, QObject *parent = nullptr);
    ~MediaLister() override;  // waits for a listing under way
    bool busy() const { return thread_.joinable(); }

public slots:
    void refresh();

signals:
    void started();
    // The rows found, on the lister's thread (the GUI's).
    void listed(const QList<MyDataObject> &rows);

private:
    void finished(const QList<MyDataObject> &rows);
    ListFunction list_;
    std::thread thread_;
    bool again_ = false;
};

} // namespace lumafind
