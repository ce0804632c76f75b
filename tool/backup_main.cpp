// lptspi-backup: reads the SPI flash on a parallel port (LPT1 unless --port names another) into a
// file lptspi writes back.
#include "backup.h"
#include "options.h"
#include "verdict.h"

#include "../port/interrupt.h"

#include <stdio.h>

static const ProgramText TEXT = {
    "lptspi-backup", "lptspi-backup [--port LPTn] backup.bin",
    "lptspi-backup [--port LPTn] backup.bin\n"
    "reads the SPI flash on the parallel port twice into backup.bin, an image lptspi writes back\n"
    "  --port LPTn  the port LPT1 to LPT9 instead of LPT1 (the environment's LPTSPI_PORT=LPTn "
    "too)\n"
    "  --help       shows this help (-h and /? too)\n"
    "  --version    shows the version\n"
    "Options go before backup.bin, which must not exist yet.\n"};

int main(int argc, char* argv[]) {
    // Progress lines end in a carriage return, not a line feed: show each one as it is printed.
    setvbuf(stdout, NULL, _IONBF, 0);

    // Every refusal ends with the verdict, as every backup does.
    Options options;
    int first = read_options(argc, argv, OPTION_PORT, "option", &TEXT, &options);
    if (first <= 0)
        return first < 0
                   ? say_refused(EXIT_BACKUP_NOT_WRITTEN, options.line_open, "%s", options.refused)
                   : 0;
    const int late = first < argc ? option_after_file(argc, argv, first, OPTION_PORT) : 0;
    if (late != 0)
        return say_refused(EXIT_BACKUP_NOT_WRITTEN, 0, "%s after the file", argv[late]);
    // Exactly one file: a stray second word is more likely a mistake than a wish.
    if (argc - first != 1) {
        wrong_arguments("lptspi-backup", argv, first - 1, "backup.bin");
        return say_refused(EXIT_BACKUP_NOT_WRITTEN, 1, "%s", "wrong number of arguments");
    }
    // Ctrl-C leaves nothing behind: the temporary file goes, the lines are left idle.
    CatchInterrupts();
    return backup_flash(argv[first], options.port != 0 ? options.port : 1);
}
