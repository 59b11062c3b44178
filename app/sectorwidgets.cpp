#include "sectorwidgets.h"

namespace lumafind {

SectorSlider::SectorSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setRange(0, kSliderSteps);
    setPageStep(kSliderSteps / 100);
    setSingleStep(1);
    connect(this, &QSlider::sliderMoved, this, &SectorSlider::userMoved);
    // actionTriggered comes before the value is committed; the position is already the new one.
    connect(this, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction)
            emit userMoved();
    });
}

void SectorSlider::setSectorMaximum(uint64_t maximum)
{
    maximum_ = maximum;
}

void SectorSlider::setSectorValue(uint64_t sector)
{
    const QSignalBlocker block(this);
    setValue(sectorToSlider(maximum_, sector));
    setSliderPosition(value());
}

uint64_t SectorSlider::sectorValue() const
{
    return sliderToSector(maximum_, sliderPosition());
}

SectorProgressBar::SectorProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setRange(0, kSliderSteps);
    setTextVisible(false);
}

void SectorProgressBar::setSectorMaximum(uint64_t maximum)
{
    maximum_ = maximum;
}

void SectorProgressBar::setSectorValue(uint64_t value)
{
    setValue(sectorToSlider(maximum_, value));
}

} // namespace lumafind
