// The progress line: rewritten in place on a console, a line a tenth into a file or a pipe.
#include "progress.h"

#include "../port/clock.h"
#include "../port/console.h"

#include <stdio.h>

// A console line rewritten in place and not yet ended.
static int line_open = 0;

void progress_newline() {
    if (line_open)
        printf("\n");
    line_open = 0;
}

void progress_start(Progress* p, const char* phase, const char* unit, int total) {
    p->phase = phase;
    p->unit = unit;
    p->total = total > 0 ? total : 1;
    p->started = seconds_now();
    p->console = OutputIsConsole();
    p->tenths = 0;
    p->shown_at = ticks_ms() - 1000;
}

// m:ss
static void clock_text(char* text, int size, double seconds) {
    long s = seconds > 0 ? (long)(seconds + 0.5) : 0;
    snprintf(text, (size_t)size, "%ld:%02ld", s / 60, s % 60);
}

static void print_line(const Progress* p, int done, int status, const char* end) {
    const char* start = p->console ? "\r" : "";
    char left[48] = "", remaining[32];
    if (p->unit == NULL) {
        // A timed phase: as far as the usual time has gone, short of the end until it ends.
        const int percent = done >= p->total ? 99 : done * 100 / p->total;
        clock_text(remaining, sizeof remaining, (p->total - done) / 1000.0);
        snprintf(left, sizeof left, done < p->total ? ", about %s left" : ", longer than usual",
                 remaining);
        char shown[32] = "";
        if (status >= 0)
            snprintf(shown, sizeof shown, " (status %02x)", status);
        printf("%s%-11s %3d%%%s%s%s", start, p->phase, percent, left, shown, end);
        return;
    }
    const double elapsed = seconds_now() - p->started;
    const int percent = (int)((long long)done * 100 / p->total);
    if (done > 0 && done < p->total) {
        clock_text(remaining, sizeof remaining, elapsed * (p->total - done) / done);
        snprintf(left, sizeof left, ", %s left", remaining);
    }
    printf("%s%-11s %3d%%  %d of %d %s%s%s", start, p->phase, percent, done, p->total, p->unit,
           left, end);
}

void progress_show(Progress* p, int done, int status) {
    if (p->console) {
        if (ticks_ms() - p->shown_at < 100)
            return;
        p->shown_at = ticks_ms();
        print_line(p, done, status, "   ");
        line_open = 1;
        return;
    }
    const int tenths = (int)((long long)(done > p->total ? p->total : done) * 10 / p->total);
    if (tenths > p->tenths && (p->unit != NULL || tenths < 10)) {
        p->tenths = tenths;
        print_line(p, done, status, "\n");
    }
}

void progress_end(Progress* p, int done) {
    if (p->unit == NULL) {
        // A timed phase ends when the flash says so, however long it took.
        const double elapsed = seconds_now() - p->started;
        printf("%s%-11s 100%%, %.1f s%s\n", p->console ? "\r" : "", p->phase, elapsed,
               p->console ? "                        " : "");
        line_open = 0;
        return;
    }
    if (p->console) {
        print_line(p, done, -1, "          \n");
        line_open = 0;
        return;
    }
    const int tenths = (int)((long long)done * 10 / p->total);
    if (tenths > p->tenths) {
        p->tenths = tenths;
        print_line(p, done, -1, "\n");
    }
}
