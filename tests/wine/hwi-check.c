/* hwi-check: the Wine harness's hands inside the prefix. Registers, starts, stops and removes the
 * hwinterface service, checks the driver's requests on \\.\hwinterface, and moves the simulated
 * chip's contents in and out through the test-only requests of hwinterface-sim.sys.
 *
 *   hwi-check create BINARY-PATH [SERVICE]
 *                                  register the kernel-driver service (demand start)
 *   hwi-check start | stop | delete [SERVICE]
 *   hwi-check query [SERVICE]      print "absent", or the state, the type, the start type and
 *                                  the binary path
 *                                  (SERVICE: hwinterface unless named)
 *   hwi-check requests             exercise both port requests and their refusals
 *   hwi-check frames               whole SPI frames in one request, and their refusals
 *   hwi-check ports                ports outside the parallel port's registers are refused
 *   hwi-check read-id              JEDEC read identification through the port, bit by bit
 *   hwi-check load FILE            store FILE in the chip from address 0
 *   hwi-check dump FILE            write the whole chip to FILE
 *   hwi-check size BYTES           replace the chip by an erased one of that size
 *   hwi-check lpt1                 open LPT1 the way lptspi does
 *   hwi-check read PORT            print the byte the driver reads from PORT, in hex
 *   hwi-check write PORT VALUE     have the driver write VALUE to PORT
 *   hwi-check place BASE ECP       move the simulated port there, as LPT1 (ECP 0: no ECP block)
 *   hwi-check locate N             print where the driver says LPTn is: base, ECP block, flags
 *
 * Exit status 0 on success; otherwise 1 with the reason on standard error. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "hwi_dispatch.h"

#define CHUNK 65536

static const char* service_name = "hwinterface";
static int failures;

static int fail(const char* what) {
    fprintf(stderr, "hwi-check: %s (error %lu)\n", what, GetLastError());
    return 1;
}

static SC_HANDLE open_manager(void) {
    return OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
}

static int service_create(const char* binary) {
    SC_HANDLE manager = open_manager(), service;
    if (manager == NULL)
        return fail("cannot open the service manager");
    service = CreateServiceA(manager, service_name, service_name, SERVICE_ALL_ACCESS,
                             SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             binary, NULL, NULL, NULL, NULL, NULL);
    if (service == NULL)
        return fail("cannot create the service");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

static SC_HANDLE open_service(SC_HANDLE* manager) {
    *manager = open_manager();
    if (*manager == NULL)
        return NULL;
    return OpenServiceA(*manager, service_name, SERVICE_ALL_ACCESS);
}

static DWORD wait_state(SC_HANDLE service, DWORD wanted) {
    SERVICE_STATUS status;
    int i;
    for (i = 0; i < 200; i++) {
        if (!QueryServiceStatus(service, &status))
            return 0;
        if (status.dwCurrentState == wanted)
            return wanted;
        Sleep(50);
    }
    return status.dwCurrentState;
}

static int service_control(const char* verb) {
    SC_HANDLE manager, service = open_service(&manager);
    SERVICE_STATUS status;
    int rc = 0;
    if (service == NULL)
        return fail("cannot open the service");
    if (strcmp(verb, "start") == 0) {
        if (!StartServiceA(service, 0, NULL))
            rc = fail("cannot start the service");
        else if (wait_state(service, SERVICE_RUNNING) != SERVICE_RUNNING)
            rc = fail("the service did not reach the running state");
    } else if (strcmp(verb, "stop") == 0) {
        if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
            rc = fail("cannot stop the service");
        else if (wait_state(service, SERVICE_STOPPED) != SERVICE_STOPPED)
            rc = fail("the service did not stop");
    } else if (!DeleteService(service)) {
        rc = fail("cannot delete the service");
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return rc;
}

static int service_query(void) {
    SC_HANDLE manager, service = open_service(&manager);
    SERVICE_STATUS status;
    union {
        QUERY_SERVICE_CONFIGA config;
        char bytes[8192];
    } u;
    DWORD needed;
    if (service == NULL) {
        if (manager != NULL && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            printf("absent\n");
            return 0;
        }
        return fail("cannot open the service");
    }
    if (!QueryServiceStatus(service, &status))
        return fail("cannot query the service's status");
    if (!QueryServiceConfigA(service, &u.config, sizeof u, &needed))
        return fail("cannot query the service's configuration");
    printf("%s %lu %lu %s\n",
           status.dwCurrentState == SERVICE_RUNNING   ? "running"
           : status.dwCurrentState == SERVICE_STOPPED ? "stopped"
                                                      : "pending",
           u.config.dwServiceType, u.config.dwStartType, u.config.lpBinaryPathName);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

static HANDLE open_device(void) {
    return CreateFileA("\\\\.\\hwinterface", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

/* One request; returns the Win32 error (0 on success) and the bytes returned. */
static DWORD request(HANDLE device, DWORD code, const void* in, DWORD in_len, void* out,
                     DWORD out_len, DWORD* returned) {
    *returned = 0xFFFFFFFF;
    if (DeviceIoControl(device, code, (void*)in, in_len, out, out_len, returned, NULL))
        return 0;
    return GetLastError();
}

