/* The real port: the processor's IN and OUT instructions. The glue's lock for each parallel port
 * serialises the requests to it; ports do not share any state here. */
#include <ntddk.h>
#include <intrin.h>

#include "hwi_backend.h"

static unsigned char direct_inb(unsigned short port) {
    return __inbyte(port);
}

static void direct_outb(unsigned short port, unsigned char value) {
    __outbyte(port, value);
}

struct hwi_ops hwi_backend = {direct_inb, direct_outb, 0, 0, 0, 0, 0};

void hwi_backend_start(void) {}

unsigned hwi_backend_ports(struct hwi_port* out, unsigned max) {
    (void)out;
    (void)max;
    return 0;
}

void hwi_backend_lock(void) {}

void hwi_backend_unlock(void) {}
