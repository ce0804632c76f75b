/* The hwinterface driver's requests: each handle's ports and map, the locks, the answers. */
#include "hwi_dispatch.h"

#include "adapter.h"

/* Port reads and writes are most of the requests a run makes (one for each port access): kept
 * out of line, the long requests do not make every request save their registers. */
#if defined(__GNUC__)
#define OUT_OF_LINE __attribute__((noinline))
#else
#define OUT_OF_LINE
#endif

/* The legacy parallel-port bases, LPT1 to LPT3 as the PC's firmware usually names them. */
static const unsigned short legacy_bases[HWI_LEGACY_PORTS] = {0x378, 0x278, 0x3BC};

enum {
    PORT_REGISTERS = 3, /* data, status, control */
    ECP_REGISTERS = 3,  /* FIFO, configuration B, ECR */
    ECP_OFFSET = 0x400, /* a legacy port's ECP block */
    PAGE = 0x100,
    /* A byte of the map: the port's index in the handle's list, and what may be done there. */
    ENTRY_PORT = 0x0F,
    ENTRY_READ = 0x10,
    ENTRY_WRITE = 0x20
};

/* Every index of a handle's list fits in ENTRY_PORT, and every lock it is given is one. */
typedef char hwi_ports_fit_the_map[HWI_PORTS <= ENTRY_PORT + 1 && HWI_PORTS <= HWI_LOCKS ? 1 : -1];

/* The map's byte for a port address: the one lookup each port request makes. */
static unsigned char entry_of(const struct hwi_ports* ports, unsigned short port) {
    return ports->map[ports->page_of[port >> 8]][port & (PAGE - 1)];
}

/* A port request on the port an entry belongs to takes that port's lock, when the handle was
 * given locks that are taken. */
static void take_lock(const struct hwi_ports* ports, unsigned char entry) {
    if (ports->locks != 0 && ports->locks->take != 0)
        ports->locks->take(ports->lock[entry & ENTRY_PORT]);
}

static void give_lock(const struct hwi_ports* ports, unsigned char entry) {
    if (ports->locks != 0 && ports->locks->give != 0)
        ports->locks->give(ports->lock[entry & ENTRY_PORT]);
}

static void clear_page(unsigned char* page) {
    unsigned i;
    for (i = 0; i < PAGE; i++)
        page[i] = 0;
}

/* Opens register `port` of the handle's port `index` for `bits`. A register two ports share
 * (a described port over a legacy one) stays with the first, which has the same lock when both
 * have the same base, and gets the access of both. */
static void open_register(struct hwi_ports* ports, unsigned long port, unsigned index,
                          unsigned bits) {
    unsigned char* entry;
    unsigned high = (unsigned)(port >> 8);
    if (ports->page_of[high] == 0) {
        if (ports->pages == HWI_MAP_PAGES) /* never: HWI_MAP_PAGES holds every register */
            return;
        clear_page(ports->map[ports->pages]);
        ports->page_of[high] = (unsigned char)ports->pages++;
    }
    entry = &ports->map[ports->page_of[high]][port & (PAGE - 1)];
    if (*entry == 0)
        *entry = (unsigned char)index;
    *entry |= (unsigned char)bits;
}

/* Adds a port to the handle's list and opens its registers: data and control both ways, status
 * (base + 1) only for reading, each inside the span it has; and its ECP block, inside its span,
 * both ways. */
static void add_port(struct hwi_ports* ports, const struct hwi_port* p, unsigned char from_system) {
    const unsigned index = ports->count++;
    unsigned long i;
    ports->port[index] = *p;
    ports->from_system[index] = from_system;
    ports->lock[index] = (unsigned char)index;
    for (i = 0; i < p->span && i < PORT_REGISTERS; i++)
        open_register(ports, p->base + i, index, i == 1 ? ENTRY_READ : ENTRY_READ | ENTRY_WRITE);
    for (i = 0; p->ecp != 0 && i < p->ecp_span && i < ECP_REGISTERS; i++)
        open_register(ports, p->ecp + i, index, ENTRY_READ | ENTRY_WRITE);
}

/* Everything else on the bus (interrupt and DMA controllers, timer, keyboard controller, CMOS,
 * reset control, PCI configuration, disk controllers, ...) stays out of reach. */
