// The progress line: rewritten in place on a console, a line a tenth into a file or a pipe.
#include "progress.h"

#include "../port/clock.h"
#include "../port/console.h"

#include <stdio.h>
#include <string.h>

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
    p->late_at = p->total;
    p->width = 0;
    p->shown_at = ticks_ms() - 1000;
}

// m:ss
static void clock_text(char* text, int size, double seconds) {
    long s = seconds > 0 ? (long)(seconds + 0.5) : 0;
    snprintf(text, (size_t)size, "%ld:%02ld", s / 60, s % 60);
}

// The phase's line for `done`, without what starts or ends it.
static void line_text(const Progress* p, int done, int status, char* text, int size) {
    char left[48] = "", remaining[32];
    if (p->unit == NULL) {
        // A timed phase: as far as the usual time has gone; past it, how long it has taken.
        char shown[32] = "";
        if (status >= 0)
            snprintf(shown, sizeof shown, " (status %02x)", status);
        if (done >= p->total) {
            clock_text(remaining, sizeof remaining, done / 1000.0);
            snprintf(text, (size_t)size, "%-11s longer than usual: %s so far, usually %.1f s%s",
                     p->phase, remaining, p->total / 1000.0, shown);
            return;
        }
        clock_text(remaining, sizeof remaining, (p->total - done) / 1000.0);
        snprintf(left, sizeof left, ", about %s left", remaining);
        snprintf(text, (size_t)size, "%-11s %3d%%%s%s", p->phase, done * 100 / p->total, left,
                 shown);
        return;
    }
    const double elapsed = seconds_now() - p->started;
    const int percent = (int)((long long)done * 100 / p->total);
    if (done > 0 && done < p->total) {
        clock_text(remaining, sizeof remaining, elapsed * (p->total - done) / done);
        snprintf(left, sizeof left, ", %s left", remaining);
    }
    snprintf(text, (size_t)size, "%-11s %3d%%  %d of %d %s%s", p->phase, percent, done, p->total,
             p->unit, left);
}

// Writes `text`: into a file a line of its own; on a console over the line shown last (blanks
// covering the rest of a longer one), followed by `end`, which a line feed ends for good.
static void put_line(Progress* p, const char* text, const char* end) {
    if (!p->console) {
        printf("%s\n", text);
        return;
    }
    const int length = (int)strlen(text) + (int)strcspn(end, "\n"); // what shows of it
    printf("\r%s%*s%s", text, p->width > length ? p->width - length : 0, "", end);
    line_open = strchr(end, '\n') == NULL;
    p->width = line_open ? (p->width > length ? p->width : length) : 0;
}

void progress_show(Progress* p, int done, int status) {
    char text[128];
    if (p->console) {
        if (ticks_ms() - p->shown_at < 100)
            return;
        p->shown_at = ticks_ms();
        line_text(p, done, status, text, sizeof text);
        put_line(p, text, "   ");
        return;
    }
    if (p->unit == NULL && done >= p->total) {
        // Past the usual time: a line at it, and every PROGRESS_LATE_EVERY_MS after it.
        if (done < p->late_at)
            return;
        while (p->late_at <= done)
            p->late_at += PROGRESS_LATE_EVERY_MS;
        line_text(p, done, status, text, sizeof text);
        put_line(p, text, "");
        return;
    }
    const int tenths = (int)((long long)(done > p->total ? p->total : done) * 10 / p->total);
    if (tenths > p->tenths && (p->unit != NULL || tenths < 10)) {
        p->tenths = tenths;
        line_text(p, done, status, text, sizeof text);
        put_line(p, text, "");
    }
}

void progress_end(Progress* p, int done) {
    char text[128];
    if (p->unit == NULL) {
        // A timed phase ends when the flash says so, however long it took.
        snprintf(text, sizeof text, "%-11s 100%%, %.1f s", p->phase, seconds_now() - p->started);
        put_line(p, text, "\n");
        return;
    }
    if (p->console) {
        line_text(p, done, -1, text, sizeof text);
        put_line(p, text, "          \n");
        return;
    }
    const int tenths = (int)((long long)done * 10 / p->total);
    if (tenths > p->tenths) {
        p->tenths = tenths;
        line_text(p, done, -1, text, sizeof text);
        put_line(p, text, "");
    }
}
