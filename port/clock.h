// The system's clocks, for waits that must not flood the console and for timing port accesses.
#pragma once

// Milliseconds since some moment; wraps after about 49 days, so only differences count.
unsigned long ticks_ms();

// Seconds since some moment, as finely as the system counts.
double seconds_now();