void hwi_learn_ports(struct hwi_ports* ports, const struct hwi_port* found, unsigned count) {
    unsigned i;
    ports->count = 0;
    ports->locks = 0;
    ports->pages = 1;
    for (i = 0; i < sizeof ports->page_of; i++)
        ports->page_of[i] = 0;
    clear_page(ports->map[0]);
    for (i = 0; i < HWI_LEGACY_PORTS; i++) {
        struct hwi_port p;
        p.base = legacy_bases[i];
        p.span = PORT_REGISTERS;
        p.ecp = (unsigned short)(legacy_bases[i] + ECP_OFFSET);
        p.ecp_span = ECP_REGISTERS;
        p.lpt = (unsigned char)(i + 1);
        add_port(ports, &p, 0);
    }
    for (i = 0; found != 0 && i < count && ports->count < HWI_PORTS; i++) {
        struct hwi_port p = found[i];
        if (!hwi_usable_range(p.base, p.span))
            continue;
        if (p.ecp == 0 || !hwi_usable_range(p.ecp, p.ecp_span)) {
            p.ecp = 0;
            p.ecp_span = 0;
        }
        if (p.lpt > 9)
            p.lpt = 0;
        add_port(ports, &p, 1);
    }
}

/* The lock of the port at `base`, given now if it has none yet. */
static unsigned char lock_of(struct hwi_locks* locks, unsigned short base) {
    unsigned i;
    for (i = 0; i < HWI_LOCKS; i++) {
        if (locks->base[i] == base || locks->base[i] == 0) {
            locks->base[i] = base;
            return (unsigned char)i;
        }
    }
    return (unsigned char)(HWI_LOCKS - 1);
}

void hwi_assign_locks(struct hwi_locks* locks, struct hwi_ports* ports) {
    unsigned i;
    for (i = 0; i < ports->count; i++)
        ports->lock[i] = lock_of(locks, ports->port[i].base);
    ports->locks = locks;
}

/* Request fields are little-endian: a port address in 16 bits, a chip offset or size in 32. */
static unsigned short le16(const unsigned char* in) {
    return (unsigned short)(in[0] | (in[1] << 8));
}

static unsigned long le32(const unsigned char* in) {
    return (unsigned long)in[0] | ((unsigned long)in[1] << 8) | ((unsigned long)in[2] << 16) |
           ((unsigned long)in[3] << 24);
}

unsigned hwi_request_lock(const struct hwi_ports* ports, unsigned long code, const void* in,
                          unsigned long in_len) {
    unsigned char entry;
    unsigned need;
    if (code == HWI_IOCTL_READ_PORT)
        need = ENTRY_READ;
    else if (code == HWI_IOCTL_WRITE_PORT || code == HWI_IOCTL_SPI_FRAME)
        need = ENTRY_WRITE; /* a frame's lock is its data register's */
    else
        return HWI_NO_LOCK;
    if (in == 0 || in_len < 2)
        return HWI_NO_LOCK;
    entry = entry_of(ports, le16((const unsigned char*)in));
    return (entry & need) != 0 ? ports->lock[entry & ENTRY_PORT] : HWI_NO_LOCK;
}

static hwi_status read_port(const struct hwi_ops* ops, const struct hwi_ports* ports,
                            const unsigned char* in, unsigned long in_len, unsigned char* out,
                            unsigned long out_len, unsigned long* information) {
    unsigned short port;
    unsigned char entry;
    if (in == 0 || out == 0 || in_len < HWI_READ_PORT_IN || out_len < HWI_READ_PORT_OUT)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    port = le16(in);
    entry = entry_of(ports, port);
    if ((entry & ENTRY_READ) == 0)
        return HWI_STATUS_ACCESS_DENIED;
    take_lock(ports, entry);
    out[0] = ops->inb(port);
    give_lock(ports, entry);
    *information = HWI_READ_PORT_OUT;
    return HWI_STATUS_SUCCESS;
}

