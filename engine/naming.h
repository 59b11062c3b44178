#pragma once
// Names of found files: a prefix, the number zero-filled to five digits, "." and the extension.
#include "catalogue/checklist.h"

#include <QString>
#include <cstdint>

namespace lumafind {

// n padded to five digits (more digits are written in full).
QString zeroFilled(uint64_t n);

// In video and raw-file mode (mode != 0) the number continues the found-files count of the
// type named by the prefix; otherwise n is used.
QString Generate_File_Name(uint64_t n, const QString &prefix, const QString &extension, int mode,
                           const FoundFilesList &found);

// Browser identifier: "GND" for the General pass, "THD" for the Thorough pass.
QString Generate_File_UID_Num(uint64_t n, bool thorough, const QString &extension);

} // namespace lumafind
