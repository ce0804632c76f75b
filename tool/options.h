// The leading options of lptspi, lptspi-backup and lptspi-check: the arguments before the first
// one that does not begin with "--" (--port takes the word after it as well).
#pragma once

enum {
    OPTION_PORT = 0x01, // --port LPTn
    OPTION_FAST = 0x02,
    OPTION_VERIFY = 0x04,
    OPTION_PINS = 0x08,
    OPTION_UNPROTECT = 0x10
};

struct Options {
    int given; // OPTION_* bits
    int port;  // n of --port LPTn (1 to 9); 0 without --port
};

// Reads the leading options of `argv` that `allowed` (OPTION_* bits) lets the program take.
// Returns the index of the first argument that is not an option; or -1 having printed why and
// then `usage`: an option the program does not take ("Error unknown <word> --x ", `word` being
// how the program has always called its arguments), one given twice, or --port without LPT1 to
// LPT9 after it.
int read_options(int argc, char* argv[], int allowed, const char* word, const char* usage,
                 Options* options);

// "Error wrong number of arguments passed ", then the usage as given: `program`, the `count`
// options from argv[1] on, and `file`.
void wrong_arguments(const char* program, char* argv[], int count, const char* file);
