#include "link.h"

#include "../port/registers.h"

// The claimed port's data and status registers: 0x378 and 0x379 on the motherboard's LPT1.
#define DATA_PORT baseport
#define STATUS_PORT ((unsigned short)(baseport + 1))

enum { HIGH_LINE = 0x01, MOSI = 0x02, DESELECT = 0x04, SCK = 0x08, MISO = 0x40 };

void begin() {
    Out32(DATA_PORT, HIGH_LINE);
}

void end() {
    Out32(DATA_PORT, HIGH_LINE | DESELECT);
}

int push(unsigned int value, int count) {
    if (count <= 0)
        return 0;
    unsigned int bits = value << (32 - count); // left-align the bits to send
    unsigned int result = 0;
    for (int i = 0; i < count; i++) {
        int lines = (bits & 0x80000000u) ? HIGH_LINE | MOSI : HIGH_LINE;
        Out32(DATA_PORT, lines);
        // The flash put its next bit out after the last falling edge: sample before rising.
        unsigned int in = (Inp32(STATUS_PORT) & MISO) ? 1 : 0;
        Out32(DATA_PORT, lines | SCK); // the flash samples data-out on the rising edge
        Out32(DATA_PORT, lines);
        result = (result << 1) | in;
        bits <<= 1;
    }
    return (int)result;
}

void swrite(const unsigned char* data, int len) {
    for (int i = 0; i < len; i++)
        push(data[i], 8);
}

void sread(unsigned char* buf, int len) {
    for (int i = 0; i < len; i++)
        buf[i] = (unsigned char)(push(0, 8) & 0xFF);
}
