// lptspi-check: tells apart what keeps lptspi from working, one finding a line.
#include "check.h"

#include "../port/interrupt.h"

#include <stdio.h>
#include <string.h>

int main(int argc, char* argv[]) {
    setvbuf(stdout, NULL, _IONBF, 0);
    CatchInterrupts("\ninterrupted: the lines are left idle, the flash released\n");
    CheckOptions options = {0, 0};
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--pins") == 0) {
            options.pins = 1;
        } else if (strcmp(argv[i], "--unprotect") == 0) {
            options.unprotect = 1;
        } else {
            printf("Error unknown argument %s \n", argv[i]);
            printf("lptspi-check [--pins] [--unprotect]");
            return CHECK_PORT_OR_DRIVER;
        }
    }
    return check_all(&options);
}
