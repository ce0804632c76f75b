// Writing a whole file so that it is never left half-written and never destroys what was there:
// the bytes go to a new file beside the destination, which takes the destination's place only
// once every byte is written and the file is closed without error.
#pragma once

#include <stddef.h>

enum { OUTFILE_CANNOT_CREATE = 1, OUTFILE_CANNOT_WRITE = 2, OUTFILE_READ_ONLY = 3 };

// Writes `size` bytes of `data` as the file `path`. A file there that is marked read-only is not
// replaced, on any system and for any user (OUTFILE_READ_ONLY, before anything is created).
// Returns 0 on success, or one of the failures above: then `path` is as it was (no temporary file
// is left) and a reason such as "No space left on device" or "the file is read-only" has been
// copied to `reason` (at most `reason_size` bytes, always terminated).
int write_whole_file(const char* path, const unsigned char* data, size_t size, char* reason,
                     int reason_size);
