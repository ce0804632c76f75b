// The progress line of lptspi --fast, --verify and lptspi-backup: the phase, how far it is and
// the time left. On a console one line rewritten in place; into a file or a pipe a line at every
// tenth of the way, so that logs stay readable. A timed phase that runs past its usual time says
// so, with the time so far: on a console in its line, into a file a line every 10 s.
#pragma once

enum { PROGRESS_LATE_EVERY_MS = 10000 };

struct Progress {
    const char* phase;      // "erasing", "programming", "verifying", "reading"
    const char* unit;       // what is counted ("pages"), or NULL: a timed phase, counted in ms
    int total;              // how many in all; for a timed phase the milliseconds it usually takes
    double started;         // when it began (seconds_now)
    int console;            // standard output is a console
    int tenths;             // tenths shown so far, into a file
    int late_at;            // a timed phase into a file: the ms of its next line past the total
    int width;              // the console line's length as last written
    unsigned long shown_at; // when the console line was last rewritten (ticks_ms)
};

// A phase begins: nothing is shown yet.
void progress_start(Progress* p, const char* phase, const char* unit, int total);

// `done` of the total (a timed phase: the milliseconds since it began, as it never knows how far
// it is; `status` the flash's last status, or -1). On a console the line is rewritten at most
// every 100 ms and when the phase ends; into a file a line is printed at each tenth passed, and
// for a timed phase past its total, at the total and every PROGRESS_LATE_EVERY_MS after it
// ("erasing     longer than usual: 0:13 so far, usually 0:03 (status 03)").
void progress_show(Progress* p, int done, int status);

// The phase is over: the console's line ends with a line feed; into a file, the last tenth.
void progress_end(Progress* p, int done);

// Ends a console line a progress line left open, so that what follows starts a line of its own.
void progress_newline();
