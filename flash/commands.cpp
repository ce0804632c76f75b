#include "commands.h"

#include "link.h"
#include "../port/system.h"

enum {
    READ_STATUS = 0x05,
    WRITE_ENABLE = 0x06,
    BULK_ERASE = 0xC7,
    PAGE_PROGRAM = 0x02,
    FAST_READ = 0x0B,
    READ_ID = 0x9F
};

// The pause between a write enable and the command it enables.
static const unsigned long ENABLE_PAUSE_MS = 100;

static void command(unsigned char code) {
    begin();
    swrite(&code, 1);
    end();
}

static void put_address(unsigned char* out, int address) {
    out[0] = (unsigned char)((address >> 16) & 0xFF);
    out[1] = (unsigned char)((address >> 8) & 0xFF);
    out[2] = (unsigned char)(address & 0xFF);
}

// One frame: the command byte out, then `len` bytes in.
static void query(unsigned char code, unsigned char* answer, int len) {
    begin();
    swrite(&code, 1);
    sread(answer, len);
    end();
}

int mc_read_status() {
    unsigned char status = 0;
    query(READ_STATUS, &status, 1);
    return status;
}

void mc_erase_bulk() {
    command(WRITE_ENABLE);
    _sleep(ENABLE_PAUSE_MS);
    command(BULK_ERASE);
}

void mc_program(int address, const unsigned char* data, int len) {
    command(WRITE_ENABLE);
    _sleep(ENABLE_PAUSE_MS);
    unsigned char header[4] = {PAGE_PROGRAM};
    put_address(header + 1, address);
    begin();
    swrite(header, 4);
    swrite(data, len);
    end();
}

void mc_read(int address, unsigned char* buf, int len) {
    unsigned char header[5] = {FAST_READ, 0, 0, 0, 0x00}; // the last byte is the dummy
    put_address(header + 1, address);
    begin();
    swrite(header, 5);
    sread(buf, len);
    end();
}

void mc_read_id(unsigned char* id) {
    query(READ_ID, id, 3);
}
