// One libFuzzer program per target; the build names the target.
#include "targets.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const lumafind::fuzz::Target *target = [] {
        const lumafind::fuzz::Target *t = lumafind::fuzz::findTarget(LUMAFIND_FUZZ_TARGET);
        if (!t) {
            std::fprintf(stderr, "unknown fuzz target %s\n", LUMAFIND_FUZZ_TARGET);
            std::abort();
        }
        return t;
    }();
    target->run(data, size);
    return 0;
}
