// lptspi --erase and lptspi --blank: the whole chip erased by its family's plan, or only read to
// see that it is.
#pragma once

#include "job.h"

// Clears the chip's protection by its family's procedure, erases it whole by its erase plan and
// reads it back blank; with job->protect puts the protection back. Ends with its verdict line.
// Returns the exit status: 0 erased and blank, 1 nothing erased, 2 the erase failed or left a
// page that is not blank.
int erase_flash(const Job* job);

// Reads the whole chip: exit 0 when every byte is 0xff, else 2 naming the first page that is
// not blank (1 when the chip cannot be read). Ends with its verdict line.
int blank_check(const Job* job);
