// The backup run: claim the port, check the flash is idle, identify it, read it whole twice and,
// when both reads agree, save it as an image that lptspi writes back.
#pragma once

// Exit statuses of a backup.
enum {
    EXIT_BACKUP_SAVED = 0,
    EXIT_BACKUP_NOT_WRITTEN = 1, // no port, a busy or silent flash, or the file not written
    EXIT_READS_DIFFER = 2,       // the two reads disagreed; nothing was written
    // Saved, but the flash holds data past the last page lptspi writes, which is not in the file:
    // erasing this flash loses it (3 is the simulated PC's own failure).
    EXIT_BACKUP_PARTIAL = 4
};

// Reads the flash on LPT<port> and saves its first pages, scrambled with the key, as the file
// `path`, saying its digest and the firmware's; ends with the verdict line. Returns the exit
// status.
int backup_flash(const char* path, int port);
