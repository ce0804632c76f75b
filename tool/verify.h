// lptspi --verify: the flash compared with an image, nothing written.
#pragma once

#include "job.h"

// Compares the flash's first pages with the image on the fast link, as the fast run verifies
// them, and writes nothing: only a busy flash is refused (a word sequence cut short is ended
// with write disable, which changes nothing in the memory). A page that differs is read again:
// two reads that differ are blamed on the reads, not the flash. Ends with its verdict line, which
// names the chip the identification found ("PASS: M25P80 holds image.bin (...)").
// Returns EXIT_VERIFIED when the flash holds the image, EXIT_VERIFY_FAILED when a page differs.
int verify_flash(const Job* job);
