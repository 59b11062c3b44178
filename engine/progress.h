#pragma once
// How far a scan has come and how long it will take: elapsed time, a smoothed speed and a
// smoothed time left. The wizard and the command line show the same figures from here.
#include <QString>
#include <cstdint>
#include <optional>

namespace lumafind {

class ProgressEstimator {
public:
    // No time left is given before this much time has passed: the first seconds of a card are
    // read at whatever speed its cache gives and say little about the rest.
    static constexpr double kWarmupSeconds = 5.0;
    // Time constants of the smoothing of the speed and of the time left.
    static constexpr double kSpeedTau = 8.0;
    static constexpr double kLeftTau = 4.0;
    // Besides running down with the clock, the time left moves by at most this fraction of
    // itself per second (and of kMinScale when it is smaller), however the speed changes.
    static constexpr double kMaxChangePerSecond = 0.1;
    static constexpr double kMinScale = 30.0;

    // A new measurement: seconds since the scan started, bytes done and bytes in all. Samples
    // come in time order; one that is not later than the last is ignored.
    void update(double elapsedSeconds, uint64_t doneBytes, uint64_t totalBytes);
    void reset() { *this = ProgressEstimator(); }

    double elapsed() const { return elapsed_; }
    double bytesPerSecond() const { return speed_; }
    // Seconds left; none in the first seconds or while nothing has been read. 0 once done.
    std::optional<double> secondsLeft() const;

private:
    bool started_ = false, measured_ = false;
    double elapsed_ = 0, speed_ = 0;
    uint64_t done_ = 0, total_ = 0;
    std::optional<double> left_;
};

// A duration as the progress line shows it: "0:42", "12:05", "1:02:03".
QString durationText(double seconds);

// The whole scan's bytes: every pass reads the range [start, end) once, passesStarted counts
// the current pass, and `at` is the sector the current pass reads next.
struct ScanAmount {
    uint64_t done = 0, total = 0;
};
ScanAmount scanAmount(int passesStarted, int passesPlanned, uint64_t start, uint64_t at, uint64_t end);

} // namespace lumafind
