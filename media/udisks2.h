#pragma once
// The system's storage service (UDisks2 on the system D-Bus) as a DeviceBroker: it opens a
// device the user may not read after polkit has asked for their password, and hands back
// the descriptor. The device's object is found with Manager.ResolveDevice (or, on a service
// without it, by the Device, PreferredDevice and Symlinks of every Block object); it is
// opened with Block.OpenDevice read-only, or OpenForBackup on a service without OpenDevice.
#include "engine/mediumaccess.h"

#include <QString>

namespace lumafind {

class UDisks2Broker : public DeviceBroker {
public:
    // busAddress: the bus to talk to; empty means the system bus. timeoutMs: how long the
    // service may take to answer, the user typing their password included.
    explicit UDisks2Broker(const QString &busAddress = {}, int timeoutMs = 15 * 60 * 1000);
    ~UDisks2Broker() override;
    UDisks2Broker(const UDisks2Broker &) = delete;
    UDisks2Broker &operator=(const UDisks2Broker &) = delete;

    Grant openForReading(const QString &devicePath) override;

private:
    QString address_;
    QString connectionName_;
    int timeoutMs_;
};

} // namespace lumafind
