#include "browserview.h"

#include "app/imagemodel.h"

#include <QDragMoveEvent>
#include <QDropEvent>

namespace lumafind {

BrowserView::BrowserView(QWidget *parent) : QListView(parent)
{
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWordWrap(true);
    setSpacing(6);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::InternalMove);
    setZoom(zoom_);
}

void BrowserView::setBaseIconSize(int minimum, int range)
{
    minimum_ = minimum;
    range_ = range;
    setZoom(zoom_);
}

void BrowserView::setZoom(double zoom)
{
    zoom_ = zoom;
    const int px = minimum_ + int(zoom * range_);
    setIconSize(QSize(px, px));
    // Room for a portrait picture and two lines of title below it.
    setGridSize(QSize(std::max(px + 40, 120), px + 2 * fontMetrics().height() + 14));
}

void BrowserView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->source() == this)
        event->acceptProposedAction();
    else
        event->ignore();
}

void BrowserView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->source() == this)
        event->acceptProposedAction();
    else
        event->ignore();
}

void BrowserView::dropEvent(QDropEvent *event)
{
    auto *m = qobject_cast<ImageListModel *>(model());
    if (event->source() != this || !m) {
        event->ignore();
        return;
    }
    QList<int> rows;
    for (const QModelIndex &i : selectionModel()->selectedIndexes())
        rows << i.row();
    const QModelIndex at = indexAt(event->position().toPoint());
    m->moveItems(rows, at.isValid() ? at.row() : m->rowCount());
    // The items were moved here; a copy action keeps the view from removing the sources.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace lumafind
