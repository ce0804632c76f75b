// The programming run: claim the port, check the flash is idle, bulk-erase, program every page,
// verify up to the first page that differs, and leave the lines idle.
#pragma once

// Exit statuses of a run.
enum {
    EXIT_VERIFIED = 0, // every page read back as written
    EXIT_NO_PORT_OR_BUSY = 1,
    EXIT_VERIFY_FAILED = 2 // a page differed; the run still completed
};

// Programs `pages` pages of `image` from flash address 0. Frees `image`. Returns the exit status.
int program_flash(unsigned char* image, int pages);
