#include "imagemodel.h"

#include "catalogue/checklist.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPixmap>
#include <QStyle>
#include <algorithm>

namespace lumafind {

namespace {
const QString kItemsMime = QStringLiteral("application/x-lumafind-browser-items");
}

void setUpIconTheme()
{
    const QString theme = QIcon::themeName();
    if (!theme.isEmpty() && theme != QLatin1String("hicolor"))
        return;
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString &p : {QStringLiteral("/usr/share/icons"), QStringLiteral("/usr/local/share/icons")})
        if (!paths.contains(p) && QDir(p).exists())
            paths << p;
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QIcon typeIcon(const QString &extension)
{
    static QHash<QString, QIcon> cache;
    const QString key = extension.toLower();
    auto it = cache.find(key);
    if (it != cache.end())
        return *it;
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + key, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(mime.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(mime.genericIconName());
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    cache.insert(key, icon);
    return icon;
}

ImageListModel::ImageListModel(QList<MyImageObject> *images, QObject *parent)
    : QAbstractListModel(parent), images_(images)
{
}

int ImageListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(images_->size());
}

QIcon ImageListModel::iconFor(const MyImageObject &item) const
{
    if (!item.isPhoto)
        return typeIcon(extensionOf(item.image_Name));
    auto it = icons_.find(item.image_UID);
    if (it != icons_.end())
        return *it;
    QPixmap pm;
    const bool placeholder = !placeholder_.isEmpty() && item.imageData == placeholder_;
    if (placeholder && !item.containedIn.isEmpty()) {
        // A part of a saved file (a camera's preview inside its photo, say) is drawn as that
        // file, not as a missing picture.
        for (const MyImageObject &other : *images_)
            if (other.isPhoto && !other.savedPath.isEmpty() && QFileInfo(other.savedPath).fileName() == item.containedIn
                && other.imageData != placeholder_) {
                pm.loadFromData(other.imageData);
                break;
            }
    }
    if (pm.isNull())
        pm.loadFromData(item.imageData);
    // Never larger than a thumbnail, the placeholder included.
    if (pm.width() > kThumbnailPixels || pm.height() > kThumbnailPixels)
        pm = pm.scaled(kThumbnailPixels, kThumbnailPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QIcon icon(pm);
    icons_.insert(item.image_UID, icon);
    return icon;
}

QString ImageListModel::savedPathOf(const QString &savedName) const
{
    if (savedName.isEmpty())
        return QString();
    for (const MyImageObject &item : *images_)
        if (!item.savedPath.isEmpty() && QFileInfo(item.savedPath).fileName() == savedName)
            return item.savedPath;
    return QString();
}

QVariant ImageListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= images_->size())
        return {};
    const MyImageObject &item = images_->at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return item.imageTitle();
    case Qt::DecorationRole:
        return iconFor(item);
    case Qt::ToolTipRole: {
        QString tip = QStringLiteral("%1\nsectors %2 to %3").arg(item.image_Name).arg(item.File_Start_Sector).arg(item.File_End_Sector);
        if (item.extent == QLatin1String("declared"))
            tip += QStringLiteral("\n%1 bytes, the length its format declares").arg(item.extentBytes);
        else if (item.extent == QLatin1String("carved"))
            tip += QStringLiteral("\n%1 bytes, the range the search carved").arg(item.extentBytes);
        if (!item.captured.isEmpty())
            tip += QStringLiteral("\ncaptured %1").arg(QString(item.captured).replace(QLatin1Char('T'), QLatin1Char(' ')));
        if (!item.originalName.isEmpty()) {
            tip += QStringLiteral("\nthe card remembers it as %1").arg(item.originalName);
            if (!item.modified.isEmpty())
                tip += QStringLiteral(", changed %1").arg(QString(item.modified).replace(QLatin1Char('T'), QLatin1Char(' ')));
        }
        if (item.pieces > 1)
            tip += QStringLiteral("\nput back together from %1 pieces").arg(item.pieces);
        if (!item.savedPath.isEmpty())
            tip += QStringLiteral("\nsaved as %1").arg(item.savedPath);
        if (!item.containedIn.isEmpty())
            tip += QStringLiteral("\ninside %1, which was saved; not saved again").arg(item.containedIn);
        return tip;
    }
    case Qt::UserRole:
        return item.image_UID;
    case SavedPathRole:
        return item.savedPath;
    case ContainedInRole:
        return item.containedIn;
    default:
        return {};
    }
}

Qt::ItemFlags ImageListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractListModel::flags(index);
    return index.isValid() ? f | Qt::ItemIsDragEnabled : f | Qt::ItemIsDropEnabled;
}