static hwi_status write_port(const struct hwi_ops* ops, const struct hwi_ports* ports,
                             const unsigned char* in, unsigned long in_len) {
    unsigned short port;
    unsigned char entry;
    if (in == 0 || in_len < HWI_WRITE_PORT_IN)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    port = le16(in);
    entry = entry_of(ports, port);
    if ((entry & ENTRY_WRITE) == 0)
        return HWI_STATUS_ACCESS_DENIED;
    take_lock(ports, entry);
    ops->outb(port, in[2]);
    give_lock(ports, entry);
    return HWI_STATUS_SUCCESS;
}

static OUT_OF_LINE hwi_status spi_frame(const struct hwi_ops* ops, const struct hwi_ports* ports,
                                        const unsigned char* in, unsigned long in_len,
                                        unsigned char* out, unsigned long out_len,
                                        unsigned long* information) {
    unsigned short base;
    unsigned char entry;
    unsigned long receive, send;
    if (in == 0 || in_len < HWI_FRAME_HEADER)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    base = le16(in);
    receive = le16(in + 2);
    send = in_len - HWI_FRAME_HEADER;
    if (receive > HWI_FRAME_MAX || send > HWI_FRAME_MAX)
        return HWI_STATUS_INVALID_PARAMETER;
    if (receive > 0 && (out == 0 || out_len < receive))
        return HWI_STATUS_BUFFER_TOO_SMALL;
    entry = entry_of(ports, base);
    if ((entry & ENTRY_WRITE) == 0 ||
        (entry_of(ports, (unsigned short)(base + 1u)) & ENTRY_READ) == 0)
        return HWI_STATUS_ACCESS_DENIED;
    take_lock(ports, entry);
    /* With buffered I/O `in` and `out` are one buffer: the frame reads every byte it sends
     * before it stores the first one it receives. */
    adapter_frame(ops->inb, ops->outb, base, in + HWI_FRAME_HEADER, send, out, receive);
    give_lock(ports, entry);
    *information = receive;
    return HWI_STATUS_SUCCESS;
}

static void put16(unsigned char* out, unsigned short value) {
    out[0] = (unsigned char)(value & 0xFF);
    out[1] = (unsigned char)(value >> 8);
}

/* LPTn is the port the system describes by that name, else the legacy port of that name. */
static OUT_OF_LINE hwi_status locate_port(const struct hwi_ports* ports, const unsigned char* in,
                                          unsigned long in_len, unsigned char* out,
                                          unsigned long out_len, unsigned long* information) {
    unsigned n, i, found = HWI_PORTS;
    if (in == 0 || out == 0 || in_len < HWI_LOCATE_IN || out_len < HWI_LOCATE_OUT)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    n = in[0];
    if (n < 1 || n > 9)
        return HWI_STATUS_INVALID_PARAMETER;
    for (i = 0; i < ports->count; i++) {
        if (ports->port[i].lpt == n &&
            (found == HWI_PORTS || (ports->from_system[i] && !ports->from_system[found])))
            found = i;
    }
    if (found == HWI_PORTS)
        return HWI_STATUS_NO_SUCH_DEVICE;
    put16(out, ports->port[found].base);
    put16(out + 2, ports->port[found].ecp);
    out[4] = (unsigned char)((ports->from_system[found] ? HWI_PORT_FROM_SYSTEM : 0) |
                             (ports->port[found].ecp != 0 ? HWI_PORT_HAS_ECP : 0));
    *information = HWI_LOCATE_OUT;
    return HWI_STATUS_SUCCESS;
}

/* The placing handle reaches the port at once, and keeps taking its locks from its table. */
static OUT_OF_LINE hwi_status place_port(const struct hwi_ops* ops, struct hwi_ports* ports,
                                         const unsigned char* in, unsigned long in_len) {
    struct hwi_port placed;
    struct hwi_locks* locks = ports->locks;
    if (in == 0 || in_len < HWI_PLACE_PORT_IN)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    placed.base = le16(in);
    placed.span = PORT_REGISTERS;
    placed.ecp = le16(in + 2);
    placed.ecp_span = placed.ecp != 0 ? ECP_REGISTERS : 0;
    placed.lpt = 1;
    if (!hwi_usable_range(placed.base, placed.span) ||
        (placed.ecp != 0 && !hwi_usable_range(placed.ecp, placed.ecp_span)))
        return HWI_STATUS_INVALID_PARAMETER;
    ops->place_port(&placed);
    hwi_learn_ports(ports, &placed, 1);
    if (locks != 0)
        hwi_assign_locks(locks, ports);
    return HWI_STATUS_SUCCESS;
}

