// lptspi: writes a scrambled firmware image into the SPI flash on the first parallel port.
#include "image.h"
#include "sequence.h"

#include "../port/interrupt.h"

#include <stdio.h>
#include <string.h>

int main(int argc, char* argv[]) {
    // Progress lines end in a carriage return, not a line feed: show each one as it is printed.
    setvbuf(stdout, NULL, _IONBF, 0);
    CatchInterrupts("\nInterrupted: the flash may be half-written; running lptspi again erases "
                    "and rewrites it whole\n");

    // Only a first argument that begins with "--" is an option: "lptspi image.bin" runs as it
    // always did, whatever follows the image.
    int fast = 0;
    if (argc >= 2 && strncmp(argv[1], "--", 2) == 0) {
        if (strcmp(argv[1], "--fast") != 0) {
            printf("Error unknown option %s \n", argv[1]);
            printf("lptspi [--fast] program.bin");
            return 1;
        }
        if (argc < 3) {
            printf("Error wrong number of arguments passed \n");
            printf("lptspi --fast program.bin");
            return 1;
        }
        fast = 1;
        argc--;
        argv++;
    }

    unsigned char* image = NULL;
    int pages = 0;
    int status = prepare_image(argc, argv, &image, &pages);
    if (status != 0)
        return status;
    return program_flash(image, pages, fast);
}
