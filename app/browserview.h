#pragma once
// A thumbnail browser: an icon view whose items can be reordered by dragging inside it. Each
// picture has a thin frame (a white photo stays visible); a saved item carries a mark, and an
// item that is part of a saved file says which.
#include <QListView>

namespace lumafind {

// The text under (or beside, in a list) an item: its name, and what became of it.
QString itemText(const QModelIndex &index, bool listMode);

class BrowserView : public QListView {
    Q_OBJECT
public:
    explicit BrowserView(QWidget *parent = nullptr);
    // Zoom 0..1 sets the icon size, as the zoom slider does.
    void setZoom(double zoom);
    double zoom() const { return zoom_; }
    void setBaseIconSize(int minimum, int range);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    double zoom_ = 0.55;
    // Thumbnails are decoded at 100 pixels: the slider's whole travel stays within that.
    int minimum_ = 40, range_ = 60;
};

} // namespace lumafind
