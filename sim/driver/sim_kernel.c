/* What the simulated port needs from the kernel: a clock and a lock. Kept in C, apart from
 * port_sim.cpp, because the driver kit headers are C headers. */
#include <ntddk.h>

#include "sim_kernel.h"

static LONGLONG counter_start;
static LONGLONG counter_frequency;
static volatile LONG lock_word;

void sim_clock_start(void) {
    LARGE_INTEGER frequency;
    counter_start = KeQueryPerformanceCounter(&frequency).QuadPart;
    counter_frequency = frequency.QuadPart;
}

unsigned long long sim_clock_ns(void) {
    const LONGLONG ticks = KeQueryPerformanceCounter(NULL).QuadPart - counter_start;
    unsigned long long t, f;
    if (ticks <= 0 || counter_frequency <= 0)
        return 0;
    t = (unsigned long long)ticks;
    f = (unsigned long long)counter_frequency;
    return t / f * 1000000000ull + t % f * 1000000000ull / f;
}

/* Requests arrive at PASSIVE_LEVEL, possibly from several threads; the model is one piece of
 * state and every request is short. */
void hwi_backend_lock(void) {
    while (InterlockedCompareExchange(&lock_word, 1, 0) != 0)
        YieldProcessor();
}

void hwi_backend_unlock(void) {
    InterlockedExchange(&lock_word, 0);
}
