// lptspi: writes a scrambled firmware image into the SPI flash on a parallel port (LPT1 unless
// --port names another), or with --verify only compares the flash with the image.
#include "erase.h"
#include "fast.h"
#include "image.h"
#include "options.h"
#include "sequence.h"
#include "serial.h"
#include "station.h"
#include "verdict.h"
#include "verify.h"

#include "../port/interrupt.h"

#include <stdio.h>
#include <string.h>

static const ProgramText TEXT = {
    "lptspi", "lptspi [--port LPTn] [--fast | --verify] program.bin",
    "lptspi [--port LPTn] [--fast | --verify] program.bin\n"
    "lptspi [--port LPTn] --fast [--keep OFFSET:LENGTH]... [--protect] "
    "[--serial OFFSET:FORMAT=VALUE] program.bin\n"
    "lptspi [--port LPTn] --update [--keep OFFSET:LENGTH]... [--protect] program.bin\n"
    "lptspi [--port LPTn] --station [--update] [--log FILE] [--serial OFFSET:FORMAT --serials "
    "FILE] program.bin\n"
    "lptspi [--port LPTn] --erase [--protect]\n"
    "lptspi [--port LPTn] --blank\n"
    "writes program.bin, a scrambled firmware image, into the SPI flash on the parallel port\n"
    "  --port LPTn  the port LPT1 to LPT9 instead of LPT1 (the environment's LPTSPI_PORT=LPTn "
    "too)\n"
    "  --fast       a faster link that also programs every flash family lptspi-check names\n"
    "  --verify     only compares the flash with program.bin: nothing erased or written\n"
    "  --update     writes as --fast does, but only the erase units that differ from program.bin\n"
    "  --station    writes board after board as --fast does, each one as it is put on the\n"
    "               cable, until Ctrl-C\n"
    "  --log FILE   with --station: appends a CSV row for every board to FILE\n"
    "  --keep OFFSET:LENGTH\n"
    "               keeps the board's own bytes there through the write (up to 8 regions)\n"
    "  --protect    puts back the protection the chip had, once it is written and verified\n"
    "  --serial OFFSET:FORMAT=VALUE\n"
    "               with --fast: writes VALUE at OFFSET as FORMAT (dec:N, le32, be32 or mac)\n"
    "  --serial OFFSET:FORMAT\n"
    "               with --station: each board's number goes at OFFSET as FORMAT\n"
    "  --serials FILE\n"
    "               with --station and --serial: the counter file that hands out the numbers\n"
    "  --erase      erases the whole flash and reads it blank: no image\n"
    "  --blank      only reads whether every byte of the flash is erased (ff)\n"
    "  --help       shows this help (-h and /? too)\n"
    "  --version    shows the version\n"
    "Options go before program.bin. Offsets and lengths are hex with 0x, or decimal.\n"};
static const int ALLOWED = OPTION_PORT | OPTION_FAST | OPTION_VERIFY | OPTION_STATION | OPTION_LOG |
                           OPTION_ERASE | OPTION_BLANK | OPTION_UPDATE | OPTION_KEEP |
                           OPTION_PROTECT | OPTION_SERIAL | OPTION_SERIALS;
// The options that choose a run: one at a time, but for --station --update.
static const int RUNS =
    OPTION_FAST | OPTION_VERIFY | OPTION_STATION | OPTION_ERASE | OPTION_BLANK | OPTION_UPDATE;
