#include "scanrange.h"

#include "common/hex.h"

#include <algorithm>

namespace lumafind {

bool Check_For_Valid_Sec(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

QString RangeAlert::message() const
{
    switch (number) {
    case 1: return QStringLiteral("\nPlease enter valid Start Sector value.");
    case 2:
    case 4: return QStringLiteral("\nMaximum sector range exceeded");
    case 3: return QStringLiteral("\nPlease enter valid End Sector value.");
    case 5: return QStringLiteral("\nEnd Sector should be greater than Start Sector.");
    default: return QString();
    }
}

QString RangeAlert::informative() const
{
    if (number == 2)
        return QStringLiteral("Please enter valid Start Sector value.");
    if (number == 4)
        return QStringLiteral("Please enter valid End Sector value.");
    return QString();
}

// The four tests of one field; returns 0, the "invalid" alert or the "exceeded" alert.
static int checkField(const QString &text, const QString &sectorsVal, int invalidAlert, int exceededAlert, int64_t *value)
{
    if (text.isEmpty() || !scanInt64(text, value) || *value < 0)
        return invalidAlert;
    if (!Check_For_Valid_Sec(text))
        return invalidAlert;
    if (text.size() > sectorsVal.size())
        return exceededAlert;
    if (text.toDouble() > sectorsVal.toDouble())
        return exceededAlert;
    return 0;
}

RangeAlert checkRange(const RangeControls &c)
{
    if (c.entireDisk || !c.sectorRange)
        return {};
    int64_t start = 0, end = 0;
    if (int a = checkField(c.startText, c.sectorsVal, 1, 2, &start))
        return {a, RangeField::Start};
    if (int a = checkField(c.endText, c.sectorsVal, 3, 4, &end))
        return {a, RangeField::End};
    if (end <= start)
        return {5, RangeField::End};
    return {};
}

ScanRange rangeHandOver(const RangeControls &c)
{
    ScanRange r;
    if (c.entireDisk && !c.sectorRange) {
        r.end = static_cast<uint64_t>(leadingInt64(c.sectorsVal));
    } else if (!c.entireDisk && c.sectorRange) {
        r.start = static_cast<uint64_t>(leadingInt64(c.startText));
        r.end = static_cast<uint64_t>(leadingInt64(c.endText));
    }
    r.total = r.end - r.start;
    return r;
}

uint64_t sliderToSector(uint64_t span, int position)
{
    const uint64_t v = static_cast<uint64_t>(std::clamp(position, 0, kSliderSteps));
    const uint64_t q = span / kSliderSteps, r = span % kSliderSteps;
    return q * v + r * v / kSliderSteps;
}

int sectorToSlider(uint64_t span, uint64_t sector)
{
    if (span == 0)
        return 0;
    if (sector >= span)
        return kSliderSteps;
    const double ratio = static_cast<double>(sector) / static_cast<double>(span);
    return std::clamp(static_cast<int>(ratio * kSliderSteps), 0, kSliderSteps);
}

QString progressText(uint64_t forIndex, uint64_t startSector, uint64_t endSector, uint64_t totalSector)
{
    const uint64_t percent = totalSector == 0 ? 0 : ((forIndex - startSector) * 100) / totalSector;
    return QString::asprintf("Sectors %llu of %llu   ( Completed %llu%% )", static_cast<unsigned long long>(forIndex),
                             static_cast<unsigned long long>(endSector), static_cast<unsigned long long>(percent));
}

} // namespace lumafind
