// Elapsed wall time from the monotonic clock, for encoder measurements.
#pragma once

#include <cstdint>

class KEOTimer {
public:
    // Starts timing.
    KEOTimer();
    virtual ~KEOTimer();

    // Restarts timing from now.
    void ResetTimer();
    // Seconds since construction or the last ResetTimer.
    double GetElapsedTime() const;

private:
    uint64_t startTicks;

    static int g_firstTime;
    static double g_conversion; // seconds per tick
};
