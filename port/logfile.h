// A log file several programs share: each record appended whole under a lock on the file, so
// none is mixed with another or lost; and the PC's name and local time that records carry.
#pragma once

// Opens `path` for writing (creating it when there is none), locks the whole file, writes
// `header` first when the file is empty (NULL: none), then `record`, each in one write, and
// unlocks and closes it. Returns 0 on success; otherwise 1 with a short reason in `reason` (at
// most `reason_size` bytes, always terminated).
int append_record(const char* path, const char* header, const char* record, char* reason,
                  int reason_size);

// The PC's name, as Windows gives it ("" when it cannot). `size` at least 16.
void computer_name(char* name, int size);

// The local time with its offset from UTC, as 2026-12-08T16:20:31+01:00.
void local_time_text(char* text, int size);