static void expect(const char* what, unsigned long got, unsigned long wanted) {
    if (got == wanted) {
        printf("ok   %s = %#lx\n", what, got);
        return;
    }
    printf("FAIL %s = %#lx, expected %#lx\n", what, got, wanted);
    failures++;
}

static unsigned char inb(HANDLE device, unsigned short port) {
    unsigned char in[2] = {(unsigned char)port, (unsigned char)(port >> 8)}, out = 0;
    DWORD returned, error = request(device, HWI_IOCTL_READ_PORT, in, 2, &out, 1, &returned);
    if (error != 0 || returned != 1) {
        printf("FAIL read port %#x: error %lu, %lu bytes returned\n", port, error, returned);
        failures++;
    }
    return out;
}

static void outb(HANDLE device, unsigned short port, unsigned char value) {
    unsigned char in[3] = {(unsigned char)port, (unsigned char)(port >> 8), value};
    DWORD returned, error = request(device, HWI_IOCTL_WRITE_PORT, in, 3, NULL, 0, &returned);
    if (error != 0 || returned != 0) {
        printf("FAIL write port %#x: error %lu, %lu bytes returned\n", port, error, returned);
        failures++;
    }
}

/* The simulated port right after the driver loaded. */
static int check_requests(HANDLE device) {
    unsigned char in[8] = {0x78, 0x03, 0x05, 0}, out[8];
    DWORD returned, error;

    error = request(device, HWI_IOCTL_WRITE_PORT, in, 3, NULL, 0, &returned);
    expect("write 0x378 <- 0x05: error", error, 0);
    expect("write 0x378 <- 0x05: bytes returned", returned, 0);
    memset(out, 0xEE, sizeof out);
    error = request(device, HWI_IOCTL_READ_PORT, in, 2, out, sizeof out, &returned);
    expect("read 0x378: error", error, 0);
    expect("read 0x378: bytes returned", returned, 1);
    expect("read 0x378: value", out[0], 0x05);
    expect("read 0x378: byte after the value", out[1], 0xEE);

    expect("read 0x379 (status, chip idle)", inb(device, 0x379), 0xFF);
    expect("read 0x77A (ECR at power-up)", inb(device, 0x77A), 0x15);
    outb(device, 0x77A, 0x34);
    expect("read 0x77A after writing 0x34", inb(device, 0x77A), 0x35);
    expect("read 0x37A (control)", inb(device, 0x37A), 0x00);

    error = request(device, HWI_IOCTL_READ_PORT, in, 1, out, 1, &returned);
    expect("read with 1 input byte: error", error, ERROR_INSUFFICIENT_BUFFER);
    error = request(device, HWI_IOCTL_READ_PORT, in, 2, out, 0, &returned);
    expect("read with no output: error", error, ERROR_INSUFFICIENT_BUFFER);
    in[2] = 0x0D;
    error = request(device, HWI_IOCTL_WRITE_PORT, in, 2, NULL, 0, &returned);
    expect("write with 2 input bytes: error", error, ERROR_INSUFFICIENT_BUFFER);
    expect("data register after the refused write", inb(device, 0x378), 0x05);
    error = request(device, 0x9C402014, in, 3, out, 1, &returned);
    expect("unknown code 0x9C402014: error", error, ERROR_INVALID_FUNCTION);
    error = request(device, 0x9C402005, in, 3, out, 1, &returned);
    expect("code 0x9C402005 (METHOD_IN_DIRECT): error", error, ERROR_INVALID_FUNCTION);
    memcpy(in, "\x00\x00\x10\x00", 4);
    error = request(device, HWI_IOCTL_READ_CHIP, in, 4, out, 8, &returned);
    expect("chip read at 1 MiB: error", error, ERROR_INVALID_PARAMETER);
    memcpy(in, "\xFC\xFF\x0F\x00", 4);
    error = request(device, HWI_IOCTL_READ_CHIP, in, 4, out, 8, &returned);
    expect("chip read of the last 4 bytes: error", error, 0);
    expect("chip read of the last 4 bytes: bytes returned", returned, 4);
    expect("erased chip's last byte", out[3], 0xFF);
    return failures ? 1 : 0;
}

