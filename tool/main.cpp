// lptspi: writes a scrambled firmware image into the SPI flash on a parallel port (LPT1 unless
// --port names another), or with --verify only compares the flash with the image.
#include "image.h"
#include "options.h"
#include "sequence.h"

#include "../port/interrupt.h"

#include <stdio.h>
#include <string.h>

static const char USAGE[] = "lptspi [--port LPTn] [--fast | --verify] program.bin";

int main(int argc, char* argv[]) {
    // Progress lines end in a carriage return, not a line feed: show each one as it is printed.
    setvbuf(stdout, NULL, _IONBF, 0);

    // Only leading arguments that begin with "--" are options: "lptspi image.bin" runs as it
    // always did, whatever follows the image.
    Options options;
    int first = read_options(argc, argv, OPTION_PORT | OPTION_FAST | OPTION_VERIFY, "option", USAGE,
                             &options);
    if (first < 0)
        return 1;
    if ((options.given & OPTION_FAST) && (options.given & OPTION_VERIFY)) {
        printf("Error --fast and --verify together: --verify writes nothing \n");
        printf("%s", USAGE);
        return 1;
    }
    if (first > 1 && first >= argc) {
        wrong_arguments("lptspi", argv, first - 1, "program.bin");
        return 1;
    }
    if (options.port != 0)
        port_number = options.port;
    int verify = (options.given & OPTION_VERIFY) != 0;
    const int fast = (options.given & OPTION_FAST) != 0;
    CatchInterrupts(verify ? "\nInterrupted: the flash was only read, and is as it was\n"
                    : fast ? "\nInterrupted: the flash may be half-written; running lptspi --fast "
                             "again erases and rewrites it whole\n"
                           : "\nInterrupted: the flash may be half-written; running lptspi again "
                             "erases and rewrites it whole\n");

    argc -= first - 1;
    argv += first - 1;
    unsigned char* image = NULL;
    int pages = 0;
    int status = prepare_image(argc, argv, &image, &pages);
    if (status != 0)
        return status;
    if (verify)
        return verify_flash(image, pages);
    return program_flash(image, pages, fast);
}
