/* Request handling of the hwinterface driver (hwi_dispatch.c, and hwi_describe.c for the system's
 * descriptions of ports), kept free of any kernel header so the same code runs inside the driver
 * and in the host's unit tests. The driver's glue hands every IRP_MJ_DEVICE_CONTROL request to
 * hwi_dispatch() and completes the IRP with what it returns. */
#ifndef HWI_DISPATCH_H
#define HWI_DISPATCH_H

#ifdef __cplusplus
extern "C" {
#endif

typedef long hwi_status; /* an NTSTATUS value */

#define HWI_STATUS_SUCCESS ((hwi_status)0x00000000L)
#define HWI_STATUS_INVALID_PARAMETER ((hwi_status)0xC000000DL)
#define HWI_STATUS_INVALID_DEVICE_REQUEST ((hwi_status)0xC0000010L)
#define HWI_STATUS_ACCESS_DENIED ((hwi_status)0xC0000022L)
#define HWI_STATUS_BUFFER_TOO_SMALL ((hwi_status)0xC0000023L)
#define HWI_STATUS_OBJECT_NAME_NOT_FOUND ((hwi_status)0xC0000034L)
#define HWI_STATUS_NO_SUCH_DEVICE ((hwi_status)0xC000000EL)

/* The device's type, in the range left to vendors; part of every request code. */
#define HWI_DEVICE_TYPE 0x9C40ul

/* CTL_CODE(HWI_DEVICE_TYPE, function, METHOD_BUFFERED, FILE_ANY_ACCESS) */
#define HWI_CTL_CODE(function) ((HWI_DEVICE_TYPE << 16) | ((unsigned long)(function) << 2))

/* The port requests reach only the registers of parallel ports: those of a legacy port at 0x378,
 * 0x278 or 0x3BC (base):
 *   read:  base+0 data, base+1 status, base+2 control, base+0x400..0x402 ECP block (ECR at +0x402)
 *   write: base+0, base+2, base+0x400..0x402 (the status register is read-only, and 0x279 is
 *          also the ISA plug-and-play address port)
 * and the same registers of each port the system described when the handle was opened (struct
 * hwi_port: a PCI or PCIe card's registers lie wherever the system put them), each only inside
 * the span the system gave.
 * Any other port gives HWI_STATUS_ACCESS_DENIED, after the buffer lengths were found sufficient.
 *
 * Input: port address low byte, high byte. Output: the byte read. Information = 1. */
#define HWI_IOCTL_READ_PORT HWI_CTL_CODE(0x801) /* 0x9C402004 */
/* Input: port address low byte, high byte, value. No output. Information = 0. */
#define HWI_IOCTL_WRITE_PORT HWI_CTL_CODE(0x802) /* 0x9C402008 */
/* Where LPTn is. Input: n, 1 to 9. Output: HWI_LOCATE_OUT bytes: the port's base (data register),
 * low byte first; its ECP block's address (the ECR is at +2), low byte first, 0 when it has none;
 * flags: HWI_PORT_HAS_ECP, HWI_PORT_FROM_SYSTEM. Information = HWI_LOCATE_OUT.
 * A port the system describes by that name is answered with HWI_PORT_FROM_SYSTEM; otherwise LPT1,
 * LPT2 and LPT3 get the legacy default (0x378, 0x278, 0x3BC, an ECP block possible 0x400 above:
 * probe its ECR) and LPT4 to LPT9 HWI_STATUS_NO_SUCH_DEVICE. Any other n gives
 * HWI_STATUS_INVALID_PARAMETER. */
#define HWI_IOCTL_LOCATE_PORT HWI_CTL_CODE(0x803) /* 0x9C40200C */
/* One whole SPI frame over the flash adapter on a parallel port (data register bit 0 always high,
 * bit 1 data to the flash, bit 2 chip select, low active, bit 3 clock; status register bit 6 data
 * from the flash), in SPI mode 0, most significant bit first. Input: the port's base (data
 * register), 2 bytes little-endian; the number of bytes to receive, 2 bytes little-endian, at
 * most HWI_FRAME_MAX; then the bytes to send, at most HWI_FRAME_MAX. Output: the bytes received.
 * Information = the number received. The port's data register must be writable and its status
 * register readable (see the port requests); otherwise HWI_STATUS_ACCESS_DENIED.
 * Port accesses: select (write 0x01); each bit sent: data with the clock low, then the clock
 * high; each bit received: the clock low with data low, a read of the status register, the clock
 * high; release (write 0x05). */
#define HWI_IOCTL_SPI_FRAME HWI_CTL_CODE(0x804) /* 0x9C402010 */
/* Simulated-chip build only, for tests: input a 4-byte little-endian offset into the chip;
 * output as many bytes of the chip from there as fit and exist. Information = bytes copied. */
#define HWI_IOCTL_READ_CHIP HWI_CTL_CODE(0x8F0) /* 0x9C4023C0 */
/* Simulated-chip build only, for tests: input a 4-byte little-endian offset followed by the bytes
 * to store in the chip from there (as a chip in the field holds old contents). No output.
 * Information = 0. The whole range must lie inside the chip. */
#define HWI_IOCTL_WRITE_CHIP HWI_CTL_CODE(0x8F1) /* 0x9C4023C4 */
/* Simulated-chip build only, for tests: input the chip's new size in bytes, 4-byte little-endian,
 * a power of two from HWI_CHIP_SIZE_MIN to HWI_CHIP_SIZE_MAX. The chip is replaced by an erased
 * one of that size (identification, address wrap and the chip requests follow it) and the port
 * is as after loading the driver. No output. Information = 0. */
#define HWI_IOCTL_SET_CHIP_SIZE HWI_CTL_CODE(0x8F2) /* 0x9C4023C8 */
/* Simulated-chip build only, for tests: input the port's base and its ECP block's address (0:
 * none), each 2 bytes little-endian. The simulated port moves there, as a PCI card's would, and the
 * system describes it as LPT1 from then on. No output. Information = 0. */
#define HWI_IOCTL_PLACE_PORT HWI_CTL_CODE(0x8F3) /* 0x9C4023CC */

#define HWI_READ_PORT_IN 2u
#define HWI_READ_PORT_OUT 1u
#define HWI_WRITE_PORT_IN 3u
#define HWI_READ_CHIP_IN 4u
#define HWI_WRITE_CHIP_IN 4u /* and at least one data byte */
#define HWI_SET_CHIP_SIZE_IN 4u
#define HWI_LOCATE_IN 1u
#define HWI_LOCATE_OUT 5u
#define HWI_PLACE_PORT_IN 4u
#define HWI_FRAME_HEADER 4u           /* port base, bytes to receive */
#define HWI_FRAME_MAX 4096u           /* bytes sent, and bytes received, in one frame */
#define HWI_PORT_HAS_ECP 0x01u        /* the port has an ECP block */
#define HWI_PORT_FROM_SYSTEM 0x02u    /* the system described the port; else the legacy default */
#define HWI_CHIP_SIZE_MIN 0x1000ul    /* 4 KiB, the smallest 25-series chips */
#define HWI_CHIP_SIZE_MAX 0x1000000ul /* 16 MiB, all that 24-bit addresses reach */

/* A parallel port the driver may serve. */
struct hwi_port {
    unsigned short base;     /* data register; status at base+1, control at base+2 */
    unsigned short span;     /* registers the system gave from base */
    unsigned short ecp;      /* ECP block: FIFO, configuration B, ECR at ecp+2; 0 when none */
    unsigned short ecp_span; /* registers the system gave from ecp */
    unsigned char lpt;       /* n of its name LPTn, 0 when it has none */
};

#define HWI_LEGACY_PORTS 3 /* 0x378, 0x278, 0x3BC: LPT1 to LPT3 unless the system says else */
#define HWI_MAX_PORTS 8    /* ports the system describes that one handle keeps */
#define HWI_PORTS (HWI_LEGACY_PORTS + HWI_MAX_PORTS)

/* The map's pages: one that stays empty (no port), the legacy ports' four (0x200, 0x300, 0x600,
 * 0x700), and for each described port at most two for its registers and two for its ECP block
 * (three registers each, which may straddle a page boundary). */
#define HWI_MAP_PAGES (1 + 4 + 4 * HWI_MAX_PORTS)

struct hwi_locks;

/* The ports one open handle may reach, in one list: the legacy ones first, then those the system
 * described when the handle was opened. Each port address leads, through `page_of` (its high
 * byte) and `map` (its low byte), to one byte: 0 when it is no register of these ports, else the
 * index of the port it belongs to with the access bits the port has there, so that one lookup
 * gives a request both its permission and its lock.
 *
 * Two levels, not a byte for each of the 65,536 addresses: the handle's state lives in the
 * kernel's paged pool for as long as the handle is open, any interactive user may open as many
 * handles as they like, and the pool is not charged to them. A flat map would be 64 KiB a
 * handle; this one is under 10 KiB, and its lookup is two loads instead of one, from the few
 * cache lines a run keeps touching. */
struct hwi_ports {
    unsigned count; /* ports in `port`, the legacy ones included */
    struct hwi_port port[HWI_PORTS];
    unsigned char from_system[HWI_PORTS]; /* 1: the system described it; 0: a legacy port */
    unsigned char lock[HWI_PORTS];        /* each port's lock (hwi_assign_locks) */
    struct hwi_locks* locks;              /* the table the locks came from, 0 before any */
    unsigned pages;                       /* pages of `map` in use; map[0] stays empty */
    unsigned char page_of[256];
    unsigned char map[HWI_MAP_PAGES][256];
};

/* Fills `ports` with the legacy ports and the first HWI_MAX_PORTS of the `count` descriptions in
 * `found` that can be a parallel port's (see hwi_usable_range); an ECP block that cannot be one
 * is dropped from its port. Each register is served only inside the span the system gave. Until
 * the handle is given locks (hwi_assign_locks), its ports are numbered by their place in the
 * list, which for the legacy ports, first in every list, are the locks they are given anyway. */
void hwi_learn_ports(struct hwi_ports* ports, const struct hwi_port* found, unsigned count);

/* Whether `span` registers from `base` may be served: at 0x100 or above (below lie the system
 * board's devices), within the I/O space, and clear of the PCI configuration registers
 * 0xCF8-0xCFF (and with them the reset control register at 0xCF9). */
int hwi_usable_range(unsigned long base, unsigned long span);

/* A register block as the system's parallel-port driver describes it: the bus address it
 * reports (a PHYSICAL_ADDRESS), the address it was mapped to for drivers (the port number
 * itself for I/O ports; a virtual address for registers in memory space) and its length. */
struct hwi_system_range {
    unsigned long long bus;
    unsigned long long mapped;
    unsigned long span;
};

/* Turns the system's description of a parallel port into `port`: 1 when its registers are a
 * usable I/O-port range (the bus address within 16 bits, the mapped address the same number,
 * hwi_usable_range), else 0. An ECP block that is not one is dropped from the port. `name` is
 * the port's name, `name_length` UTF-16 characters (see hwi_lpt_number). */
int hwi_describe_port(struct hwi_port* port, const struct hwi_system_range* registers,
                      const struct hwi_system_range* ecp, const unsigned short* name,
                      unsigned long name_length);

/* The driver's locks, one for each parallel port it serves: lock i serialises every request to
 * the port whose data register is base[i] (0: not yet given), whichever handle sends it. Locks
 * are given in the order the ports are first seen, and every handle's list starts with the
 * legacy ports, so these have locks 0 to 2; when all are given, further ports share the last one.
 * A request to a port takes its lock through `take` and gives it back through `give`, both
 * inside hwi_dispatch (null: the handles given these locks never send requests side by side). */
#define HWI_LOCKS 16u
#define HWI_NO_LOCK HWI_LOCKS /* a request that touches no port */
struct hwi_locks {
    unsigned short base[HWI_LOCKS];
    void (*take)(unsigned lock);
    void (*give)(unsigned lock);
};

/* Gives each port of `ports` its lock from `locks`, taking a new one for a port not seen before,
 * and has the handle's requests take them. Callers serialise the calls on one table. */
void hwi_assign_locks(struct hwi_locks* locks, struct hwi_ports* ports);

/* The lock a request on a handle holding `ports` takes: that of the parallel port whose
 * register it reaches, or HWI_NO_LOCK when it reaches none (the handle may not make it, or it is
 * not a port request). */
unsigned hwi_request_lock(const struct hwi_ports* ports, unsigned long code, const void* in,
                          unsigned long in_len);

/* The n of a port name "LPTn" (n from 1 to 9) given as `length` UTF-16 characters, else 0. */
unsigned char hwi_lpt_number(const unsigned short* name, unsigned long length);

/* Where the requests go: the processor's port instructions, or the simulated parallel port. */
struct hwi_ops {
    unsigned char (*inb)(unsigned short port);
    void (*outb)(unsigned short port, unsigned char value);
    /* Size of the chip in bytes, or 0 when this build has no chip to show (the real driver);
     * then the chip requests are unknown requests. */
    unsigned long chip_size;
    /* Copy len bytes out of or into the chip at offset; offset + len never exceeds chip_size.
     * Given whenever chip_size is not 0. */
    void (*read_chip)(unsigned long offset, unsigned char* out, unsigned long len);
    void (*write_chip)(unsigned long offset, const unsigned char* in, unsigned long len);
    /* Powers up an erased chip of `size` bytes (already checked) and sets chip_size to it; null
     * when the chip's size is fixed. */
    void (*set_chip_size)(unsigned long size);
    /* Moves the simulated port where `port` says (ecp 0: no ECP block), and describes it so from
     * then on (the handle that placed it reaches it at once, under the lock any handle opened
     * later takes for it: the placing request changes the handle's locks table, so the caller
     * serialises it with hwi_assign_locks); null but in a build with a chip. */
    void (*place_port)(const struct hwi_port* port);
};

/* Carries out one device-control request sent on a handle that may reach `ports`, a request to a
 * port under that port's lock (see hwi_locks). `in` and `out`
 * may be the same buffer (buffered I/O passes one system buffer both ways): every input byte is
 * read before any output byte is written. On success *information is the number of output bytes; on
 * failure it is 0 and neither the port nor `out` has been touched. */
hwi_status hwi_dispatch(const struct hwi_ops* ops, struct hwi_ports* ports, unsigned long code,
                        const void* in, unsigned long in_len, void* out, unsigned long out_len,
                        unsigned long* information);

/* Answers IRP_MJ_CREATE. `name_bytes` is the length in bytes of the file name the create request
 * carries after the device name (FileObject->FileName.Length): 0 for \\.\hwinterface itself.
 * The device has no namespace, so \\.\hwinterface\anything is refused with
 * HWI_STATUS_OBJECT_NAME_NOT_FOUND (Win32 ERROR_FILE_NOT_FOUND). */
hwi_status hwi_create(unsigned long name_bytes);

#ifdef __cplusplus
}
#endif

#endif