/* A refused port request: ERROR_ACCESS_DENIED, and a read's output buffer as it was. */
static void expect_denied(HANDLE device, int write, unsigned short port) {
    unsigned char in[3] = {(unsigned char)port, (unsigned char)(port >> 8), 0x00}, out[2];
    char what[64];
    DWORD returned, error;
    memset(out, 0xEE, sizeof out);
    if (write)
        error = request(device, HWI_IOCTL_WRITE_PORT, in, 3, NULL, 0, &returned);
    else
        error = request(device, HWI_IOCTL_READ_PORT, in, 2, out, sizeof out, &returned);
    sprintf(what, "%s %#x: error", write ? "write" : "read", port);
    expect(what, error, ERROR_ACCESS_DENIED);
    if (!write) {
        sprintf(what, "read %#x: output buffer", port);
        expect(what, (unsigned long)out[0] << 8 | out[1], 0xEEEE);
    }
}

/* The driver serves the parallel port's registers and nothing else. */
static int check_ports(HANDLE device) {
    expect_denied(device, 0, 0x70);  /* CMOS index and NMI mask */
    expect_denied(device, 1, 0xCF9); /* reset control */
    expect_denied(device, 1, 0x379); /* the status register is read-only */
    expect_denied(device, 0, 0x37B);
    expect_denied(device, 0, 0x77B);
    outb(device, 0x37A, 0x24);
    expect("read 0x37A after writing 0x24", inb(device, 0x37A), 0x24);
    outb(device, 0x37A, 0x00);
    expect("read 0x37A after writing 0x00", inb(device, 0x37A), 0x00);
    expect("read 0x77A (ECR at power-up)", inb(device, 0x77A), 0x15);
    return failures ? 1 : 0;
}

/* Mode 0 over the adapter: data register bit 0 always high, 1 MOSI, 2 chip select (low
 * active), 3 clock; status register bit 6 MISO. */
static unsigned transfer(HANDLE device, unsigned value, int bits) {
    unsigned got = 0;
    int i;
    for (i = bits - 1; i >= 0; i--) {
        unsigned char mosi = (unsigned char)(((value >> i) & 1) << 1);
        outb(device, 0x378, (unsigned char)(0x01 | mosi));
        got = (got << 1) | ((inb(device, 0x379) >> 6) & 1);
        outb(device, 0x378, (unsigned char)(0x09 | mosi));
    }
    outb(device, 0x378, 0x01);
    return got;
}

static int read_id(HANDLE device) {
    unsigned id;
    outb(device, 0x378, 0x05);
    outb(device, 0x378, 0x01);
    transfer(device, 0x9F, 8);
    id = transfer(device, 0, 24);
    outb(device, 0x378, 0x05);
    printf("%06x\n", id);
    expect("manufacturer, type, capacity", id, 0x202014);
    return failures ? 1 : 0;
}

/* The chip requests' 4-byte little-endian offset or size. */
static void put_le32(unsigned char* out, unsigned long value) {
    out[0] = (unsigned char)value;
    out[1] = (unsigned char)(value >> 8);
    out[2] = (unsigned char)(value >> 16);
    out[3] = (unsigned char)(value >> 24);
}

/* One frame request on `base`: `sent` bytes of `send` out, `receive` bytes asked for. The output
 * buffer is filled with 0xEE first and one byte longer than asked, to see what the driver wrote. */
