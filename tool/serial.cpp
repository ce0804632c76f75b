// Serial numbers: their formats, their bytes and the counter file they come from.
#include "serial.h"

#include "../port/logfile.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The numbers a format holds: one past its largest.
static unsigned long long format_end(const Serial* serial) {
    if (serial->format == SERIAL_DEC) {
        unsigned long long end = 1;
        for (int i = 0; i < serial->digits; i++)
            end *= 10;
        return end;
    }
    return serial->format == SERIAL_MAC ? 1ull << 48 : 1ull << 32;
}

// A value as the format reads it: decimal digits (or 0x hex for the 32-bit formats), or a MAC
// address of six hex pairs with colons. Returns 0 when `text` is not that.
static int parse_value(const Serial* serial, const char* text, unsigned long long* value) {
    if (serial->format == SERIAL_MAC) {
        unsigned int b[6];
        char end = 0;
        if (strlen(text) != 17 || sscanf(text, "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2],
                                         &b[3], &b[4], &b[5], &end) != 6)
            return 0;
        for (int i = 0; i < 6; i++) {
            if (!isxdigit((unsigned char)text[3 * i]) || !isxdigit((unsigned char)text[3 * i + 1]))
                return 0;
        }
        *value = 0;
        for (int i = 0; i < 6; i++)
            *value = *value << 8 | b[i];
        return 1;
    }
    const int hex = serial->format != SERIAL_DEC && text[0] == '0' && (text[1] | 0x20) == 'x';
    const char* digits = hex ? text + 2 : text;
    if (*digits == '\0' || strlen(digits) > 20)
        return 0;
    for (const char* c = digits; *c != '\0'; c++) {
        if (hex ? !isxdigit((unsigned char)*c) : !isdigit((unsigned char)*c))
            return 0;
    }
    *value = strtoull(digits, NULL, hex ? 16 : 10);
    return *value < format_end(serial);
}

int parse_serial(const char* text, Serial* serial, char* why, int why_size) {
    memset(serial, 0, sizeof *serial);
    char* end = NULL;
    const int hex = text[0] == '0' && (text[1] | 0x20) == 'x';
    const unsigned long offset = strtoul(hex ? text + 2 : text, &end, hex ? 16 : 10);
    if (end == (hex ? text + 2 : text) || *end != ':' || offset > 0x7FFFFFFFul) {
        snprintf(why, (size_t)why_size, "--serial takes OFFSET:FORMAT, not %s", text);
        return 0;
    }
    serial->offset = (int)offset;
    const char* format = end + 1;
    const char* equals = strchr(format, '=');
    const size_t name = equals != NULL ? (size_t)(equals - format) : strlen(format);
    if (name == 4 && strncmp(format, "le32", 4) == 0) {
        serial->format = SERIAL_LE32;
        serial->length = 4;
    } else if (name == 4 && strncmp(format, "be32", 4) == 0) {
        serial->format = SERIAL_BE32;
        serial->length = 4;
    } else if (name == 3 && strncmp(format, "mac", 3) == 0) {
        serial->format = SERIAL_MAC;
        serial->length = 6;
    } else if (name > 4 && strncmp(format, "dec:", 4) == 0) {
        int digits = 0;
        for (const char* c = format + 4; c < format + name; c++)
            digits = isdigit((unsigned char)*c) && digits < 100 ? digits * 10 + (*c - '0') : 100;
        if (digits < 1 || digits > SERIAL_MAX_DIGITS) {
            snprintf(why, (size_t)why_size, "--serial dec:N takes 1 to %d digits, not %.*s",
                     SERIAL_MAX_DIGITS, (int)name - 4, format + 4);
            return 0;
        }
        serial->format = SERIAL_DEC;
        serial->digits = digits;
        serial->length = digits;
    } else {
        snprintf(why, (size_t)why_size, "--serial formats are dec:N, le32, be32 and mac, not %.*s",
                 (int)name, format);
        return 0;
    }
    if (equals != NULL) {
        serial->given = 1;
        if (!parse_value(serial, equals + 1, &serial->value)) {
            snprintf(why, (size_t)why_size, "%s is not a %.*s number", equals + 1, (int)name,
                     format);
            return 0;
        }
    }
    return 1;
}

void serial_bytes(const Serial* serial, unsigned long long value, unsigned char* bytes) {
    switch (serial->format) {
    case SERIAL_DEC:
        for (int i = serial->digits - 1; i >= 0; i--, value /= 10)
            bytes[i] = (unsigned char)('0' + value % 10);
        return;
    case SERIAL_LE32:
        for (int i = 0; i < 4; i++)
            bytes[i] = (unsigned char)(value >> (8 * i));
        return;
    case SERIAL_BE32:
        for (int i = 0; i < 4; i++)
            bytes[i] = (unsigned char)(value >> (8 * (3 - i)));
        return;
    default:
        for (int i = 0; i < 6; i++)
            bytes[i] = (unsigned char)(value >> (8 * (5 - i)));
        return;
    }
}

void serial_text(const Serial* serial, unsigned long long value, char* text) {
    if (serial->format == SERIAL_DEC) {
        snprintf(text, SERIAL_TEXT, "%0*llu", serial->digits, value);
    } else if (serial->format == SERIAL_MAC) {
        unsigned char b[6];
        serial_bytes(serial, value, b);
        snprintf(text, SERIAL_TEXT, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                 b[5]);
    } else {
        snprintf(text, SERIAL_TEXT, "%llu", value);
    }
}

int take_serial(const char* path, const Serial* serial, unsigned long long* value) {
    char reason[256], text[128], line[128], next[SERIAL_TEXT + 4];
    LockedFile file;
    if (open_locked(path, &file, reason, (int)sizeof reason) != 0) {
        printf("!!! the counter file %s cannot be used (%s) \n", path, reason);
        return 1;
    }
    int failed = read_locked(&file, text, (int)sizeof text, reason, (int)sizeof reason);
    if (failed) {
        printf("!!! the counter file %s cannot be read (%s) \n", path, reason);
    } else {
        // The first line, without its end and the spaces a person may have left around it.
        size_t start = strspn(text, " \t");
        size_t length = strcspn(text + start, "\r\n");
        while (length > 0 && (text[start + length - 1] == ' ' || text[start + length - 1] == '\t'))
            length--;
        snprintf(line, sizeof line, "%.*s", (int)length, text + start);
        if (!parse_value(serial, line, value)) {
            printf("!!! the counter file %s holds \"%s\", not the next %s number: write it there "
                   "as one line \n",
                   path, line,
                   serial->format == SERIAL_MAC   ? "MAC address (00:1a:2b:00:00:01)"
                   : serial->format == SERIAL_DEC ? "serial"
                                                  : "32-bit");
            failed = 1;
        } else if (serial->format == SERIAL_MAC && (*value & 0xFFFFFF) == 0xFFFFFF) {
            printf("!!! the counter file %s holds %s, the last address of its 24-bit block: no "
                   "MAC address is left after it \n",
                   path, line);
            failed = 1;
        } else if (*value + 1 >= format_end(serial)) {
            printf("!!! the counter file %s holds %s, the last number the format holds \n", path,
                   line);
            failed = 1;
        } else {
            serial_text(serial, *value + 1, next);
            strcat(next, "\r\n");
            failed = rewrite_locked(&file, next, reason, (int)sizeof reason);
            if (failed)
                printf("!!! the counter file %s cannot be written (%s) \n", path, reason);
        }
    }
    close_locked(&file);
    return failed;
}
