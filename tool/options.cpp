// The programs' leading options, the port they name, --help and --version.
#include "options.h"

#include "version.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const struct {
    const char* name;
    int bit;
} OPTIONS[] = {{"--port", OPTION_PORT},
               {"--fast", OPTION_FAST},
               {"--verify", OPTION_VERIFY},
               {"--pins", OPTION_PINS},
               {"--unprotect", OPTION_UNPROTECT},
               {"--help", OPTION_HELP},
               {"--version", OPTION_VERSION},
               {"--station", OPTION_STATION},
               {"--log", OPTION_LOG},
               {"--erase", OPTION_ERASE},
               {"--blank", OPTION_BLANK},
               {"--update", OPTION_UPDATE},
               {"--keep", OPTION_KEEP},
               {"--protect", OPTION_PROTECT},
               {"--serial", OPTION_SERIAL},
               {"--serials", OPTION_SERIALS},
               {"-h", OPTION_HELP},
               {"/?", OPTION_HELP}};

static const int EVERY_PROGRAM = OPTION_HELP | OPTION_VERSION;

// The OPTION_* bit of `word`, or 0.
static int option_bit(const char* word) {
    for (unsigned k = 0; k < sizeof OPTIONS / sizeof OPTIONS[0]; k++) {
        if (strcmp(word, OPTIONS[k].name) == 0)
            return OPTIONS[k].bit;
    }
    return 0;
}

// n of "LPTn" (n from 1 to 9, the letters in either case, as Windows takes device names), else 0.
static int port_number(const char* name) {
    if (strlen(name) != 4 || (name[0] | 0x20) != 'l' || (name[1] | 0x20) != 'p' ||
        (name[2] | 0x20) != 't' || name[3] < '1' || name[3] > '9')
        return 0;
    return name[3] - '0';
}

static int refuse(Options* options, const char* usage, const char* format, const char* word) {
    snprintf(options->refused, sizeof options->refused, format, word);
    printf("Error %s \n", options->refused);
    printf("%s", usage);
    options->line_open = 1;
    return -1;
}

// Whether the option `bit` takes the word after it.
static int takes_word(int bit) {
    return (bit & (OPTION_PORT | OPTION_LOG | OPTION_KEEP | OPTION_SERIAL | OPTION_SERIALS)) != 0;
}

// The OPTION_* bits of the leading words that name options, each word an option takes skipped as
// read_options skips it, read to the end of the options whatever read_options refuses.
static int asked_options(int argc, char* argv[]) {
    int asked = 0;
    for (int i = 1;
         i < argc && (strncmp(argv[i], "--", 2) == 0 || option_bit(argv[i]) == OPTION_HELP); i++) {
        const int bit = option_bit(argv[i]);
        asked |= bit;
        if (takes_word(bit))
            i++;
    }
    return asked;
}

// A number in hex with 0x, or decimal, that fills the whole of `text`, from 0 to 0x7FFFFFFF;
// -1 otherwise.
static long whole_number(const char* text, const char** end) {
    if (*text < '0' || *text > '9')
        return -1;
    char* stop = NULL;
    const int hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    unsigned long value = strtoul(hex ? text + 2 : text, &stop, hex ? 16 : 10);
    if (stop == (hex ? text + 2 : text) || value > 0x7FFFFFFFul)
        return -1;
    *end = stop;
    return (long)value;
}

// OFFSET:LENGTH into `region`; 0 when the words are not that.
static int parse_region(const char* text, Region* region) {
    const char* end = NULL;
    long offset = whole_number(text, &end);
    if (offset < 0 || *end != ':')
        return 0;
    long length = whole_number(end + 1, &end);
    if (length < 1 || *end != '\0' || offset + length > 0x7FFFFFFFl)
        return 0;
    region->offset = (int)offset;
    region->length = (int)length;
    return 1;
}

// The word after an option that takes one, or NULL when there is none.
static const char* word_after(int argc, char* argv[], int i) {
    return i + 1 < argc && argv[i + 1][0] != '\0' ? argv[i + 1] : NULL;
}