// The runs lptspi has, one row each: the option that chooses it, the run, what Ctrl-C says of
// the flash when it stops the run, whether it takes program.bin, and the options that shape it
// (with the words that say which runs take such an option).
struct Mode {
    int option;
    int (*run)(const Job* job);
    const char* interrupted;
    int takes_file;
    int shaped_by;
};
static const Mode MODES[] = {
    // The station says itself what Ctrl-C stopped, with its summary.
    {OPTION_STATION, program_station, "", 1,
     OPTION_LOG | OPTION_UPDATE | OPTION_KEEP | OPTION_PROTECT | OPTION_SERIAL | OPTION_SERIALS},
    {OPTION_VERIFY, verify_flash, "\nInterrupted: the flash was only read, and is as it was\n", 1,
     0},
    {OPTION_FAST, program_fast,
     "\nInterrupted: the flash may be half-written; running lptspi --fast again erases and "
     "rewrites it whole\n",
     1, OPTION_KEEP | OPTION_PROTECT | OPTION_SERIAL},
    {OPTION_UPDATE, program_fast,
     "\nInterrupted: the flash may be half-written; running lptspi --fast erases and rewrites "
     "it whole\n",
     1, OPTION_KEEP | OPTION_PROTECT | OPTION_SERIAL},
    {OPTION_ERASE, erase_flash,
     "\nInterrupted: the flash may be half-erased; running lptspi --erase again erases it "
     "whole\n",
     0, OPTION_PROTECT},
    {OPTION_BLANK, blank_check, "\nInterrupted: the flash was only read, and is as it was\n", 0, 0},
    {0, program_flash,
     "\nInterrupted: the flash may be half-written; running lptspi again erases and rewrites it "
     "whole\n",
     1, 0},
};

// A run refused before the port is touched, `why` (printf-style with `word`) being its clause:
// the runs with a verdict end with FAIL, lptspi's own run says only what it always said.
// Returns 1.
static int refused(int verdict, int line_open, const char* why, const char* word) {
    return verdict ? say_refused(1, line_open, why, word) : 1;
}

// Options that do not go together: "Error <which>: <why> ", the usage and the verdict.
static int clash(const char* which, const char* why) {
    printf("Error %s: %s \n", which, why);
    printf("%s", TEXT.usage);
    return refused(1, 1, "%s", which);
}

// The runs an option that shapes a run goes with, for the refusal.
static const struct {
    int option;
    const char* name;
    const char* runs;
} SHAPES[] = {
    {OPTION_UPDATE, "--update", "alone or with --station"},
    {OPTION_KEEP, "--keep", "with --fast, --update or --station"},
    {OPTION_PROTECT, "--protect", "with --fast, --update, --erase or --station"},
    {OPTION_SERIAL, "--serial", "with --fast, --update or --station"},
    {OPTION_SERIALS, "--serials", "with --station"},
};

// The names of the options that choose a run.
static const char* run_name(int option) {
    return option == OPTION_FAST      ? "--fast"
           : option == OPTION_VERIFY  ? "--verify"
           : option == OPTION_STATION ? "--station"
           : option == OPTION_ERASE   ? "--erase"
           : option == OPTION_BLANK   ? "--blank"
                                      : "--update";
}

// Refuses options that do not go together with the run `mode`: one line, the usage and the
// verdict. Returns 1 when it refused.
static int options_clash(const Options* options, const Mode* mode) {
    char which[64];
    const int runs = options->given & RUNS & ~(mode->option == OPTION_STATION ? OPTION_UPDATE : 0);
    if (runs & ~mode->option) {
        const int other = runs & ~mode->option & -(runs & ~mode->option);
        snprintf(which, sizeof which, "%s and %s together",
                 run_name(mode->option != 0 ? mode->option : other), run_name(other));
        return clash(which, "one run at a time");
    }
    for (unsigned i = 0; i < sizeof SHAPES / sizeof SHAPES[0]; i++) {
        if ((options->given & SHAPES[i].option) && !(mode->shaped_by & SHAPES[i].option) &&
            SHAPES[i].option != mode->option) {
            snprintf(which, sizeof which, "%s goes %s", SHAPES[i].name, SHAPES[i].runs);
            printf("Error %s \n", which);
            printf("%s", TEXT.usage);
            return refused(1, 1, "%s", which);
        }
    }
    return 0;
}

