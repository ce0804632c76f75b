#include "options.h"

#include <stdio.h>
#include <string.h>

static const struct {
    const char* name;
    int bit;
} OPTIONS[] = {{"--port", OPTION_PORT},
               {"--fast", OPTION_FAST},
               {"--verify", OPTION_VERIFY},
               {"--pins", OPTION_PINS},
               {"--unprotect", OPTION_UNPROTECT}};

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

int read_options(int argc, char* argv[], int allowed, const char* word, const char* usage,
                 Options* options) {
    options->given = 0;
    options->port = 0;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; i++) {
        int bit = 0;
        for (unsigned k = 0; k < sizeof OPTIONS / sizeof OPTIONS[0]; k++) {
            if (strcmp(argv[i], OPTIONS[k].name) == 0)
                bit = OPTIONS[k].bit;
        }
        if ((bit & allowed) == 0) {
            printf("Error unknown %s %s \n", word, argv[i]);
            return refuse(usage);
        }
        if (options->given & bit) {
            printf("Error %s given twice \n", argv[i]);
            return refuse(usage);
        }
        options->given |= bit;
        if (bit != OPTION_PORT)
            continue;
        options->port = i + 1 < argc ? port_number(argv[i + 1]) : 0;
        if (options->port == 0) {
            if (i + 1 < argc)
                printf("Error --port takes LPT1 to LPT9, not %s \n", argv[i + 1]);
            else
                printf("Error --port takes LPT1 to LPT9 \n");
            return refuse(usage);
        }
        i++;
    }
    return i;
}

void wrong_arguments(const char* program, char* argv[], int count, const char* file) {
    printf("Error wrong number of arguments passed \n");
    printf("%s", program);
    for (int i = 1; i <= count; i++)
        printf(" %s", argv[i]);
    printf(" %s", file);
}
