// The programs' leading options, the port they name, --help and --version.
#include "options.h"

#include "version.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const struct {
    const char* name;
    int bit;
} OPTIONS[] = {
    {"--port", OPTION_PORT},       {"--fast", OPTION_FAST},           {"--verify", OPTION_VERIFY},
    {"--pins", OPTION_PINS},       {"--unprotect", OPTION_UNPROTECT}, {"--help", OPTION_HELP},
    {"--version", OPTION_VERSION}, {"--station", OPTION_STATION},     {"--log", OPTION_LOG}};

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

static int refuse(const char* usage) {
    printf("%s", usage);
    return -1;
}

int read_options(int argc, char* argv[], int allowed, const char* word, const ProgramText* text,
                 Options* options) {
    options->given = 0;
    options->port = 0;
    options->port_env = NULL;
    options->log = NULL;
    allowed |= EVERY_PROGRAM;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; i++) {
        int bit = option_bit(argv[i]);
        if ((bit & allowed) == 0) {
            printf("Error unknown %s %s \n", word, argv[i]);
            return refuse(text->usage);
        }
        if (bit == OPTION_HELP) {
            printf("%s", text->help);
            return 0;
        }
        if (bit == OPTION_VERSION) {
            print_version(text->name);
            return 0;
        }
        if (options->given & bit) {
            printf("Error %s given twice \n", argv[i]);
            return refuse(text->usage);
        }
        options->given |= bit;
        if (bit == OPTION_LOG) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                printf("Error --log takes the log file's name \n");
                return refuse(text->usage);
            }
            options->log = argv[++i];
            continue;
        }
        if (bit != OPTION_PORT)
            continue;
        options->port = i + 1 < argc ? port_number(argv[i + 1]) : 0;
        if (options->port == 0) {
            if (i + 1 < argc)
                printf("Error --port takes LPT1 to LPT9, not %s \n", argv[i + 1]);
            else
                printf("Error --port takes LPT1 to LPT9 \n");
            return refuse(text->usage);
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
            printf("Error LPTSPI_PORT takes LPT1 to LPT9, not %s \n", env);
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
            return 1;
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