int read_options(int argc, char* argv[], int allowed, const char* word, const ProgramText* text,
                 Options* options) {
    memset(options, 0, sizeof *options);
    options->asked = asked_options(argc, argv);
    allowed |= EVERY_PROGRAM;
    int i = 1;
    for (; i < argc && (strncmp(argv[i], "--", 2) == 0 || option_bit(argv[i]) == OPTION_HELP);
         i++) {
        int bit = option_bit(argv[i]);
        if ((bit & allowed) == 0) {
            char unknown[32];
            snprintf(unknown, sizeof unknown, "unknown %s", word);
            snprintf(options->refused, sizeof options->refused, "%s %s", unknown, argv[i]);
            printf("Error %s \n", options->refused);
            printf("%s", text->usage);
            options->line_open = 1;
            return -1;
        }
        if (bit == OPTION_HELP) {
            printf("%s", text->help);
            return 0;
        }
        if (bit == OPTION_VERSION) {
            print_version(text->name);
            return 0;
        }
        if ((options->given & bit) && bit != OPTION_KEEP)
            return refuse(options, text->usage, "%s given twice", argv[i]);
        options->given |= bit;
        const char* next = word_after(argc, argv, i);
        if (bit == OPTION_LOG || bit == OPTION_SERIALS || bit == OPTION_SERIAL) {
            if (next == NULL)
                return refuse(options, text->usage,
                              bit == OPTION_LOG       ? "%s takes the log file's name"
                              : bit == OPTION_SERIALS ? "%s takes the counter file's name"
                                                      : "%s takes OFFSET:FORMAT",
                              argv[i]);
            *(bit == OPTION_LOG       ? &options->log
              : bit == OPTION_SERIALS ? &options->serials
                                      : &options->serial) = argv[++i];
            continue;
        }
        if (bit == OPTION_KEEP) {
            if (options->keeps == MAX_KEEP)
                return refuse(options, text->usage, "more than 8 regions to keep (%s)", "--keep");
            if (next == NULL || !parse_region(next, &options->keep[options->keeps]))
                return refuse(options, text->usage,
                              "--keep takes OFFSET:LENGTH (hex with 0x, or decimal), not %s",
                              next != NULL ? next : "nothing");
            options->keeps++;
            i++;
            continue;
        }
        if (bit != OPTION_PORT)
            continue;
        options->port = next != NULL ? port_number(next) : 0;
        if (options->port == 0) {
            if (i + 1 < argc)
                return refuse(options, text->usage, "--port takes LPT1 to LPT9, not %s",
                              argv[i + 1]);
            return refuse(options, text->usage, "--port takes LPT1 to LPT9%s", "");
        }
        i++;
    }

    // The default port of every program; --port overrides it, a wrong one there or not.
    const char* env = getenv("LPTSPI_PORT");
    if (env != NULL && env[0] != '\0' && (allowed & OPTION_PORT)) {
        options->port_env = env;
        if (options->port == 0)
            options->port = port_number(env);
        if (options->port == 0) {
            snprintf(options->refused, sizeof options->refused,
                     "LPTSPI_PORT takes LPT1 to LPT9, not %s", env);
            printf("Error %s \n", options->refused);
            return -1;
        }
    }
    return i;
}

int option_after_file(int argc, char* argv[], int file, int allowed) {
    for (int i = file + 1; i < argc; i++) {
        if (option_bit(argv[i]) & (allowed | EVERY_PROGRAM)) {
            printf("Error %s after %s: options go before the file, nothing done \n", argv[i],
                   argv[file]);
            return i;
        }
    }
    return 0;
}

void wrong_arguments(const char* program, char* argv[], int count, const char* file) {
    printf("Error wrong number of arguments passed \n");
    printf("%s", program);
    for (int i = 1; i <= count; i++)
        printf(" %s", argv[i]);
    printf(" %s", file);
}

void print_version(const char* program) {
    if (LPTSPI_GIT_DESCRIPTION[0] != '\0')
        printf("%s %s (git %s)\n", program, LPTSPI_VERSION, LPTSPI_GIT_DESCRIPTION);
    else
        printf("%s %s\n", program, LPTSPI_VERSION);
}
