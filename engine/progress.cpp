#include "progress.h"

#include "engine/sectorreader.h"

#include <algorithm>
#include <cmath>

namespace lumafind {

void ProgressEstimator::update(double elapsedSeconds, uint64_t doneBytes, uint64_t totalBytes)
{
    if (!std::isfinite(elapsedSeconds) || elapsedSeconds < 0)
        return;
    if (!started_) {
        started_ = true;
        elapsed_ = elapsedSeconds;
        done_ = doneBytes;
        total_ = totalBytes;
        if (elapsedSeconds > 0 && doneBytes > 0) {
            speed_ = double(doneBytes) / elapsedSeconds;
            measured_ = true;
        }
        return;
    }
    const double dt = elapsedSeconds - elapsed_;
    if (dt <= 0)
        return;
    // A count that went back (it should not) reads as a stall, never as negative speed.
    const double instant = doneBytes > done_ ? double(doneBytes - done_) / dt : 0.0;
    // The first interval sets the speed; later ones move it smoothly.
    speed_ = measured_ ? speed_ + (1.0 - std::exp(-dt / kSpeedTau)) * (instant - speed_) : instant;
    measured_ = true;
    elapsed_ = elapsedSeconds;
    done_ = std::max(done_, doneBytes);
    total_ = totalBytes;

    if (elapsed_ < kWarmupSeconds)
        return;
    const double remaining = total_ > done_ ? double(total_ - done_) : 0.0;
    if (!left_) {
        if (speed_ > 0 && done_ > 0)
            left_ = remaining / speed_;
        return;
    }
    // The clock runs the estimate down; the new speed pulls it towards what it says, by at
    // most a bounded step so that one slow patch of a card does not make it leap.
    const double predicted = std::max(0.0, *left_ - dt);
    const double step = kMaxChangePerSecond * dt * std::max(predicted, kMinScale);
    double target = speed_ > 0 ? remaining / speed_ : predicted + step;
    if (!std::isfinite(target))
        target = predicted + step;
    double next = predicted + (1.0 - std::exp(-dt / kLeftTau)) * (target - predicted);
    next = std::clamp(next, std::max(0.0, predicted - step), predicted + step);
    left_ = next;
}

std::optional<double> ProgressEstimator::secondsLeft() const
{
    if (started_ && total_ > 0 && done_ >= total_)
        return 0.0;
    return left_;
}

QString durationText(double seconds)
{
    const auto s = static_cast<long long>(std::llround(std::max(0.0, std::min(seconds, 1e9))));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

ScanAmount scanAmount(int passesStarted, int passesPlanned, uint64_t start, uint64_t at, uint64_t end)
{
    ScanAmount a;
    const uint64_t span = end > start ? end - start : 0;
    const uint64_t planned = uint64_t(std::max(1, passesPlanned));
    const uint64_t before = uint64_t(std::clamp(passesStarted - 1, 0, int(planned) - 1));
    const uint64_t inPass = at > start ? std::min(at - start, span) : 0;
    // Sectors to bytes; a span this large cannot come from a real medium, but never wraps.
    const uint64_t maxSectors = UINT64_MAX / kSectorSize / planned;
    const uint64_t s = std::min(span, maxSectors);
    a.total = s * planned * kSectorSize;
    a.done = (s * before + std::min(inPass, s)) * kSectorSize;
    return a;
}

} // namespace lumafind
