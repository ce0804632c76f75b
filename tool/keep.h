// A board's own bytes kept through a write (--keep): the regions checked against the image and
// the chip, read twice from the board before the erase, shown, and put into the board's copy
// of the image.
#pragma once

#include "image.h"
#include "job.h"
#include "../flash/session.h"

// Refuses regions that lie outside the image's pages or overlap, before anything is touched:
// says why on one line, notes it for the verdict and returns 1; else 0.
int regions_refused(const Job* job);

// Reads each region twice from the identified chip and puts the board's bytes into `board` (a
// copy of the image's bytes), showing each region's first 16 bytes. Returns 0 when the run can
// go on; else the exit status, having said why: a region outside the chip, two reads that
// differ (nothing erased either way), or Ctrl-C.
// The regions' bytes are also written into `logged` (`size` bytes) for the station's log.
int keep_regions(FlashSession* s, const Job* job, unsigned char* board, char* logged, int size);
