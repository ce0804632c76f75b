// The 25-series commands, each built into frames of the link.
#include "commands.h"

#include "link.h"
#include "../port/system.h"

#include <string.h>

enum {
    WRITE_STATUS = 0x01,
    READ_STATUS = 0x05,
    WRITE_ENABLE = 0x06,
    WRITE_DISABLE = 0x04,
    BULK_ERASE = 0xC7,
    PAGE_PROGRAM = 0x02,
    FAST_READ = 0x0B,
    READ_ID = 0x9F,
    ENABLE_WRITE_STATUS = 0x50,
    GLOBAL_UNLOCK = 0x98,
    READ_PROTECTION = 0x72,
    WORD_PROGRAM = 0xAD,
    READ_STATUS2 = 0x35,
    RELEASE = 0xAB,
    READ_MAKER_DEVICE = 0x90,
    READ_SFDP = 0x5A,
    BUSY_LINE_ON = 0x70,
    BUSY_LINE_OFF = 0x80,
    WRITE_PROTECTION = 0x42,
    PROTECT_SECTOR = 0x36,
    READ_SECTOR_PROTECTION = 0x3C
};

// The pause between a write enable and the command it enables. The fast link leaves it out: the
// latch is set when the write enable's frame ends.
static const unsigned long ENABLE_PAUSE_MS = 100;

// The longest page program: a page.
enum { PROGRAM_MAX = 256 };

static void command(FlashSession* s, unsigned char code) {
    frame(s, &code, 1, NULL, 0);
}

static void write_enable(FlashSession* s) {
    command(s, WRITE_ENABLE);
    if (s->link == LINK_PLAIN && !s->stopped)
        _sleep(ENABLE_PAUSE_MS);
}

static void put_address(unsigned char* out, int address) {
    out[0] = (unsigned char)((address >> 16) & 0xFF);
    out[1] = (unsigned char)((address >> 8) & 0xFF);
    out[2] = (unsigned char)(address & 0xFF);
}

// One frame: the command byte out, then `len` bytes in.
static void query(FlashSession* s, unsigned char code, unsigned char* answer, int len) {
    frame(s, &code, 1, answer, len);
}

int mc_read_status(FlashSession* s) {
    unsigned char status = 0;
    query(s, READ_STATUS, &status, 1);
    return status;
}

void mc_read_statuses(FlashSession* s, unsigned char* statuses, int n) {
    query(s, READ_STATUS, statuses, n);
}

void mc_erase_bulk(FlashSession* s) {
    write_enable(s);
    command(s, BULK_ERASE);
}

void mc_program(FlashSession* s, int address, const unsigned char* data, int len) {
    write_enable(s);
    // The header and the data in one frame, with no gap in chip select between them. A page
    // program wraps within its page, so a longer `len` could only overwrite its own start.
    unsigned char block[4 + PROGRAM_MAX] = {PAGE_PROGRAM};
    put_address(block + 1, address);
    if (len > PROGRAM_MAX)
        len = PROGRAM_MAX;
    if (len > 0)
        memcpy(block + 4, data, (size_t)len);
    frame(s, block, 4 + (len > 0 ? len : 0), NULL, 0);
}

void mc_erase_at(FlashSession* s, unsigned char code, int address) {
    write_enable(s);
    unsigned char block[4] = {code};
    put_address(block + 1, address);
    frame(s, block, 4, NULL, 0);
}

void mc_words_start(FlashSession* s, int address, const unsigned char* word) {
    write_enable(s);
    s->stop_first = WRITE_DISABLE; // a stop from now on ends the sequence first
    unsigned char block[6] = {WORD_PROGRAM, 0, 0, 0, word[0], word[1]};
    put_address(block + 1, address & ~1);
    frame(s, block, 6, NULL, 0);
}

void mc_words_next(FlashSession* s, const unsigned char* word) {
    unsigned char block[3] = {WORD_PROGRAM, word[0], word[1]};
    frame(s, block, 3, NULL, 0);
}

void mc_read(FlashSession* s, int address, unsigned char* buf, int len) {
    unsigned char header[5] = {FAST_READ, 0, 0, 0, 0x00}; // the last byte is the dummy
    put_address(header + 1, address);
    frame(s, header, 5, buf, len);
}

