// Putting a finished file in place of another in one step.
#pragma once

// Moves the file `from` over `to`, replacing `to` if it exists, so that `to` names either its old
// contents or all of the new ones and never anything in between. Both must be in one folder.
// Returns 0 on success; otherwise `to` is unchanged and a short reason has been copied to
// `reason` (at most `reason_size` bytes, always terminated).
int replace_file(const char* from, const char* to, char* reason, int reason_size);
