// Writing a whole file so that it is never left half-written and never destroys what was there:
// the bytes go to a new file beside the destination, which takes the destination's place only
// once every byte is written and the file is closed without error.
#pragma once

#include <stddef.h>
#include <stdio.h>

enum { OUTFILE_CANNOT_CREATE = 1, OUTFILE_CANNOT_WRITE = 2, OUTFILE_CANNOT_REPLACE = 3 };

// Writes `size` bytes of `data` as the file `path`. A file there that is marked read-only, or
// anything there that is not a file (a device, a pipe), is not replaced, on any system and for any
// user (OUTFILE_CANNOT_REPLACE, before anything is created).
// Returns 0 on success, or one of the failures above: then `path` is as it was (no temporary file
// is left) and a reason such as "No space left on device" or "the file is read-only" has been
// copied to `reason` (at most `reason_size` bytes, always terminated).
int write_whole_file(const char* path, const unsigned char* data, size_t size, char* reason,
                     int reason_size);

// A file that must not replace anything: its bytes go to a temporary file made beside it before
// the (possibly long) work that produces them, and it takes its name only if nothing has that
// name by then.
enum { OUTFILE_EXISTS = 4, NEW_FILE_NAME = 4096 };

struct NewFile {
    FILE* file; // the temporary file, open for writing; NULL once finished or abandoned
    char path[NEW_FILE_NAME];
    char temporary[NEW_FILE_NAME];
};

// Refuses a `path` that anything already has (OUTFILE_EXISTS), then creates the temporary file
// (OUTFILE_CANNOT_CREATE, the reason copied to `reason`). Returns 0 when `file` is ready.
int new_file_begin(NewFile* file, const char* path, char* reason, int reason_size);

// Writes `size` bytes of `data`, forces them to disk and gives the file its name, unless
// something took that name meanwhile (OUTFILE_EXISTS). On any failure the temporary file is
// removed and the reason copied to `reason`. Returns 0 on success.
int new_file_finish(NewFile* file, const unsigned char* data, size_t size, char* reason,
                    int reason_size);

// Removes the temporary file of a file that will not be written after all.
void new_file_abandon(NewFile* file);
