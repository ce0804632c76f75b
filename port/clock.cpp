// The system's clocks: milliseconds for waits, seconds for timing.
#include "clock.h"

#include "system.h"

unsigned long ticks_ms() {
    return (unsigned long)GetTickCount();
}

double seconds_now() {
    LARGE_INTEGER count, frequency;
    // Every system since Windows 95 has the performance counter; without one, the tick count.
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
        !QueryPerformanceCounter(&count))
        return (double)GetTickCount() / 1000.0;
    return (double)count.QuadPart / (double)frequency.QuadPart;
}
