// Serial numbers written into each board's image: where and how (--serial OFFSET:FORMAT), the
// value given (=VALUE) or taken from a counter file several stations share (--serials FILE).
#pragma once

enum {
    SERIAL_DEC = 1, // dec:N: decimal text, N digits, zero-padded
    SERIAL_LE32,    // a 32-bit number, least significant byte first
    SERIAL_BE32,    // a 32-bit number, most significant byte first
    SERIAL_MAC      // six bytes, a MAC address; the low 24 bits count
};

enum { SERIAL_MAX_DIGITS = 18, SERIAL_TEXT = 32 };

struct Serial {
    int offset; // where in the image
    int format; // SERIAL_*
    int digits; // dec:N
    int length; // bytes written
    int given;  // =VALUE came with it
    unsigned long long value;
};

// Reads OFFSET:FORMAT[=VALUE]; 0 with the reason in `why` when it is not that, or the value does
// not fit the format.
int parse_serial(const char* text, Serial* serial, char* why, int why_size);

// `value` as the format writes it into `bytes` (serial->length of them), and as a person reads it
// ("00001234", "0x0000abcd", "00:1a:2b:00:00:01") into `text` (SERIAL_TEXT bytes).
void serial_bytes(const Serial* serial, unsigned long long value, unsigned char* bytes);
void serial_text(const Serial* serial, unsigned long long value, char* text);

// Takes the next number from the counter file at `path` under a lock on the whole file: its first
// line, as serial_text writes it (a person may edit it); writes back the number after it before
// the lock goes, so side-by-side stations never take one number twice. Returns 0 with the number
// in `*value`; otherwise 1, having said why in one line (a file that cannot be read or written,
// a line that is not a number of the format, no number left in the format).
int take_serial(const char* path, const Serial* serial, unsigned long long* value);
