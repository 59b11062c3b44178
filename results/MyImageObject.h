#pragma once
// One found item of the browsers: a photo's thumbnail bytes, or a video or raw file's range.
#include <QByteArray>
#include <QString>
#include <cstdint>

namespace lumafind {

struct MyImageObject {
    QByteArray imageData;        // photo: JPEG thumbnail bytes (or the placeholder's bytes)
    QString path;                // video and raw file: the generated file name
    QString image_Name;          // title (and subtitle)
    QString image_UID;           // identifier in the browser
    uint64_t File_Start_Sector = 0;
    uint64_t File_End_Sector = 0;  // exclusive
    bool isPhoto = false;
    QString pass;                // "GEN" or "THD"
    // What the export needs: the bytes the scan gave the file, and whether its carve ended
    // where the next file of its pass starts (for a video or raw file that next file's first
    // sector is the item's last).
    uint64_t carvedBytes = 0;
    bool endsAtNextFile = false;
    // How long the file is, once saved or previewed: "declared" (its format says where it ends)
    // or "carved" (the range the scan found); empty until known.
    QString extent;
    uint64_t extentBytes = 0;
    QString savedPath;
    QString containedIn;         // the saved file that already holds this one (not saved again)
    // When it was captured, as the file records it (ISO 8601 with the offset); empty when unknown.
    QString captured;
    // What the card's directory remembers of it: its name and last change (empty when nothing),
    // and the pieces it was saved from.
    QString originalName, modified;
    int pieces = 0;

    const QString &imageUID() const { return image_UID; }
    const QString &imageTitle() const { return image_Name; }
    const QString &imageSubtitle() const { return image_Name; }
};

} // namespace lumafind