static unsigned char frame_in[HWI_FRAME_HEADER + HWI_FRAME_MAX + 1];
static unsigned char frame_out[HWI_FRAME_MAX + 2];

static DWORD frame(HANDLE device, unsigned short base, const unsigned char* send, DWORD sent,
                   DWORD receive, DWORD* returned) {
    frame_in[0] = (unsigned char)base;
    frame_in[1] = (unsigned char)(base >> 8);
    frame_in[2] = (unsigned char)receive;
    frame_in[3] = (unsigned char)(receive >> 8);
    memcpy(frame_in + HWI_FRAME_HEADER, send, sent);
    memset(frame_out, 0xEE, sizeof frame_out);
    return request(device, HWI_IOCTL_SPI_FRAME, frame_in, HWI_FRAME_HEADER + sent, frame_out,
                   receive + 1, returned);
}

/* A refused frame: `error` and the output buffer untouched. (A failed request leaves the count of
 * bytes returned as it was, under Wine at least: the buffer is what tells.) */
static void expect_refused_frame(HANDLE device, unsigned short base, DWORD receive, DWORD error) {
    static const unsigned char read_id[1] = {0x9F};
    char what[64];
    DWORD returned, got = frame(device, base, read_id, 1, receive, &returned);
    sprintf(what, "frame on %#x receiving %lu: error", base, receive);
    expect(what, got, error);
    sprintf(what, "frame on %#x receiving %lu: output buffer", base, receive);
    expect(what, (unsigned long)frame_out[0] << 8 | frame_out[1], 0xEEEE);
}

/* The frame request against the simulated chip: read identification in one request; refusals
 * of a port that is not a parallel port's data register with its status register beside it, and
 * of a frame beyond the bound; and the largest frame, a 4 KiB read of what the chip holds. */
static int check_frames(HANDLE device) {
    static const unsigned char read_id[1] = {0x9F}, read_4k[4] = {0x03, 0x00, 0x10, 0x00};
    static unsigned char pattern[HWI_WRITE_CHIP_IN + HWI_FRAME_MAX];
    DWORD returned, error, i;

    error = frame(device, 0x378, read_id, sizeof read_id, 3, &returned);
    expect("read identification frame: error", error, 0);
    expect("read identification frame: bytes returned", returned, 3);
    expect("read identification frame: bytes",
           (unsigned long)frame_out[0] << 16 | frame_out[1] << 8 | frame_out[2], 0x202014);
    expect("read identification frame: byte after them", frame_out[3], 0xEE);
    expect("data register after a frame (released)", inb(device, 0x378), 0x05);

    expect_refused_frame(device, 0x70, 3, ERROR_ACCESS_DENIED);
    /* 0x37A is the control register, writable, but 0x37B beside it is no status register. */
    expect_refused_frame(device, 0x37A, 3, ERROR_ACCESS_DENIED);
    expect("control register after the refused frame", inb(device, 0x37A), 0x00);
    expect_refused_frame(device, 0x378, HWI_FRAME_MAX + 1, ERROR_INVALID_PARAMETER);
    error = frame(device, 0x378, pattern, HWI_FRAME_MAX + 1, 0, &returned);
    expect("frame sending 4097 bytes: error", error, ERROR_INVALID_PARAMETER);

    /* The largest frame: 4096 bytes from 0x1000, stored there first through the test request. */
    put_le32(pattern, 0x1000);
    for (i = 0; i < HWI_FRAME_MAX; i++)
        pattern[HWI_WRITE_CHIP_IN + i] = (unsigned char)(i * 7 + (i >> 8));
    error = request(device, HWI_IOCTL_WRITE_CHIP, pattern, sizeof pattern, NULL, 0, &returned);
    expect("chip write of 4096 bytes at 0x1000: error", error, 0);
    error = frame(device, 0x378, read_4k, sizeof read_4k, HWI_FRAME_MAX, &returned);
    expect("frame receiving 4096 bytes: error", error, 0);
    expect("frame receiving 4096 bytes: bytes returned", returned, HWI_FRAME_MAX);
    expect("frame receiving 4096 bytes: the chip's bytes",
           memcmp(frame_out, pattern + HWI_WRITE_CHIP_IN, HWI_FRAME_MAX) == 0, 1);
    expect("frame receiving 4096 bytes: byte after them", frame_out[HWI_FRAME_MAX], 0xEE);
    return failures ? 1 : 0;
}

