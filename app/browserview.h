#pragma once
// A thumbnail browser: an icon view whose items can be reordered by dragging inside it.
#include <QListView>

namespace lumafind {

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
    int minimum_ = 40, range_ = 120;
};

} // namespace lumafind
