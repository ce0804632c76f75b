#include "link.h"

#include "../port/interrupt.h"
#include "../port/registers.h"

int linkfast = 0;

static unsigned char on_stop = 0;

enum { HIGH_LINE = 0x01, MOSI = 0x02, DESELECT = 0x04, SCK = 0x08, MISO = 0x40 };

// The claimed port's data and status registers: 0x378 and 0x379 on the motherboard's LPT1.
static unsigned short data_port() {
    return baseport;
}

static unsigned short status_port() {
    return (unsigned short)(baseport + 1);
}

static void send_frame(const unsigned char* out, int n_out, unsigned char* in, int n_in);

void stop_sends(unsigned char command) {
    on_stop = command;
}

// Where the program may stop: never in the middle of a frame. The command Ctrl-C sends goes once
// the flash is no longer busy with the frame before (a word takes microseconds), as a busy flash
// takes nothing but read status.
static void stop_point() {
    if (on_stop != 0 && InterruptPending()) {
        unsigned char command = on_stop;
        on_stop = 0;
        const unsigned char read_status = 0x05;
        unsigned char status = 0x01;
        for (int tries = 0; tries < 1000 && (status & 0x01) != 0; tries++)
            send_frame(&read_status, 1, &status, 1);
        send_frame(&command, 1, NULL, 0);
    }
    CheckInterrupt();
}

void begin() {
    stop_point();
    Out32(data_port(), HIGH_LINE);
}

void end() {
    Out32(data_port(), HIGH_LINE | DESELECT);
}

int push(unsigned int value, int count) {
    if (count <= 0)
        return 0;
    unsigned int bits = value << (32 - count); // left-align the bits to send
    unsigned int result = 0;
    for (int i = 0; i < count; i++) {
        int lines = (bits & 0x80000000u) ? HIGH_LINE | MOSI : HIGH_LINE;
        Out32(data_port(), lines);
        // The flash put its next bit out after the last falling edge: sample before rising.
        unsigned int in = (Inp32(status_port()) & MISO) ? 1 : 0;
        Out32(data_port(), lines | SCK); // the flash samples data-out on the rising edge
        Out32(data_port(), lines);
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

// The fast link's bytes. Sending: data set with the clock low (the write that sets it is also
// the falling edge of the bit before), then the clock high, when the flash samples it; nothing is
// read. Receiving: the clock low, which makes the flash put its next bit out, the data-in line
// read, the clock high. A frame's release also brings the clock down.
static void send_fast(const unsigned char* data, int len) {
    for (int i = 0; i < len; i++) {
        for (int bit = 7; bit >= 0; bit--) {
            int lines = ((data[i] >> bit) & 1) ? HIGH_LINE | MOSI : HIGH_LINE;
            Out32(data_port(), lines);
            Out32(data_port(), lines | SCK);
        }
    }
}

static void receive_fast(unsigned char* buf, int len) {
    for (int i = 0; i < len; i++) {
        int received = 0;
        for (int bit = 7; bit >= 0; bit--) {
            Out32(data_port(), HIGH_LINE);
            received = received << 1 | ((Inp32(status_port()) & MISO) ? 1 : 0);
            Out32(data_port(), HIGH_LINE | SCK);
        }
        buf[i] = (unsigned char)received;
    }
}

// A frame as frame() sends it, with no stop before it.
static void send_frame(const unsigned char* out, int n_out, unsigned char* in, int n_in) {
    if (!linkfast) {
        Out32(data_port(), HIGH_LINE);
        swrite(out, n_out);
        sread(in, n_in);
        end();
        return;
    }
    if (Frame32(out, n_out, in, n_in))
        return;
    Out32(data_port(), HIGH_LINE);
    send_fast(out, n_out);
    receive_fast(in, n_in);
    end();
}

void frame(const unsigned char* out, int n_out, unsigned char* in, int n_in) {
    stop_point();
    send_frame(out, n_out, in, n_in);
}