static OUT_OF_LINE hwi_status read_chip(const struct hwi_ops* ops, const unsigned char* in,
                                        unsigned long in_len, unsigned char* out,
                                        unsigned long out_len, unsigned long* information) {
    unsigned long offset, len;
    if (in == 0 || in_len < HWI_READ_CHIP_IN)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    offset = le32(in);
    if (offset >= ops->chip_size)
        return HWI_STATUS_INVALID_PARAMETER;
    if (out == 0 || out_len == 0)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    len = ops->chip_size - offset;
    if (len > out_len)
        len = out_len;
    ops->read_chip(offset, out, len);
    *information = len;
    return HWI_STATUS_SUCCESS;
}

static OUT_OF_LINE hwi_status write_chip(const struct hwi_ops* ops, const unsigned char* in,
                                         unsigned long in_len) {
    unsigned long offset, len;
    if (in == 0 || in_len <= HWI_WRITE_CHIP_IN)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    offset = le32(in);
    len = in_len - HWI_WRITE_CHIP_IN;
    if (offset >= ops->chip_size || len > ops->chip_size - offset)
        return HWI_STATUS_INVALID_PARAMETER;
    ops->write_chip(offset, in + HWI_WRITE_CHIP_IN, len);
    return HWI_STATUS_SUCCESS;
}

static OUT_OF_LINE hwi_status set_chip_size(const struct hwi_ops* ops, const unsigned char* in,
                                            unsigned long in_len) {
    unsigned long size;
    if (in == 0 || in_len < HWI_SET_CHIP_SIZE_IN)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    size = le32(in);
    if (size < HWI_CHIP_SIZE_MIN || size > HWI_CHIP_SIZE_MAX || (size & (size - 1)) != 0)
        return HWI_STATUS_INVALID_PARAMETER;
    ops->set_chip_size(size);
    return HWI_STATUS_SUCCESS;
}

hwi_status hwi_dispatch(const struct hwi_ops* ops, struct hwi_ports* ports, unsigned long code,
                        const void* in, unsigned long in_len, void* out, unsigned long out_len,
                        unsigned long* information) {
    const unsigned char* src = (const unsigned char*)in;
    unsigned char* dst = (unsigned char*)out;
    *information = 0;
    if (code == HWI_IOCTL_WRITE_PORT)
        return write_port(ops, ports, src, in_len);
    if (code == HWI_IOCTL_READ_PORT)
        return read_port(ops, ports, src, in_len, dst, out_len, information);
    switch (code) {
    case HWI_IOCTL_LOCATE_PORT:
        return locate_port(ports, src, in_len, dst, out_len, information);
    case HWI_IOCTL_SPI_FRAME:
        return spi_frame(ops, ports, src, in_len, dst, out_len, information);
    }
    /* The chip requests, in a build that has a chip; elsewhere they are unknown requests. */
    if (ops->chip_size == 0)
        return HWI_STATUS_INVALID_DEVICE_REQUEST;
    switch (code) {
    case HWI_IOCTL_READ_CHIP:
        return read_chip(ops, src, in_len, dst, out_len, information);
    case HWI_IOCTL_WRITE_CHIP:
        return write_chip(ops, src, in_len);
    case HWI_IOCTL_SET_CHIP_SIZE:
        if (ops->set_chip_size == 0) /* a chip of fixed size */
            return HWI_STATUS_INVALID_DEVICE_REQUEST;
        return set_chip_size(ops, src, in_len);
    case HWI_IOCTL_PLACE_PORT:
        if (ops->place_port == 0)
            return HWI_STATUS_INVALID_DEVICE_REQUEST;
        return place_port(ops, ports, src, in_len);
    default:
        return HWI_STATUS_INVALID_DEVICE_REQUEST;
    }
}

hwi_status hwi_create(unsigned long name_bytes) {
    return name_bytes == 0 ? HWI_STATUS_SUCCESS : HWI_STATUS_OBJECT_NAME_NOT_FOUND;
}
