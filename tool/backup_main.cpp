// lptspi-backup: reads the SPI flash on the first parallel port into a file lptspi writes back.
#include "backup.h"
#include "../flash/link.h"

#include <stdio.h>

int main(int argc, char* argv[]) {
    // Progress lines end in a carriage return, not a line feed: show each one as it is printed.
    setvbuf(stdout, NULL, _IONBF, 0);

    // Exactly one argument: a stray second word is more likely a mistake than a wish.
    if (argc != 2) {
        printf("Error wrong number of arguments passed \n");
        printf("lptspi-backup backup.bin");
        return EXIT_BACKUP_NOT_WRITTEN;
    }
    linkfast = 1;
    return backup_flash(argv[1]);
}