static int load(HANDLE device, const char* name) {
    static unsigned char buffer[4 + CHUNK];
    unsigned long offset = 0;
    DWORD returned, error;
    size_t got;
    FILE* file = fopen(name, "rb");
    if (file == NULL)
        return fail("cannot open the file to load");
    while ((got = fread(buffer + 4, 1, CHUNK, file)) > 0) {
        put_le32(buffer, offset);
        error = request(device, HWI_IOCTL_WRITE_CHIP, buffer, (DWORD)(4 + got), NULL, 0, &returned);
        if (error != 0) {
            SetLastError(error);
            fclose(file);
            return fail("the driver refused to store the bytes");
        }
        offset += (unsigned long)got;
    }
    fclose(file);
    return 0;
}

static int dump(HANDLE device, const char* name) {
    static unsigned char buffer[CHUNK];
    unsigned long offset = 0;
    unsigned char in[4];
    DWORD returned, error;
    FILE* file = fopen(name, "wb");
    if (file == NULL)
        return fail("cannot create the dump file");
    for (;;) {
        put_le32(in, offset);
        error = request(device, HWI_IOCTL_READ_CHIP, in, 4, buffer, CHUNK, &returned);
        if (error == ERROR_INVALID_PARAMETER && offset > 0)
            break; /* past the end of the chip */
        if (error != 0 || returned == 0 || returned > CHUNK) {
            SetLastError(error);
            fclose(file);
            return fail("the driver refused to read the chip");
        }
        if (fwrite(buffer, 1, returned, file) != returned) {
            fclose(file);
            return fail("cannot write the dump file");
        }
        offset += returned;
    }
    if (fclose(file) != 0)
        return fail("cannot write the dump file");
    return 0;
}

static int set_size(HANDLE device, const char* text) {
    unsigned char in[4];
    DWORD returned, error;
    put_le32(in, strtoul(text, NULL, 0));
    error = request(device, HWI_IOCTL_SET_CHIP_SIZE, in, 4, NULL, 0, &returned);
    if (error != 0) {
        SetLastError(error);
        return fail("the driver refused the chip size");
    }
    return 0;
}

/* A number given on the command line, decimal or 0x-prefixed hex, up to `max`; -1 otherwise. */
static long number(const char* text, unsigned long max) {
    char* end;
    unsigned long value = strtoul(text, &end, 0);
    if (text[0] == '\0' || text[0] == '-' || *end != '\0' || value > max)
        return -1;
    return (long)value;
}

static int refused(DWORD error, const char* what) {
    SetLastError(error);
    return fail(what);
}

static int read_port(HANDLE device, unsigned short port) {
    unsigned char in[2] = {(unsigned char)port, (unsigned char)(port >> 8)}, out = 0;
    char what[64];
    DWORD returned, error = request(device, HWI_IOCTL_READ_PORT, in, 2, &out, 1, &returned);
    sprintf(what, "the driver refused to read port %#x", port);
    if (error != 0)
        return refused(error, what);
    printf("%02x\n", out);
    return 0;
}

static int write_port(HANDLE device, unsigned short port, unsigned char value) {
    unsigned char in[3] = {(unsigned char)port, (unsigned char)(port >> 8), value};
    char what[64];
    DWORD returned, error = request(device, HWI_IOCTL_WRITE_PORT, in, 3, NULL, 0, &returned);
    sprintf(what, "the driver refused to write port %#x", port);
    return error != 0 ? refused(error, what) : 0;
}

static int place(HANDLE device, unsigned short base, unsigned short ecp) {
    unsigned char in[4] = {(unsigned char)base, (unsigned char)(base >> 8), (unsigned char)ecp,
                           (unsigned char)(ecp >> 8)};
    char what[80];
    DWORD returned, error = request(device, HWI_IOCTL_PLACE_PORT, in, 4, NULL, 0, &returned);
    sprintf(what, "the driver refused to place the port at %#x, ECP %#x", base, ecp);
    return error != 0 ? refused(error, what) : 0;
}

