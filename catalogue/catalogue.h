#pragma once
// The six signature lists, loaded once at start-up in their fixed order.
#include <QString>
#include <QStringList>

namespace lumafind {

struct Catalogue {
    QStringList Ext_Array, Adv_Ext_Array;         // photo, General / Thorough
    QStringList Video_Array, Adv_Video_Array;     // video
    QStringList RawFile_Array, Adv_RawFile_Array; // other files

    // Loads the six databases from resourceDir in start-up order. Returns the names of the
    // files that are missing, unreadable or hold no record (empty when all loaded).
    QStringList loadAll(const QString &resourceDir);

    // The basic and advanced lists of a recovery mode (0 photo, 1 video, 2 raw file).
    const QStringList &basicFor(int mode) const;
    const QStringList &advancedFor(int mode) const;
};

} // namespace lumafind
