// The PASS/FAIL verdict line, and the reason a run noted for it.
#include "verdict.h"

#include "progress.h"
#include "sha256.h"
#include "../port/clock.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static char reason[256];
static double started;
static const char* prefix = "";

void verdict_prefix(const char* text) {
    prefix = text != NULL ? text : "";
}

const char* verdict_reason() {
    return reason;
}

void verdict_start() {
    reason[0] = '\0';
    started = seconds_now();
}

void fail_because(const char* format, ...) {
    if (reason[0] != '\0')
        return;
    va_list args;
    va_start(args, format);
    vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
}

double verdict_seconds() {
    return seconds_now() - started;
}

int say_verdict(int status, const char* passed, ...) {
    progress_newline();
    if (status != 0) {
        printf("%sFAIL: %s\n", prefix, reason[0] != '\0' ? reason : "see above");
        return status;
    }
    va_list args;
    va_start(args, passed);
    printf("%sPASS: ", prefix);
    vprintf(passed, args);
    printf("\n");
    va_end(args);
    return status;
}

int say_refused(int status, int line_open, const char* why, ...) {
    if (line_open)
        printf("\n");
    va_list args;
    va_start(args, why);
    printf("FAIL: ");
    vprintf(why, args);
    printf(": nothing done\n");
    va_end(args);
    return status;
}

void short_sha256(const unsigned char* bytes, int count, char* text, int size) {
    char hex[SHA256_HEX];
    sha256_hex(bytes, (size_t)count, hex);
    snprintf(text, (size_t)size, "%.12s...", hex);
}
