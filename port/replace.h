// Creating a file that did not exist, forcing it to disk, and putting a finished file in place of
// another in one step.
#pragma once

#include <stdio.h>

// Creates `path` for writing in binary mode, failing (NULL, errno EEXIST) if anything already has
// that name, a dangling symbolic link included. Otherwise NULL with errno set.
FILE* create_new_file(const char* path);

// Writes out the stream's buffer and forces the file's bytes to the disk. Returns 0 on success,
// otherwise -1 with errno set.
int commit_file(FILE* file);

// The file that writing to `path` reaches: symbolic links followed where the system can name
// their end, so that a replacement lands on the linked file and leaves the link a link. `path`
// itself when it names nothing yet, or when the system cannot say. Copied to `out` (at most
// `out_size` bytes, always terminated).
void final_path(const char* path, char* out, int out_size);

// 1 when the file `path` finally names (links followed as final_path follows them) is marked
// read-only: its owner's write permission clear, or on Windows its read-only attribute set. Judged
// by the file's own mark, not by who asks, so the superuser is told the same. 0 for a file that
// may be written, a folder, or a name that reaches nothing.
int read_only_file(const char* path);

// 1 when `path` reaches something that is neither a file nor a folder: a device, a pipe, a socket.
int not_a_file(const char* path);

// Moves the file `from` over `to`, replacing `to` if it exists, so that `to` names either its old
// contents or all of the new ones and never anything in between. Both must be in one folder.
// Returns 0 on success; otherwise `to` is unchanged and a short reason has been copied to
// `reason` (at most `reason_size` bytes, always terminated).
int replace_file(const char* from, const char* to, char* reason, int reason_size);

// Whether anything at all has the name `path`: a file, a folder, a device, a dangling symbolic
// link.
int name_taken(const char* path);

enum { PLACE_NAME_TAKEN = 2 };

// Gives the file `from` the name `to` in one step, only if nothing has that name: an existing
// `to` is never replaced (PLACE_NAME_TAKEN). Both must be in one folder. Returns 0 on success;
// otherwise 1 or PLACE_NAME_TAKEN, `from` is left where it was and a short reason has been copied
// to `reason` (at most `reason_size` bytes, always terminated).
int place_file(const char* from, const char* to, char* reason, int reason_size);
