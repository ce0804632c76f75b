/* The flash adapter on a parallel port: its lines, and the SPI frame made of port accesses. Plain
 * C with no kernel header, shared by the driver's frame request and the tool's own link. */
#ifndef ADAPTER_H
#define ADAPTER_H

/* The data register (the port's base) drives the flash, the status register (base + 1) reads it. */
enum {
    ADAPTER_HIGH = 0x01,     /* data register bit 0 (pin 2): always high */
    ADAPTER_MOSI = 0x02,     /* bit 1 (pin 3): data to the flash */
    ADAPTER_DESELECT = 0x04, /* bit 2 (pin 4): chip select, low active */
    ADAPTER_SCK = 0x08,      /* bit 3 (pin 5): the clock */
    ADAPTER_MISO = 0x40,     /* status register bit 6 (pin 10): data from the flash */
    /* The flash selected, clock and data-out low: how every frame begins. */
    ADAPTER_SELECTED = ADAPTER_HIGH,
    /* The flash released, clock and data-out low: how every frame ends, the lines between frames
     * and whenever a program leaves the port. */
    ADAPTER_IDLE = ADAPTER_HIGH | ADAPTER_DESELECT
};

/* One whole frame in SPI mode 0, most significant bit first, on the port whose data register is
 * `base`, through `inb` and `outb`: select; for each bit of the `n_send` bytes of `send`, the data
 * with the clock low (which is also the falling edge of the bit before), then the clock high, when
 * the flash samples it; for each bit of the `n_receive` bytes stored in `receive`, the clock low
 * with data low, which makes the flash put its next bit out, a read of the status register, the
 * clock high; release, which also brings the clock down. Every received sent is read before the
 * first received received is stored, so `send` and `receive` may share one buffer. */
static inline void adapter_frame(unsigned char (*inb)(unsigned short port),
                                 void (*outb)(unsigned short port, unsigned char value),
                                 unsigned short base, const unsigned char* send,
                                 unsigned long n_send, unsigned char* receive,
                                 unsigned long n_receive) {
    const unsigned short status_register = (unsigned short)(base + 1u);
    unsigned long i;
    int bit;
    outb(base, ADAPTER_SELECTED);
    for (i = 0; i < n_send; i++) {
        for (bit = 7; bit >= 0; bit--) {
            unsigned char lines =
                (unsigned char)(ADAPTER_SELECTED | (((send[i] >> bit) & 1) ? ADAPTER_MOSI : 0));
            outb(base, lines);
            outb(base, (unsigned char)(lines | ADAPTER_SCK));
        }
    }
    for (i = 0; i < n_receive; i++) {
        unsigned char received = 0;
        for (bit = 7; bit >= 0; bit--) {
            outb(base, ADAPTER_SELECTED);
            received =
                (unsigned char)(received << 1 | ((inb(status_register) & ADAPTER_MISO) ? 1 : 0));
            outb(base, ADAPTER_SELECTED | ADAPTER_SCK);
        }
        receive[i] = received;
    }
    outb(base, ADAPTER_IDLE);
}

#endif
