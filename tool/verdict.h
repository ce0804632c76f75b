// The verdict line that lptspi --fast, --verify and lptspi-backup end with: "PASS: ..." or
// "FAIL: ...", a line of its own that a person reads across the bench and a script can grep.
#pragma once

// A run begins: no failure noted, its clock started.
void verdict_start();

// Notes why the run fails, a short clause; the first one noted is the one the verdict gives.
void fail_because(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Says the verdict on a line of its own: FAIL with the reason noted, else PASS with `passed`
// (printf-style). Returns `status`.
int say_verdict(int status, const char* passed, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// A run refused before it touched the port: "FAIL: <why>: nothing done" (printf-style), on a
// line of its own even when the line printed last was left open (`line_open`: the usage line,
// printed without a line feed). Returns `status`.
int say_refused(int status, int line_open, const char* why, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Text printed before every verdict line from now on ("board 3: "), or NULL for none.
void verdict_prefix(const char* text);

// Why the run fails, as noted (fail_because), or "" when nothing was noted.
const char* verdict_reason();

// Seconds since verdict_start, for the verdict's own text.
double verdict_seconds();

// The first `count` bytes' SHA-256 in a short form for a verdict, "1a2b3c4d5e6f...".
void short_sha256(const unsigned char* bytes, int count, char* text, int size);
