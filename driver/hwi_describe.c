/* The system's descriptions of parallel ports, turned into ports the driver may serve: which
 * I/O-port ranges may be a parallel port's at all, and the port's name. */
#include "hwi_dispatch.h"

enum {
    LOWEST_PORT = 0x100, /* below lie the system board's devices, never a parallel port */
    PCI_CONFIG = 0xCF8,  /* PCI configuration address and data, reset control at 0xCF9 */
    PCI_CONFIG_END = 0xD00,
    PORT_SPACE = 0x10000
};

int hwi_usable_range(unsigned long base, unsigned long span) {
    return base >= LOWEST_PORT && base < PORT_SPACE && span != 0 && span <= PORT_SPACE - base &&
           (base + span <= PCI_CONFIG || base >= PCI_CONFIG_END);
}

unsigned char hwi_lpt_number(const unsigned short* name, unsigned long length) {
    if (name == 0 || length != 4 || name[0] != 'L' || name[1] != 'P' || name[2] != 'T' ||
        name[3] < '1' || name[3] > '9')
        return 0;
    return (unsigned char)(name[3] - '0');
}

/* An I/O-port range as the system reports it: `base` and `span` when it is one the driver may
 * serve. Registers the system mapped into memory space have a bus address beyond 16 bits or a
 * mapped address that is not the port number. */
static int io_range(const struct hwi_system_range* range, unsigned short* base,
                    unsigned short* span) {
    if (range->bus >= PORT_SPACE || range->mapped != range->bus ||
        !hwi_usable_range((unsigned long)range->bus, range->span))
        return 0;
    *base = (unsigned short)range->bus;
    *span = (unsigned short)range->span;
    return 1;
}

int hwi_describe_port(struct hwi_port* port, const struct hwi_system_range* registers,
                      const struct hwi_system_range* ecp, const unsigned short* name,
                      unsigned long name_length) {
    port->lpt = hwi_lpt_number(name, name_length);
    if (!io_range(ecp, &port->ecp, &port->ecp_span)) {
        port->ecp = 0;
        port->ecp_span = 0;
    }
    return io_range(registers, &port->base, &port->span);
}
