// KEOTimer on CLOCK_MONOTONIC, whose ticks are nanoseconds.
#include "codec/KEOTimer.h"

#include <ctime>
#include <mutex>

namespace {

// Timers may be built on several threads at once; the conversion is set once.
std::once_flag g_conversionOnce;

uint64_t currentTicks() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

} // namespace

int KEOTimer::g_firstTime = 0;
double KEOTimer::g_conversion = 1e-9;

KEOTimer::KEOTimer() {
    std::call_once(g_conversionOnce, [] {
        g_firstTime = 1;
        // Tick-to-nanosecond ratio of the clock: numer / denom = 1 / 1.
        const double numer = 1.0;
        const double denom = 1.0;
        g_conversion = numer / denom * 1e-9;
    });
    startTicks = currentTicks();
}

KEOTimer::~KEOTimer() {}

void KEOTimer::ResetTimer() {
    startTicks = currentTicks();
}

double KEOTimer::GetElapsedTime() const {
    return static_cast<double>(currentTicks() - startTicks) * g_conversion;
}
