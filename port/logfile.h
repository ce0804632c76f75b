// A log file several programs share: each record appended whole under a lock on the file, so
// none is mixed with another or lost; whether a log's name reaches another file; and the PC's
// name and local time that records carry.
#pragma once

// Opens `path` for writing (creating it when there is none), locks the whole file, writes
// `header` first when the file is empty (NULL: none), then `record`, each in one write, and
// unlocks and closes it. Returns 0 on success; otherwise 1 with a short reason in `reason` (at
// most `reason_size` bytes, always terminated).
int append_record(const char* path, const char* header, const char* record, char* reason,
                  int reason_size);

// A small text file taken under a lock on the whole file, as the log's records are (the counter
// of serial numbers several stations share): opened (created when there is none) and locked,
// read, written over in place, then unlocked and closed. Each returns 0 on success; otherwise 1
// with a short reason in `reason` (at most `reason_size` bytes, always terminated).
struct LockedFile {
    void* handle;
};
int open_locked(const char* path, LockedFile* file, char* reason, int reason_size);
// Up to `size` - 1 bytes from the file's start into `text`, terminated.
int read_locked(LockedFile* file, char* text, int size, char* reason, int reason_size);
// `text` written from the file's start in one write, the file then cut there. A write cut short
// leaves the first line whole or the old one: `text` is never shorter than what it replaces
// for a counter that only grows, and the end is cut only after the write.
int rewrite_locked(LockedFile* file, const char* text, char* reason, int reason_size);
void close_locked(LockedFile* file);

// Whether the names `one` and `other` reach one file, as the system tells files apart (the
// volume and the file's index on it), whatever the names: two spellings, a link. 1 when they do,
// else 0, also when either cannot be opened for reading. Where the system gives no index (0, as
// the 95/98/Me family may on FAT), the names are compared as given, in either case.
int same_file(const char* one, const char* other);

// The PC's name, as Windows gives it ("" when it cannot). `size` at least 16.
void computer_name(char* name, int size);

// The local time with its offset from UTC, as 2026-12-08T16:20:31+01:00.
void local_time_text(char* text, int size);
