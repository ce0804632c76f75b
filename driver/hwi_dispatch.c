#include "hwi_dispatch.h"

/* Whether a caller may read (write == 0) or write a port: only the registers of the three legacy
 * parallel-port bases. Everything else on the bus (interrupt and DMA controllers, timer, keyboard
 * controller, CMOS, reset control, disk controllers, ...) stays out of reach. */
static int port_allowed(unsigned short port, int write) {
    static const unsigned short bases[] = {0x378, 0x278, 0x3BC};
    unsigned i;
    for (i = 0; i < sizeof bases / sizeof bases[0]; i++) {
        if (port >= bases[i] + 0x400u && port <= bases[i] + 0x402u)
            return 1; /* ECP block: FIFO, configuration B, ECR */
        if (port == bases[i] || port == bases[i] + 2u)
            return 1; /* data, control */
        if (port == bases[i] + 1u)
            return !write; /* status: read-only */
    }
    return 0;
}

/* Request fields are little-endian: a port address in 16 bits, a chip offset or size in 32. */
static unsigned short le16(const unsigned char* in) {
    return (unsigned short)(in[0] | (in[1] << 8));
}

static unsigned long le32(const unsigned char* in) {
    return (unsigned long)in[0] | ((unsigned long)in[1] << 8) | ((unsigned long)in[2] << 16) |
           ((unsigned long)in[3] << 24);
}

static hwi_status read_port(const struct hwi_ops* ops, const unsigned char* in,
                            unsigned long in_len, unsigned char* out, unsigned long out_len,
                            unsigned long* information) {
    unsigned short port;
    if (in == 0 || out == 0 || in_len < HWI_READ_PORT_IN || out_len < HWI_READ_PORT_OUT)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    port = le16(in);
    if (!port_allowed(port, 0))
        return HWI_STATUS_ACCESS_DENIED;
    out[0] = ops->inb(port);
    *information = HWI_READ_PORT_OUT;
    return HWI_STATUS_SUCCESS;
}

static hwi_status write_port(const struct hwi_ops* ops, const unsigned char* in,
                             unsigned long in_len) {
    unsigned short port;
    if (in == 0 || in_len < HWI_WRITE_PORT_IN)
        return HWI_STATUS_BUFFER_TOO_SMALL;
    port = le16(in);
    if (!port_allowed(port, 1))
        return HWI_STATUS_ACCESS_DENIED;
    ops->outb(port, in[2]);
    return HWI_STATUS_SUCCESS;
}

static hwi_status read_chip(const struct hwi_ops* ops, const unsigned char* in,
                            unsigned long in_len, unsigned char* out, unsigned long out_len,
                            unsigned long* information) {
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

static hwi_status write_chip(const struct hwi_ops* ops, const unsigned char* in,
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

static hwi_status set_chip_size(const struct hwi_ops* ops, const unsigned char* in,
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

hwi_status hwi_dispatch(const struct hwi_ops* ops, unsigned long code, const void* in,
                        unsigned long in_len, void* out, unsigned long out_len,
                        unsigned long* information) {
    const unsigned char* src = (const unsigned char*)in;
    unsigned char* dst = (unsigned char*)out;
    *information = 0;
    switch (code) {
    case HWI_IOCTL_READ_PORT:
        return read_port(ops, src, in_len, dst, out_len, information);
    case HWI_IOCTL_WRITE_PORT:
        return write_port(ops, src, in_len);
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
    default:
        return HWI_STATUS_INVALID_DEVICE_REQUEST;
    }
}

hwi_status hwi_create(unsigned long name_bytes) {
    return name_bytes == 0 ? HWI_STATUS_SUCCESS : HWI_STATUS_OBJECT_NAME_NOT_FOUND;
}
