// lptspi-check: tells apart what keeps lptspi from working, one finding a line.
#include "check.h"
#include "options.h"

#include "../port/interrupt.h"

#include <stdio.h>

static const char USAGE[] = "lptspi-check [--port LPTn] [--pins] [--unprotect]";

int main(int argc, char* argv[]) {
    setvbuf(stdout, NULL, _IONBF, 0);
    CatchInterrupts("\ninterrupted: the lines are left idle, the flash released\n");
    // Every argument is an option.
    Options options;
    int first = read_options(argc, argv, OPTION_PORT | OPTION_PINS | OPTION_UNPROTECT, "argument",
                             USAGE, &options);
    if (first < 0)
        return CHECK_PORT_OR_DRIVER;
    if (first < argc) {
        printf("Error unknown argument %s \n", argv[first]);
        printf("%s", USAGE);
        return CHECK_PORT_OR_DRIVER;
    }
    CheckOptions check = {(options.given & OPTION_PINS) != 0,
                          (options.given & OPTION_UNPROTECT) != 0, options.port};
    return check_all(&check);
}
