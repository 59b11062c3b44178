#pragma once
// A slider and a progress bar that carry 64-bit sector numbers on Qt's int widgets: a fixed
// range of steps mapped exactly onto [0, span] at both ends.
#include "media/scanrange.h"

#include <QProgressBar>
#include <QSlider>
#include <cstdint>

namespace lumafind {

class SectorSlider : public QSlider {
    Q_OBJECT
public:
    explicit SectorSlider(QWidget *parent = nullptr);
    void setSectorMaximum(uint64_t maximum);  // the minimum is always 0
    uint64_t sectorMaximum() const { return maximum_; }
    void setSectorValue(uint64_t sector);     // from code: no user action runs
    uint64_t sectorValue() const;             // the sector under the knob

signals:
    // The user moved the knob (drag, click, keys).
    void userMoved();

private:
    uint64_t maximum_ = 0;
};

class SectorProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit SectorProgressBar(QWidget *parent = nullptr);
    void setSectorMaximum(uint64_t maximum);
    void setSectorValue(uint64_t value);
    uint64_t sectorMaximum() const { return maximum_; }

private:
    uint64_t maximum_ = 0;
};

} // namespace lumafind