QStringList ImageListModel::mimeTypes() const
{
    return {kItemsMime};
}

QMimeData *ImageListModel::mimeData(const QModelIndexList &indexes) const
{
    // Only the rows, under a private type: other programs receive nothing.
    QStringList rows;
    for (const QModelIndex &i : indexes)
        rows << QString::number(i.row());
    auto *data = new QMimeData;
    data->setData(kItemsMime, rows.join(QLatin1Char(',')).toLatin1());
    return data;
}

bool ImageListModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int, const QModelIndex &) const
{
    return data && data->hasFormat(kItemsMime);
}

bool ImageListModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int, const QModelIndex &parent)
{
    if (!canDropMimeData(data, action, row, 0, parent))
        return false;
    QList<int> rows;
    for (const QByteArray &r : data->data(kItemsMime).split(','))
        rows << r.toInt();
    moveItems(rows, row < 0 ? (parent.isValid() ? parent.row() : int(images_->size())) : row);
    return true;
}

static QString itemKey(const QString &name, uint64_t startSector)
{
    return name + QLatin1Char('@') + QString::number(startSector);
}

void ImageListModel::appended()
{
    const int n = int(images_->size());
    MyImageObject &item = (*images_)[n - 1];
    const auto known = known_.constFind(itemKey(item.image_Name, item.File_Start_Sector));
    if (known != known_.cend()) {
        item.extent = known->extent;
        item.extentBytes = known->bytes;
        item.savedPath = known->savedPath;
        item.containedIn = known->containedIn;
        if (!known->captured.isEmpty())
            item.captured = known->captured;
        if (!known->originalName.isEmpty()) {
            item.originalName = known->originalName;
            item.modified = known->modified;
            item.pieces = known->pieces;
        }
        known_.erase(known);
    }
    beginInsertRows({}, n - 1, n - 1);
    endInsertRows();
}

void ImageListModel::reload()
{
    beginResetModel();
    if (images_->isEmpty()) {
        icons_.clear();
        known_.clear();
    }
    endResetModel();
}

void ImageListModel::moveItems(QList<int> rows, int destination)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<MyImageObject> moved;
    int below = 0;
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        if (*it < 0 || *it >= images_->size())
            continue;
        moved.prepend(images_->takeAt(*it));
        if (*it < destination)
            ++below;
    }
    destination = std::clamp(destination - below, 0, int(images_->size()));
    beginResetModel();
    for (int i = 0; i < moved.size(); ++i)
        images_->insert(destination + i, moved.at(i));
    endResetModel();
}

void ImageListModel::setExtent(const QString &name, uint64_t startSector, const QString &extent, uint64_t bytes,
                               const QString &savedPath, const QString &containedIn, const QString &captured)
{
    if (const int i = rowOf(name, startSector); i >= 0) {
        MyImageObject &item = (*images_)[i];
        item.extent = extent;
        item.extentBytes = bytes;
        if (!savedPath.isEmpty())
            item.savedPath = savedPath;
        if (!containedIn.isEmpty()) {
            item.containedIn = containedIn;
            icons_.remove(item.image_UID);  // drawn as the file that holds it
        }
        if (!captured.isEmpty())
            item.captured = captured;
        emit dataChanged(index(i), index(i));
        return;
    }
    Known &k = known_[itemKey(name, startSector)];
    k.extent = extent;
    k.bytes = bytes;
    k.savedPath = savedPath;
    k.containedIn = containedIn;
    k.captured = captured;
}

int ImageListModel::rowOf(const QString &name, uint64_t startSector) const
{
    for (int i = 0; i < images_->size(); ++i)
        if (images_->at(i).image_Name == name && images_->at(i).File_Start_Sector == startSector)
            return i;
    return -1;
}

void ImageListModel::setRemembered(const QString &name, uint64_t startSector, const QString &originalName,
                                   const QString &modified, int pieces)
{
    if (const int i = rowOf(name, startSector); i >= 0) {
        MyImageObject &item = (*images_)[i];
        item.originalName = originalName;
        item.modified = modified;
        item.pieces = pieces;
        emit dataChanged(index(i), index(i));
        return;
    }
    Known &k = known_[itemKey(name, startSector)];
    k.originalName = originalName;
    k.modified = modified;
    k.pieces = pieces;
}

void ImageListModel::removeItems(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    beginResetModel();
    for (auto it = rows.crbegin(); it != rows.crend(); ++it)
        if (*it >= 0 && *it < images_->size())
            images_->removeAt(*it);
    endResetModel();
}

} // namespace lumafind