// A serial number: given with the number for one board (--fast, --update), or from a counter
// file for a station. Returns 1 having refused it.
static int serial_refused(const Options* options, const Mode* mode, Serial* serial) {
    if (options->serial == NULL) {
        if (options->serials != NULL)
            return clash("--serials without --serial", "where the number goes is not said");
        return 0;
    }
    char why[160];
    if (!parse_serial(options->serial, serial, why, (int)sizeof why)) {
        printf("Error %s \n", why);
        printf("%s", TEXT.usage);
        return refused(1, 1, "%s", why);
    }
    const int station = mode->option == OPTION_STATION;
    if (station && (serial->given || options->serials == NULL))
        return clash("--station takes --serial OFFSET:FORMAT with --serials FILE",
                     "the counter file the numbers come from");
    if (!station && !serial->given)
        return clash("--serial OFFSET:FORMAT=VALUE", "one board takes the number given");
    return 0;
}

int main(int argc, char* argv[]) {
    // Progress lines end in a carriage return, not a line feed: show each one as it is printed.
    setvbuf(stdout, NULL, _IONBF, 0);

    // Only leading arguments that begin with "--" are options: "lptspi image.bin" runs as it
    // always did, whatever follows the image, but for an option that belongs before it.
    Options options;
    int first = read_options(argc, argv, ALLOWED, "option", &TEXT, &options);
    // Every run but lptspi's own (the only one that takes no option but --port) ends with a
    // verdict, its refusals included.
    const int verdict = (options.asked & ALLOWED & ~OPTION_PORT) != 0;
    if (first <= 0)
        return first < 0 ? refused(verdict, options.line_open, "%s", options.refused) : 0;
    if ((options.given & OPTION_FAST) && (options.given & OPTION_VERIFY))
        return clash("--fast and --verify together", "--verify writes nothing");
    if ((options.given & OPTION_STATION) && (options.given & (OPTION_FAST | OPTION_VERIFY)))
        return clash((options.given & OPTION_FAST) ? "--station and --fast together"
                                                   : "--station and --verify together",
                     "--station writes every board as --fast does");
    if ((options.given & OPTION_LOG) && !(options.given & OPTION_STATION))
        return clash("--log without --station", "only the station keeps a log");
    const Mode* mode = MODES;
    while (mode->option != 0 && (options.given & mode->option) == 0)
        mode++;
    Serial serial = {};
    if (options_clash(&options, mode) || serial_refused(&options, mode, &serial))
        return 1;
    if (!mode->takes_file && first < argc) {
        char which[64];
        snprintf(which, sizeof which, "%s takes no file", run_name(mode->option));
        return clash(which, "it works on the whole flash");
    }
    if (mode->takes_file && first > 1 && first >= argc) {
        wrong_arguments("lptspi", argv, first - 1, "program.bin");
        return refused(verdict, 1, "%s", "wrong number of arguments");
    }
    const int late = first < argc ? option_after_file(argc, argv, first, ALLOWED) : 0;
    if (late != 0)
        return refused(verdict, 0, "%s after the file", argv[late]);
    const int port = options.port != 0 ? options.port : 1;
    CatchInterrupts();

    // No file at all: the usage lines lptspi has always printed.
    Image image = {};
    int status = 0;
    if (mode->takes_file)
        status = first < argc ? load_image(argv[first], &image) : prepare_image(argc, argv, &image);
    if (status != 0)
        return refused(verdict, 0, "%s", image.refused);
    // An empty image would leave every board erased, or pass any board: only lptspi's own run
    // takes one, as it always did.
    if (mode->takes_file && verdict && image.size == 0) {
        printf("Error %s is empty: nothing to write (lptspi --erase erases the flash) \n",
               image.path);
        free_image(&image);
        return refused(verdict, 0, "%s is empty", argv[first]);
    }
    Job job = {};
    job.image = mode->takes_file ? &image : NULL;
    job.port = port;
    job.keep = options.keep;
    job.keeps = options.keeps;
    job.protect = (options.given & OPTION_PROTECT) != 0;
    job.update = (options.given & OPTION_UPDATE) != 0;
    job.has_serial = options.serial != NULL;
    job.serial = serial;
    job.serials = options.serials;
    job.log = options.log;
    status = mode->run(&job);
    free_image(&image);
    // Ctrl-C: the run stopped at a frame boundary with the lines idle; only here does it end.
    if (status == EXIT_INTERRUPTED)
        printf("%s", mode->interrupted);
    return status;
}
