// The leading options of lptspi, lptspi-backup and lptspi-check: the arguments before the first
// one that does not begin with "--" (--port, --log, --keep, --serial and --serials take the word
// after them as well). Every program also takes --help (or -h, or /?) and --version, and the port
// from LPTSPI_PORT when --port does not name one.
#pragma once

enum {
    OPTION_PORT = 0x01, // --port LPTn
    OPTION_FAST = 0x02,
    OPTION_VERIFY = 0x04,
    OPTION_PINS = 0x08,
    OPTION_UNPROTECT = 0x10,
    OPTION_HELP = 0x20,    // taken by every program
    OPTION_VERSION = 0x40, // taken by every program
    OPTION_STATION = 0x80,
    OPTION_LOG = 0x100, // --log FILE
    OPTION_ERASE = 0x200,
    OPTION_BLANK = 0x400,
    OPTION_UPDATE = 0x800,
    OPTION_KEEP = 0x1000, // --keep OFFSET:LENGTH, up to MAX_KEEP times
    OPTION_PROTECT = 0x2000,
    OPTION_SERIAL = 0x4000, // --serial OFFSET:FORMAT[=VALUE]
    OPTION_SERIALS = 0x8000 // --serials FILE
};

enum { MAX_KEEP = 8 };

// A region of the flash: `length` bytes from `offset`.
struct Region {
    int offset;
    int length;
};

struct Options {
    int given;             // OPTION_* bits
    int port;              // n of --port LPTn, else of LPTSPI_PORT (1 to 9); 0 without either
    const char* port_env;  // LPTSPI_PORT's value when it is set and not empty, else NULL
    const char* log;       // FILE of --log FILE, else NULL
    Region keep[MAX_KEEP]; // the regions of --keep, in the order given
    int keeps;
    const char* serial;  // OFFSET:FORMAT[=VALUE] of --serial, else NULL
    const char* serials; // FILE of --serials FILE, else NULL
    // Why the options were refused (read_options returned -1), a clause for a verdict.
    char refused[160];
    // The refusal ended with the usage line, which is printed without a line feed.
    int line_open;
    // The OPTION_* bits of every leading word that names an option, also past one refused: what
    // the command line asked for.
    int asked;
};

// What a program says of itself: its name, its usage line (printed after a refusal, without a
// line feed) and its help (printed by --help, whole lines).
struct ProgramText {
    const char* name;
    const char* usage;
    const char* help;
};

// Reads the leading options of `argv` that `allowed` (OPTION_* bits) lets the program take.
// Returns the index of the first argument that is not an option; 0 having printed the help or the
// version as asked; or -1 having printed why and then the usage: an option the program does not
// take ("Error unknown <word> --x ", `word` being how the program has always called its
// arguments), one given twice (but --keep), --port without LPT1 to LPT9 after it, --keep without
// OFFSET:LENGTH (hex with 0x, or decimal; LENGTH from 1) or more than MAX_KEEP of them, --log,
// --serial or --serials without the word they take, or (without --port) an LPTSPI_PORT that is
// not LPT1 to LPT9 (one line, no usage). The reason is kept in `refused` as well, and
// `line_open` says whether the usage ended the refusal. `asked` is filled in either way.
int read_options(int argc, char* argv[], int allowed, const char* word, const ProgramText* text,
                 Options* options);

// Whether an option the program takes (`allowed`) follows the file argv[file]: if so, prints one
// line saying options go before the file and returns the option's index in argv; else 0. Other
// words after the file are left to the program.
int option_after_file(int argc, char* argv[], int file, int allowed);

// "Error wrong number of arguments passed ", then the usage as given: `program`, the `count`
// options from argv[1] on, and `file`.
void wrong_arguments(const char* program, char* argv[], int count, const char* file);

// "<program> <version>", the version being the build's (see version.h.in), and a line feed.
void print_version(const char* program);
