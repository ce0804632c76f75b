// lptspi's own run: claim the port, check the flash is idle, bulk-erase, program every page,
// verify up to the first page that differs, and leave the lines idle.
#pragma once

#include "board.h"
#include "job.h"

// Programs the image's pages from flash address 0 on lptspi's own link. Returns the exit status.
int program_flash(const Job* job);
