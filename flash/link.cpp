// The SPI link over the session's port: lptspi's own bit by bit, or the fast link's frames.
#include "link.h"

#include "../driver/adapter.h"
#include "../port/registers.h"

#include <string.h>

void begin(FlashSession* s) {
    Out32(s->data, ADAPTER_SELECTED);
}

void end(FlashSession* s) {
    Out32(s->data, ADAPTER_IDLE);
}

int push(FlashSession* s, unsigned int value, int count) {
    if (count <= 0)
        return 0;
    unsigned int bits = value << (32 - count); // left-align the bits to send
    unsigned int result = 0;
    for (int i = 0; i < count; i++) {
        int lines = (bits & 0x80000000u) ? ADAPTER_SELECTED | ADAPTER_MOSI : ADAPTER_SELECTED;
        Out32(s->data, lines);
        // The flash put its next bit out after the last falling edge: sample before rising.
        unsigned int in = (Inp32(s->status) & ADAPTER_MISO) ? 1 : 0;
        Out32(s->data, lines | ADAPTER_SCK); // the flash samples data-out on the rising edge
        Out32(s->data, lines);
        result = (result << 1) | in;
        bits <<= 1;
    }
    return (int)result;
}

void swrite(FlashSession* s, const unsigned char* data, int len) {
    for (int i = 0; i < len; i++)
        push(s, data[i], 8);
}

void sread(FlashSession* s, unsigned char* buf, int len) {
    for (int i = 0; i < len; i++)
        buf[i] = (unsigned char)(push(s, 0, 8) & 0xFF);
}

// The port accesses of the fast link's frames that the driver does not take whole.
static unsigned char read_register(unsigned short port) {
    return (unsigned char)Inp32(port);
}

static void write_register(unsigned short port, unsigned char value) {
    Out32(port, value);
}

void frame(FlashSession* s, const unsigned char* out, int n_out, unsigned char* in, int n_in) {
    // Where the program may stop: never in the middle of a frame.
    if (session_note_stop(s) && !s->closing) {
        if (n_in > 0)
            memset(in, 0xFF, (size_t)n_in);
        return;
    }
    if (s->link == LINK_PLAIN) {
        begin(s);
        swrite(s, out, n_out);
        sread(s, in, n_in);
        end(s);
        return;
    }
    if (s->access == ACCESS_FRAMES) {
        if (Frame32(out, n_out, in, n_in))
            return;
        if (hframes == 0)
            s->access = ACCESS_DRIVER; // an older driver: frames are made access by access
    }
    adapter_frame(read_register, write_register, s->data, out, n_out > 0 ? (unsigned long)n_out : 0,
                  in, n_in > 0 ? (unsigned long)n_in : 0);
}
