// lptspi: writes a scrambled firmware image into the SPI flash on the first parallel port.
#include "image.h"
#include "sequence.h"

#include <stdio.h>

int main(int argc, char* argv[]) {
    // Progress lines end in a carriage return, not a line feed: show each one as it is printed.
    setvbuf(stdout, NULL, _IONBF, 0);

    unsigned char* image = NULL;
    int pages = 0;
    int status = prepare_image(argc, argv, &image, &pages);
    if (status != 0)
        return status;
    return program_flash(image, pages);
}
