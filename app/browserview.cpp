#include "browserview.h"

#include "app/imagemodel.h"

#include <QApplication>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>

namespace lumafind {

namespace {

class ItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const auto *view = qobject_cast<const QListView *>(option->widget);
        option->text = itemText(index, view && view->viewMode() == QListView::ListMode);
    }

public:
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        // Every item as wide as its grid cell: one with a longer text sits centred like the rest.
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const auto *view = qobject_cast<const QListView *>(option.widget);
        if (view && view->viewMode() == QListView::IconMode && view->gridSize().isValid())
            size.setWidth(std::max(size.width(), view->gridSize().width() - 2 * view->spacing()));
        return size;
    }

    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem o = option;
        initStyleOption(&o, index);
        const QWidget *w = o.widget;
        const QStyle *style = w ? w->style() : QApplication::style();
        const QRect deco = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &o, w);
        const bool large = deco.height() >= 32 && !o.icon.isNull();
        QRect pic;
        if (large) {
            // The picture is drawn here at its own size (never above the icon size), so that its
            // frame and mark sit on it exactly at any scale; the style draws the rest.
            const QPixmap source = o.icon.pixmap(QSize(ImageListModel::kThumbnailPixels, ImageListModel::kThumbnailPixels));
            QSize size = source.deviceIndependentSize().toSize();
            if (size.width() > deco.width() || size.height() > deco.height())
                size.scale(deco.size(), Qt::KeepAspectRatio);
            pic = QStyle::alignedRect(o.direction, Qt::AlignCenter, size, deco);
            o.icon = QIcon();
            style->drawControl(QStyle::CE_ItemViewItem, &o, p, w);
            p->save();
            p->setRenderHint(QPainter::SmoothPixmapTransform);
            p->drawPixmap(pic, source);
            // A thin frame, so that a white picture does not vanish into the view.
            p->setPen(QPen(o.palette.color(QPalette::Mid), 1));
            p->setBrush(Qt::NoBrush);
            p->drawRect(pic.adjusted(0, 0, -1, -1));
            p->restore();
        } else {
            style->drawControl(QStyle::CE_ItemViewItem, &o, p, w);
            const QSize actual = o.icon.actualSize(o.decorationSize);
            pic = QStyle::alignedRect(o.direction, o.decorationAlignment, actual, deco);
        }
        const bool saved = !index.data(ImageListModel::SavedPathRole).toString().isEmpty();
        const bool inside = !index.data(ImageListModel::ContainedInRole).toString().isEmpty();
        if (!(saved || inside) || (!large && o.icon.isNull()))
            return;
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        const int d = large ? 16 : 9;
        const QRectF badge(pic.right() - d + (large ? 4 : 2), pic.bottom() - d + (large ? 4 : 2), d, d);
        p->setPen(QPen(Qt::white, large ? 1.5 : 1));
        p->setBrush(saved ? QColor(46, 139, 87) : QColor(52, 101, 164));
        p->drawEllipse(badge);
        QPainterPath mark;
        if (saved) {
            // A tick: saved.
            mark.moveTo(badge.left() + d * 0.25, badge.top() + d * 0.52);
            mark.lineTo(badge.left() + d * 0.43, badge.top() + d * 0.70);
            mark.lineTo(badge.left() + d * 0.76, badge.top() + d * 0.32);
        } else {
            // Two nested squares: inside another file.
            mark.addRect(QRectF(badge.left() + d * 0.25, badge.top() + d * 0.25, d * 0.5, d * 0.5));
            mark.addRect(QRectF(badge.left() + d * 0.40, badge.top() + d * 0.40, d * 0.2, d * 0.2));
        }
        p->setBrush(Qt::NoBrush);
        p->drawPath(mark);
        p->restore();
    }
};

} // namespace

QString itemText(const QModelIndex &index, bool listMode)
{
    QString text = index.data(Qt::DisplayRole).toString();
    const QString inside = index.data(ImageListModel::ContainedInRole).toString();
    const bool saved = !index.data(ImageListModel::SavedPathRole).toString().isEmpty();
    if (!inside.isEmpty())
        text += (listMode ? QStringLiteral("   \u2014 inside ") : QString(QChar::LineSeparator) + QStringLiteral("inside ")) + inside;
    else if (saved && listMode)
        text += QStringLiteral("   \u2014 saved");
    return text;
}

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
    setItemDelegate(new ItemDelegate(this));
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
    // Room for a portrait picture and two lines below it: the name, and "inside NAME" for a part
    // of a saved file.
    const int line = fontMetrics().horizontalAdvance(QStringLiteral("inside GND00000.JPG")) + 16;
    setGridSize(QSize(std::max({px + 40, 120, line}), px + 2 * fontMetrics().height() + 14));
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
