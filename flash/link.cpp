// The SPI link over the claimed port: lptspi's own bit by bit, or the fast link's frames.
#include "link.h"

#include "../driver/adapter.h"
#include "../port/interrupt.h"
#include "../port/registers.h"

int linkfast = 0;

static unsigned char on_stop = 0;

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
    Out32(data_port(), ADAPTER_SELECTED);
}

void end() {
    Out32(data_port(), ADAPTER_IDLE);
}

int push(unsigned int value, int count) {
    if (count <= 0)
        return 0;
    unsigned int bits = value << (32 - count); // left-align the bits to send
    unsigned int result = 0;
    for (int i = 0; i < count; i++) {
        int lines = (bits & 0x80000000u) ? ADAPTER_SELECTED | ADAPTER_MOSI : ADAPTER_SELECTED;
        Out32(data_port(), lines);
        // The flash put its next bit out after the last falling edge: sample before rising.
        unsigned int in = (Inp32(status_port()) & ADAPTER_MISO) ? 1 : 0;
        Out32(data_port(), lines | ADAPTER_SCK); // the flash samples data-out on the rising edge
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

// The port accesses of the fast link's frames that the driver does not take whole.
static unsigned char read_register(unsigned short port) {
    return (unsigned char)Inp32(port);
}

static void write_register(unsigned short port, unsigned char value) {
    Out32(port, value);
}

// A frame as frame() sends it, with no stop before it.
static void send_frame(const unsigned char* out, int n_out, unsigned char* in, int n_in) {
    if (!linkfast) {
        Out32(data_port(), ADAPTER_SELECTED);
        swrite(out, n_out);
        sread(in, n_in);
        end();
        return;
    }
    if (Frame32(out, n_out, in, n_in))
        return;
    adapter_frame(read_register, write_register, data_port(), out,
                  n_out > 0 ? (unsigned long)n_out : 0, in, n_in > 0 ? (unsigned long)n_in : 0);
}

void frame(const unsigned char* out, int n_out, unsigned char* in, int n_in) {
    stop_point();
    send_frame(out, n_out, in, n_in);
}
