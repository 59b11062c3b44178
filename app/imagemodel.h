#pragma once
// The items of the two browsers: photo thumbnails, or type icons for video and raw files.
// Items can be reordered by dragging inside a browser; nothing can be dragged out.
#include "results/MyImageObject.h"

#include <QAbstractListModel>
#include <QIcon>
#include <QList>

namespace lumafind {

// The icon for a file type (by extension): the theme's icon for it, its generic icon, or a
// plain file icon; never null. Made by the GUI only.
QIcon typeIcon(const QString &extension);
// Makes the desktop's icon theme reachable when none is set (bare X servers, offscreen).
void setUpIconTheme();

class ImageListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Beside the usual roles: where the item was saved, and the saved file that holds it.
    enum Role { SavedPathRole = Qt::UserRole + 1, ContainedInRole };
    // Thumbnails are drawn at most this large; the placeholder too.
    static constexpr int kThumbnailPixels = 100;
    explicit ImageListModel(QList<MyImageObject> *images, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    // Items appended by the controller.
    void appended();
    void reload();
    // Moves the items at `rows` (kept in order) to `destination`, counted before the move.
    void moveItems(QList<int> rows, int destination);
    // Removes the items at `rows`.
    void removeItems(QList<int> rows);
    // What saving or a preview learnt about an item's length (found by name and first sector),
    // where it was saved, or which saved file already holds it, and when it was captured.
    void setExtent(const QString &name, uint64_t startSector, const QString &extent, uint64_t bytes,
                   const QString &savedPath = QString(), const QString &containedIn = QString(),
                   const QString &captured = QString());
    // What the card's directory remembers of an item: its name, when it was last changed, and the
    // pieces it was saved from.
    void setRemembered(const QString &name, uint64_t startSector, const QString &originalName,
                       const QString &modified, int pieces);
    // The picture items get when they have no thumbnail of their own.
    void setPlaceholder(const QByteArray &bytes) { placeholder_ = bytes; }
    // The path of the item saved under that file name (empty when none is).
    QString savedPathOf(const QString &savedName) const;

private:
    QIcon iconFor(const MyImageObject &item) const;
    // The row of the item found under that name at that sector; -1 when there is none (yet).
    int rowOf(const QString &name, uint64_t startSector) const;
    QList<MyImageObject> *images_;
    mutable QHash<QString, QIcon> icons_;  // by UID
    // Lengths learnt before their item reached the browser (saving can be quicker than a thumbnail).
    struct Known {
        QString extent;
        uint64_t bytes = 0;
        QString savedPath, containedIn;
        QString captured;
        QString originalName, modified;
        int pieces = 0;
    };
    QHash<QString, Known> known_;
    QByteArray placeholder_;
};

} // namespace lumafind
