#pragma once
// The fuzz targets' bodies. The libFuzzer programs and the regression test both call them, so an
// input kept from a fuzzing run is replayed through exactly the code that once failed on it.
// A target that finds a broken rule prints it and aborts, which libFuzzer counts as a crash.
#include <cstddef>
#include <cstdint>

namespace lumafind::fuzz {

struct Target {
    const char *name;
    void (*run)(const uint8_t *data, size_t size);
};

// Every target, by the name its program and its regression folder carry.
extern const Target kTargets[];
extern const size_t kTargetCount;
const Target *findTarget(const char *name);

} // namespace lumafind::fuzz
