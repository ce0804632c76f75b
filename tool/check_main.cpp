// lptspi-check: tells apart what keeps lptspi from working, one finding a line.
#include "check.h"
#include "options.h"

#include "../port/interrupt.h"

#include <stdio.h>

static const ProgramText TEXT = {
    "lptspi-check", "lptspi-check [--port LPTn] [--fast] [--pins] [--unprotect]",
    "lptspi-check [--port LPTn] [--fast] [--pins] [--unprotect]\n"
    "tells apart what keeps lptspi from working, one finding a line; the flash's contents are "
    "left alone\n"
    "  --port LPTn  checks the port LPT1 to LPT9 instead of LPT1 (the environment's "
    "LPTSPI_PORT=LPTn too)\n"
    "  --fast       judges whether lptspi --fast can write the flash as it is, rather than lptspi\n"
    "  --pins       also holds each output pin at its working level in turn, 3 s each, for a "
    "meter\n"
    "  --unprotect  also clears the flash's block protection\n"
    "  --help       shows this help (-h and /? too)\n"
    "  --version    shows the version\n"};

int main(int argc, char* argv[]) {
    setvbuf(stdout, NULL, _IONBF, 0);
    CatchInterrupts();
    // Every argument is an option.
    Options options;
    int first = read_options(argc, argv, OPTION_PORT | OPTION_FAST | OPTION_PINS | OPTION_UNPROTECT,
                             "argument", &TEXT, &options);
    if (first <= 0)
        return first < 0 ? CHECK_PORT_OR_DRIVER : CHECK_READY;
    if (first < argc) {
        printf("Error unknown argument %s \n", argv[first]);
        printf("%s", TEXT.usage);
        return CHECK_PORT_OR_DRIVER;
    }
    CheckOptions check = {(options.given & OPTION_PINS) != 0,
                          (options.given & OPTION_UNPROTECT) != 0,
                          (options.given & OPTION_FAST) != 0,
                          options.port,
                          options.port_env,
                          (options.given & OPTION_PORT) != 0};
    const int status = check_all(&check);
    if (status == CHECK_INTERRUPTED)
        printf("\ninterrupted: the lines are left idle, the flash released\n");
    return status;
}
