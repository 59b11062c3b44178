#include "recoverycore.h"

#include <QFile>

namespace lumafind {

int32_t Recovery_MODE = 0;

RecoveryCore::RecoveryCore()
{
    Recovery_MODE = 0;
}

RecoveryCore::~RecoveryCore()
{
    if (pFile_Disk)
        std::fclose(pFile_Disk);
    if (pFile_op)
        std::fclose(pFile_op);
}

QStringList RecoveryCore::loadResources(const QString &resourceDir)
{
    CheckListHeader_Adv_Array.clear();
    CheckListHeader_Array.clear();
    MultiHeader_Array.clear();
    REC_PROC_Array.clear();
    Ext_Array.clear();
    Adv_Ext_Array.clear();
    Video_Array.clear();
    Adv_Video_Array.clear();
    RawFile_Array.clear();
    Adv_RawFile_Array.clear();
    const QStringList problems = loadAll(resourceDir);
    QFile placeholder(resourceDir + QStringLiteral("/NoPreview.png"));
    if (placeholder.exists() && placeholder.open(QIODevice::ReadOnly))
        Null_Image_Data = placeholder.readAll();
    return problems;
}

} // namespace lumafind
