#pragma once
// The scan range: the check that Next runs on the options screen, and the hand-over that turns
// the controls into the scan fields.
#include <QString>
#include <cstdint>

namespace lumafind {

// Every character is one of the ten digits (the empty text too).
bool Check_For_Valid_Sec(const QString &text);

enum class RangeField { None, Start, End };

struct RangeAlert {
    int number = 0;           // 0 = the check passed; 1-5 = which alert
    RangeField field = RangeField::None;  // the field that gets the focus
    QString message() const;     // with its leading line feed
    QString informative() const;
};

struct RangeControls {
    bool entireDisk = true;
    bool sectorRange = false;
    QString sectorsVal;  // the medium's sector count as text
    QString startText;
    QString endText;
};

// The range check: the first failing test gives its alert and the field to focus.
RangeAlert checkRange(const RangeControls &c);

struct ScanRange {
    uint64_t start = 0, end = 0, total = 0;
};
// The hand-over: entire disk = [0, sector count); sector range = the typed values.
ScanRange rangeHandOver(const RangeControls &c);

// Sliders and the progress bar work on 0..kSliderSteps; sectors map onto that exactly at
// both ends, whatever the span.
constexpr int kSliderSteps = 1000000;
uint64_t sliderToSector(uint64_t span, int position);
int sectorToSlider(uint64_t span, uint64_t sector);

// The progress line of a running scan.
QString progressText(uint64_t forIndex, uint64_t startSector, uint64_t endSector, uint64_t totalSector);

} // namespace lumafind
