#pragma once
// The state every front end shares: the catalogue, the working record lists, the scan fields
// and the counters that decide names. The GUI controller and the CLI both build on it.
#include "catalogue/catalogue.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <cstdio>

namespace lumafind {

// Recovery mode for the whole process: 0 photo, 1 video, 2 raw file. Written only by the
// front end's main thread before a scan starts; the worker reads it.
extern int32_t Recovery_MODE;

class RecoveryCore : public Catalogue {
public:
    RecoveryCore();
    virtual ~RecoveryCore();
    RecoveryCore(const RecoveryCore &) = delete;
    RecoveryCore &operator=(const RecoveryCore &) = delete;

    // Creates the working lists empty, loads the six databases from resourceDir in order and
    // the placeholder picture. Returns the database files that could not be used.
    QStringList loadResources(const QString &resourceDir);

    // Scan fields, shared by the worker, the progress display and Stop.
    std::atomic<uint64_t> start_sector{0};
    std::atomic<uint64_t> end_sector{0};
    std::atomic<uint64_t> total_sector{0};
    std::atomic<uint64_t> for_index{0};
    std::atomic<int32_t> stop_now{0};
    std::atomic<int32_t> stop_screen_already_show{0};
    FILE *pFile_Disk = nullptr;
    FILE *pFile_op = nullptr;

    // Files found by General and Thorough photo passes since start; never reset.
    uint64_t GND_Image_number = 0;
    uint64_t THD_Image_number = 0;

    QStringList CheckListHeader_Adv_Array;
    QStringList CheckListHeader_Array;
    QStringList MultiHeader_Array;
    QStringList REC_PROC_Array;

    QByteArray Null_Image_Data;  // bytes of NoPreview.png
};

} // namespace lumafind
