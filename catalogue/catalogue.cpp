#include "catalogue.h"

#include "catalogue/signatures.h"

namespace lumafind {

QStringList Catalogue::loadAll(const QString &resourceDir)
{
    // Same order as kDatabaseFiles: the start-up order.
    QStringList *ordered[6] = {&Ext_Array, &Adv_Ext_Array, &Video_Array,
                               &Adv_Video_Array, &RawFile_Array, &Adv_RawFile_Array};
    QStringList problems;
    SignatureReader reader;
    for (int i = 0; i < 6; ++i) {
        const QString name = QString::fromLatin1(kDatabaseFiles[i].name);
        if (reader.load(resourceDir, name, *ordered[i]) != LoadStatus::Loaded)
            problems.append(name.mid(1));
    }
    return problems;
}

const QStringList &Catalogue::basicFor(int mode) const
{
    return mode == 0 ? Ext_Array : mode == 1 ? Video_Array : RawFile_Array;
}

const QStringList &Catalogue::advancedFor(int mode) const
{
    return mode == 0 ? Adv_Ext_Array : mode == 1 ? Adv_Video_Array : Adv_RawFile_Array;
}

} // namespace lumafind