/* Prints base, ECP block and flags as the driver answers them, e.g. "d010 d000 3". */
static int locate(HANDLE device, unsigned char n) {
    unsigned char out[HWI_LOCATE_OUT + 1];
    char what[64];
    DWORD returned, error;
    memset(out, 0xEE, sizeof out);
    error = request(device, HWI_IOCTL_LOCATE_PORT, &n, 1, out, sizeof out, &returned);
    sprintf(what, "the driver cannot locate LPT%u", n);
    if (error != 0)
        return refused(error, what);
    if (returned != HWI_LOCATE_OUT || out[HWI_LOCATE_OUT] != 0xEE) {
        fprintf(stderr, "hwi-check: the driver answered %lu bytes for LPT%u, expected %u\n",
                returned, n, HWI_LOCATE_OUT);
        return 1;
    }
    printf("%04x %04x %x\n", out[0] | out[1] << 8, out[2] | out[3] << 8, out[4]);
    return 0;
}

static int usage(void) {
    fprintf(stderr,
            "usage: hwi-check create PATH [SERVICE] | start | stop | delete | query "
            "[SERVICE] | requests | frames | ports | read-id | load FILE | dump FILE | size BYTES "
            "| lpt1 | read PORT | write PORT VALUE | place BASE ECP | locate N\n");
    return 2;
}

int main(int argc, char* argv[]) {
    const char* verb = argc > 1 ? argv[1] : "";
    long a = argc > 2 ? number(argv[2], 0xFFFF) : -1, b = argc > 3 ? number(argv[3], 0xFFFF) : -1;
    HANDLE device;
    int rc;
    if (strcmp(verb, "create") == 0 && (argc == 3 || argc == 4)) {
        if (argc == 4)
            service_name = argv[3];
        return service_create(argv[2]);
    }
    if ((strcmp(verb, "start") == 0 || strcmp(verb, "stop") == 0 || strcmp(verb, "delete") == 0 ||
         strcmp(verb, "query") == 0) &&
        argc <= 3) {
        if (argc == 3)
            service_name = argv[2];
        return strcmp(verb, "query") == 0 ? service_query() : service_control(verb);
    }
    if (strcmp(verb, "lpt1") == 0) {
        device = CreateFileA("LPT1", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (device == INVALID_HANDLE_VALUE)
            return fail("cannot open LPT1");
        CloseHandle(device);
        return 0;
    }
    if (!((argc == 2 && (strcmp(verb, "requests") == 0 || strcmp(verb, "frames") == 0 ||
                         strcmp(verb, "ports") == 0 || strcmp(verb, "read-id") == 0)) ||
          (argc == 3 &&
           (strcmp(verb, "load") == 0 || strcmp(verb, "dump") == 0 || strcmp(verb, "size") == 0)) ||
          (argc == 3 && strcmp(verb, "read") == 0 && a >= 0) ||
          (argc == 3 && strcmp(verb, "locate") == 0 && a >= 0 && a <= 0xFF) ||
          (argc == 4 && strcmp(verb, "write") == 0 && a >= 0 && b >= 0 && b <= 0xFF) ||
          (argc == 4 && strcmp(verb, "place") == 0 && a >= 0 && b >= 0)))
        return usage();
    device = open_device();
    if (device == INVALID_HANDLE_VALUE)
        return fail("cannot open \\\\.\\hwinterface");
    if (strcmp(verb, "requests") == 0)
        rc = check_requests(device);
    else if (strcmp(verb, "frames") == 0)
        rc = check_frames(device);
    else if (strcmp(verb, "ports") == 0)
        rc = check_ports(device);
    else if (strcmp(verb, "read-id") == 0)
        rc = read_id(device);
    else if (strcmp(verb, "load") == 0)
        rc = load(device, argv[2]);
    else if (strcmp(verb, "size") == 0)
        rc = set_size(device, argv[2]);
    else if (strcmp(verb, "dump") == 0)
        rc = dump(device, argv[2]);
    else if (strcmp(verb, "read") == 0)
        rc = read_port(device, (unsigned short)a);
    else if (strcmp(verb, "write") == 0)
        rc = write_port(device, (unsigned short)a, (unsigned char)b);
    else if (strcmp(verb, "place") == 0)
        rc = place(device, (unsigned short)a, (unsigned short)b);
    else
        rc = locate(device, (unsigned char)a);
    CloseHandle(device);
    return rc;
}