void mc_write_status(FlashSession* s, int value) {
    write_enable(s);
    unsigned char block[2] = {WRITE_STATUS, (unsigned char)(value & 0xFF)};
    frame(s, block, 2, NULL, 0);
}

void mc_write_status_ewsr(FlashSession* s, int value) {
    command(s, ENABLE_WRITE_STATUS);
    unsigned char block[2] = {WRITE_STATUS, (unsigned char)(value & 0xFF)};
    frame(s, block, 2, NULL, 0);
}

void mc_global_unlock(FlashSession* s) {
    write_enable(s);
    command(s, GLOBAL_UNLOCK);
}

void mc_read_protection(FlashSession* s, unsigned char* bits, int len) {
    query(s, READ_PROTECTION, bits, len);
}

void mc_write_protection(FlashSession* s, const unsigned char* bits, int len) {
    write_enable(s);
    unsigned char block[1 + 32] = {WRITE_PROTECTION};
    if (len > 32)
        len = 32;
    if (len > 0)
        memcpy(block + 1, bits, (size_t)len);
    frame(s, block, 1 + (len > 0 ? len : 0), NULL, 0);
}

int mc_sector_protected(FlashSession* s, int address) {
    unsigned char block[4] = {READ_SECTOR_PROTECTION};
    put_address(block + 1, address);
    unsigned char answer = 0;
    frame(s, block, 4, &answer, 1);
    return answer != 0x00;
}

void mc_protect_sector(FlashSession* s, int address) {
    write_enable(s);
    unsigned char block[4] = {PROTECT_SECTOR};
    put_address(block + 1, address);
    frame(s, block, 4, NULL, 0);
}

int mc_read_status2(FlashSession* s) {
    unsigned char status = 0;
    query(s, READ_STATUS2, &status, 1);
    return status;
}

void mc_write_statuses(FlashSession* s, int enable, int value, int value2) {
    if (enable == ENABLE_WRITE_STATUS)
        command(s, ENABLE_WRITE_STATUS);
    else
        write_enable(s);
    unsigned char block[3] = {WRITE_STATUS, (unsigned char)(value & 0xFF),
                              (unsigned char)(value2 & 0xFF)};
    frame(s, block, value2 >= 0 ? 3 : 2, NULL, 0);
}

void mc_release(FlashSession* s) {
    command(s, RELEASE);
}

void mc_read_maker_device(FlashSession* s, unsigned char* two) {
    unsigned char block[4] = {READ_MAKER_DEVICE, 0, 0, 0};
    frame(s, block, 4, two, 2);
}

int mc_read_signature(FlashSession* s) {
    unsigned char block[4] = {RELEASE, 0, 0, 0}, signature = 0;
    frame(s, block, 4, &signature, 1);
    return signature;
}

void mc_read_sfdp(FlashSession* s, int address, unsigned char* buf, int len) {
    unsigned char header[5] = {READ_SFDP, 0, 0, 0, 0x00}; // the last byte is the dummy
    put_address(header + 1, address);
    frame(s, header, 5, buf, len);
}

void mc_busy_line(FlashSession* s, int on) {
    command(s, on ? BUSY_LINE_ON : BUSY_LINE_OFF);
}

void mc_write_disable(FlashSession* s) {
    command(s, WRITE_DISABLE);
    if (!s->stopped || s->closing)
        s->stop_first = 0; // sent: the word sequence is over
}

void mc_read_id(FlashSession* s, unsigned char* id) {
    query(s, READ_ID, id, 3);
}

int mc_read_id_twice(FlashSession* s, unsigned char* id, unsigned char* again) {
    mc_read_id(s, id);
    mc_read_id(s, again);
    return memcmp(id, again, 3) == 0;
}

int mc_id_size(const unsigned char* id) {
    // 25-series chips give the base-2 logarithm of their size: 0x0C is 4 KiB, 0x18 16 MiB.
    if (id[2] < 12 || id[2] > 24)
        return 0;
    return 1 << id[2];
}
